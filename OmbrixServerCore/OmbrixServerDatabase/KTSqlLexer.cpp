#include "KTSqlLexer.h"

#include <QCoreApplication>

namespace {

QString tr(const char* text)
{
    // The texts were first written for the clause check; they keep its context.
    return QCoreApplication::translate("KTSqlClauseCheck", text);
}

bool isIdentifierChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$');
}

bool isQuote(QChar c)
{
    return c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('`');
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

KTSqlLexer::Token::Kind quotedKind(QChar quote)
{
    if (quote == QLatin1Char('`'))
        return KTSqlLexer::Token::QuotedName;
    return quote == QLatin1Char('"') ? KTSqlLexer::Token::DoubleQuoted : KTSqlLexer::Token::String;
}

// Why the character at i opens something a fragment may not hold; empty when it does not.
QString forbiddenAt(const QString& text, qsizetype i)
{
    const QChar c = text.at(i);
    const QChar next = i + 1 < text.size() ? text.at(i + 1) : QChar();
    if (c == QLatin1Char(';'))
        return tr("contiene un separador de sentencias (;)");
    if (c == QLatin1Char('#') || (c == QLatin1Char('-') && next == QLatin1Char('-'))
        || (c == QLatin1Char('/') && next == QLatin1Char('*')) || (c == QLatin1Char('*') && next == QLatin1Char('/')))
        return tr("contiene un comentario");
    if (c == QChar(0))
        return tr("contiene un carácter nulo");
    return QString();
}

qsizetype identifierEnd(const QString& text, qsizetype i)
{
    while (i < text.size() && isIdentifierChar(text.at(i)))
        ++i;
    return i;
}

} // namespace

KTSqlLexer::Result KTSqlLexer::lex(const QString& text)
{
    Result result;
    int depth = 0;
    for (qsizetype i = 0; i < text.size();) {
        const QChar c = text.at(i);
        result.problem = forbiddenAt(text, i);
        if (!result.problem.isEmpty())
            return result;
        if (isQuote(c)) {
            const qsizetype end = closingQuote(text, i);
            if (end < 0) {
                result.problem = tr("tiene comillas sin cerrar");
                return result;
            }
            result.tokens << Token{quotedKind(c), text.mid(i + 1, end - i - 2)};
            i = end;
        } else if (c == QLatin1Char('@')) {
            // The name of a quoted variable follows as its own token.
            qsizetype end = i;
            while (end < text.size() && text.at(end) == QLatin1Char('@'))
                ++end;
            end = identifierEnd(text, end);
            result.tokens << Token{Token::Variable, text.mid(i, end - i)};
            i = end;
        } else if (isIdentifierChar(c)) {
            const qsizetype end = identifierEnd(text, i);
            result.tokens << Token{Token::Word, text.mid(i, end - i)};
            i = end;
        } else if (c.isSpace()) {
            ++i;
        } else {
            if (c == QLatin1Char('(') || c == QLatin1Char(')')) {
                depth += c == QLatin1Char('(') ? 1 : -1;
                if (depth < 0) {
                    result.problem = tr("cierra un paréntesis que no abrió");
                    return result;
                }
            }
            const bool assignment = c == QLatin1Char(':') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('=');
            result.tokens << Token{Token::Symbol, assignment ? QStringLiteral(":=") : QString(c)};
            i += assignment ? 2 : 1;
        }
    }
    if (depth != 0)
        result.problem = tr("deja paréntesis sin cerrar");
    return result;
}
