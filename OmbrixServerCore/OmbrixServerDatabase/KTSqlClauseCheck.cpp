#include "KTSqlClauseCheck.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <optional>

namespace {

using Token = KTSqlLexer::Token;

QString tr(const char* text)
{
    return QCoreApplication::translate("KTSqlClauseCheck", text);
}

// Functions that read the host's files, hold the connection or take locks
// that outlive the statement. A quoted spelling calls them just the same.
const QStringList forbiddenFunctions{
    QStringLiteral("LOAD_FILE"),         QStringLiteral("SLEEP"),           QStringLiteral("BENCHMARK"),
    QStringLiteral("GET_LOCK"),          QStringLiteral("RELEASE_LOCK"),    QStringLiteral("RELEASE_ALL_LOCKS"),
    QStringLiteral("IS_FREE_LOCK"),      QStringLiteral("IS_USED_LOCK"),    QStringLiteral("MASTER_POS_WAIT"),
    QStringLiteral("MASTER_GTID_WAIT"),  QStringLiteral("WAIT_FOR_EXECUTED_GTID_SET")};

// Words after which a table is named, and words that end a list of tables.
const QStringList tableWords{QStringLiteral("FROM"), QStringLiteral("JOIN"), QStringLiteral("STRAIGHT_JOIN"),
                             QStringLiteral("UPDATE"), QStringLiteral("INTO"), QStringLiteral("TABLE"),
                             QStringLiteral("FOR")};
const QStringList listEndWords{QStringLiteral("WHERE"),  QStringLiteral("GROUP"),     QStringLiteral("ORDER"),
                               QStringLiteral("HAVING"), QStringLiteral("LIMIT"),     QStringLiteral("ON"),
                               QStringLiteral("USING"),  QStringLiteral("UNION"),     QStringLiteral("SET"),
                               QStringLiteral("SELECT"), QStringLiteral("WINDOW"),    QStringLiteral("EXCEPT"),
                               QStringLiteral("INTERSECT"), QStringLiteral("RETURNING"), QStringLiteral("VALUES")};
// Functions whose argument is a sequence, that is a table.
const QStringList sequenceFunctions{QStringLiteral("NEXTVAL"), QStringLiteral("LASTVAL"), QStringLiteral("SETVAL")};

bool isWordIn(const Token& token, const QStringList& words)
{
    return token.isName() && words.contains(token.text, Qt::CaseInsensitive);
}

// Where a list of tables stands at one depth of brackets.
struct TableState {
    bool expectTable = false; // the next name is a table
    bool inList = false;      // a comma names another table
};

// The database that qualifies the name at i (db.table, db.table.column or
// db.function(...)), if the name at i is one.
std::optional<QString> qualifier(const QList<Token>& tokens, qsizetype i, bool tablePosition)
{
    auto nameAt = [&](qsizetype at) { return at < tokens.size() && tokens.at(at).isName(); };
    auto dotAt = [&](qsizetype at) { return at < tokens.size() && tokens.at(at).isSymbol("."); };
    if (!nameAt(i) || !dotAt(i + 1) || !nameAt(i + 2))
        return std::nullopt;
    // Inside a dotted name, whose head was looked at already.
    if (i > 1 && tokens.at(i - 1).isSymbol(".") && tokens.at(i - 2).isName())
        return std::nullopt;
    const bool threeParts = dotAt(i + 3) && nameAt(i + 4);
    const bool function = i + 3 < tokens.size() && tokens.at(i + 3).isSymbol("(");
    if (tablePosition || threeParts || function)
        return tokens.at(i).text;
    return std::nullopt;
}

// Components split some parameters into several SQL parts at "|" (values)
// and read ".." as "," (field lists): each can start another table.
bool isListSeparator(const QList<Token>& tokens, qsizetype i)
{
    const Token& token = tokens.at(i);
    const bool doubleDot = token.isSymbol(".") && i + 1 < tokens.size() && tokens.at(i + 1).isSymbol(".");
    return token.isSymbol(",") || token.isSymbol("|") || doubleDot;
}

} // namespace

QString KTSqlClauseCheck::problem(const QString& text, const QString& ownDatabase, Context context)
{
    const KTSqlLexer::Result lexed = KTSqlLexer::lex(text);
    if (!lexed.problem.isEmpty())
        return lexed.problem;
    QString problem = forbiddenWord(lexed.tokens);
    if (problem.isEmpty())
        problem = foreignDatabase(lexed.tokens, ownDatabase, context);
    return problem;
}

QString KTSqlClauseCheck::forbiddenWord(const Tokens& tokens)
{
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        const Token& token = tokens.at(i);
        if (token.isSymbol(":="))
            return tr("asigna un valor con ':=', y las asignaciones no están permitidas");
        if (token.is("SET") && i + 1 < tokens.size()
            && (tokens.at(i + 1).kind == Token::Variable || tokens.at(i + 1).is("GLOBAL")
                || tokens.at(i + 1).is("SESSION")))
            return tr("asigna un valor a la variable '%1', y las asignaciones no están permitidas")
                .arg(tokens.at(i + 1).text);
        if (token.kind == Token::String)
            continue;
        if (token.is("INTO"))
            return tr("usa INTO, que escribiría fuera de la sentencia");
        if (token.is("LOAD") && i + 1 < tokens.size() && (tokens.at(i + 1).is("DATA") || tokens.at(i + 1).is("XML")))
            return tr("usa LOAD %1, que lee archivos del servidor").arg(tokens.at(i + 1).text.toUpper());
        if (isWordIn(token, forbiddenFunctions))
            return tr("usa la función %1, que no está permitida").arg(token.text.toUpper());
    }
    return QString();
}

// A lexical reading of where tables are named: after FROM, JOIN and the
// like, after a comma of a list of tables, inside a bracket opened where a
// table was due, and as a sequence function's argument. Elsewhere a
// two-part name is a column of a table or alias; three parts and a dotted
// function name always begin with a database.
QString KTSqlClauseCheck::foreignDatabase(const Tokens& tokens, const QString& ownDatabase, Context context)
{
    QList<TableState> states{{context == TableList, context == TableList}};
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        const Token& token = tokens.at(i);
        TableState& state = states.last();
        if (const auto database = qualifier(tokens, i, state.expectTable); database && *database != ownDatabase)
            return tr("nombra la base de datos '%1', que no es la del servidor").arg(*database);
        if (token.isSymbol("(")) {
            const bool sequence = i > 0 && isWordIn(tokens.at(i - 1), sequenceFunctions);
            const TableState inner{state.expectTable || sequence, state.expectTable};
            state.expectTable = false;
            states << inner;
        } else if (token.isSymbol(")")) {
            if (states.size() > 1)
                states.removeLast();
        } else if (isListSeparator(tokens, i)) {
            state.expectTable = state.inList;
        } else if (token.kind == Token::Word && tableWords.contains(token.text, Qt::CaseInsensitive)) {
            state = {true, true};
        } else if (token.kind == Token::Word && listEndWords.contains(token.text, Qt::CaseInsensitive)) {
            state = {false, false};
        } else if (token.isName() && !(i + 1 < tokens.size() && tokens.at(i + 1).isSymbol("."))) {
            // The table is named (a qualifier before it was checked above); an alias may follow.
            state.expectTable = false;
        }
    }
    return QString();
}

bool KTSqlClauseCheck::isLimit(const QString& text)
{
    static const QRegularExpression limit(
        QStringLiteral("^\\s*(\\d+\\s*(,\\s*\\d+\\s*|OFFSET\\s+\\d+\\s*)?)?$"), QRegularExpression::CaseInsensitiveOption);
    return limit.match(text).hasMatch();
}

bool KTSqlClauseCheck::isLockMode(const QString& text)
{
    static const QRegularExpression mode(QStringLiteral("^\\s*(READ(\\s+LOCAL)?|(LOW_PRIORITY\\s+)?WRITE)\\s*$"),
                                         QRegularExpression::CaseInsensitiveOption);
    return mode.match(text).hasMatch();
}

QStringList KTSqlClauseCheck::identifiers(const QString& text)
{
    QStringList names;
    for (const Token& token : KTSqlLexer::lex(text).tokens)
        if (token.isName())
            names << token.text;
    return names;
}

QStringList KTSqlClauseCheck::systemNames(const QString& text)
{
    QStringList names;
    for (const QString& identifier : identifiers(text)) {
        // A quoted name may hold a qualified one ("mysql.user").
        for (const QString& part : identifier.split(QLatin1Char('.'))) {
            const QString name = part.trimmed();
            if (isSystemName(name) && !names.contains(name))
                names << name;
        }
    }
    return names;
}

// Case does not matter: a server with case-insensitive table names would
// resolve any spelling.
bool KTSqlClauseCheck::isSystemName(const QString& identifier)
{
    static const QStringList prefixes{QStringLiteral("acc"), QStringLiteral("srv"), QStringLiteral("dba")};
    static const QStringList schemas{QStringLiteral("mysql"), QStringLiteral("information_schema"),
                                     QStringLiteral("performance_schema"), QStringLiteral("sys")};
    for (const QString& prefix : prefixes)
        if (identifier.startsWith(prefix, Qt::CaseInsensitive))
            return true;
    return schemas.contains(identifier, Qt::CaseInsensitive);
}
