#include "KTSqlClauseCheck.h"

#include <QCoreApplication>
#include <QRegularExpression>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("KTSqlClauseCheck", text);
}

bool isIdentifierChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$');
}

// The position after the quote that closes the literal or quoted name
// opening at start; -1 when it is never closed. Backquoted names know no
// backslash escape.
qsizetype closingQuote(const QString& text, qsizetype start)
{
    const QChar quote = text.at(start);
    const bool escapes = quote != QLatin1Char('`');
    for (qsizetype i = start + 1; i < text.size(); ++i) {
        if (escapes && text.at(i) == QLatin1Char('\\')) {
            ++i;
        } else if (text.at(i) == quote) {
            if (i + 1 < text.size() && text.at(i + 1) == quote)
                ++i;
            else
                return i + 1;
        }
    }
    return -1;
}

} // namespace

KTSqlClauseCheck::Scan KTSqlClauseCheck::scan(const QString& text)
{
    Scan result;
    int depth = 0;
    for (qsizetype i = 0; i < text.size();) {
        const QChar c = text.at(i);
        const QChar next = i + 1 < text.size() ? text.at(i + 1) : QChar();
        if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('`')) {
            const qsizetype end = closingQuote(text, i);
            if (end < 0) {
                result.problem = tr("tiene comillas sin cerrar");
                return result;
            }
            // A double-quoted text is a name under ANSI_QUOTES: it counts as one.
            if (c != QLatin1Char('\''))
                result.identifiers << text.mid(i + 1, end - i - 2);
            i = end;
        } else if (c == QLatin1Char(';')) {
            result.problem = tr("contiene un separador de sentencias (;)");
            return result;
        } else if (c == QLatin1Char('#') || (c == QLatin1Char('-') && next == QLatin1Char('-'))
                   || (c == QLatin1Char('/') && next == QLatin1Char('*'))
                   || (c == QLatin1Char('*') && next == QLatin1Char('/'))) {
            result.problem = tr("contiene un comentario");
            return result;
        } else if (c == QChar(0)) {
            result.problem = tr("contiene un carácter nulo");
            return result;
        } else if (c == QLatin1Char('(') || c == QLatin1Char(')')) {
            depth += c == QLatin1Char('(') ? 1 : -1;
            if (depth < 0) {
                result.problem = tr("cierra un paréntesis que no abrió");
                return result;
            }
            ++i;
        } else if (isIdentifierChar(c)) {
            qsizetype end = i;
            while (end < text.size() && isIdentifierChar(text.at(end)))
                ++end;
            result.identifiers << text.mid(i, end - i);
            i = end;
        } else {
            ++i;
        }
    }
    if (depth != 0)
        result.problem = tr("deja paréntesis sin cerrar");
    return result;
}

QString KTSqlClauseCheck::problem(const QString& text)
{
    return scan(text).problem;
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
    return scan(text).identifiers;
}

QStringList KTSqlClauseCheck::systemNames(const QString& text)
{
    QStringList names;
    // A quoted name may hold a qualified one ("mysql.user").
    for (const QString& identifier : scan(text).identifiers)
        for (const QString& part : identifier.split(QLatin1Char('.')))
            if (isSystemName(part.trimmed()) && !names.contains(part.trimmed()))
                names << part.trimmed();
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
