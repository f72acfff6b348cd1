#ifndef KTSQLLEXER_H
#define KTSQLLEXER_H

#include <QList>
#include <QString>

// Splits an SQL fragment from a client into tokens the way MariaDB reads it
// by default (backslash escapes, doubled quotes), and says why a fragment
// cannot stand as one part of one statement: an unclosed quote, a comment,
// a statement separator, a NUL, or unbalanced brackets. Whitespace leaves no
// token, so spacing never changes what a check on the tokens sees.
class KTSqlLexer
{
public:
    struct Token {
        enum Kind {
            Word,         // a run of letters, digits, '_' and '$': a name, keyword or number
            QuotedName,   // `name`, without its quotes
            DoubleQuoted, // "text": a string, or a name under ANSI_QUOTES; without its quotes
            String,       // 'text', without its quotes
            Variable,     // @name, @@name (the '@' signs and the name as written)
            Symbol        // one character of punctuation or operator, or ":="
        };
        Kind kind;
        QString text;

        // Whether the token may name something (a table, column, function, database).
        bool isName() const { return kind == Word || kind == QuotedName || kind == DoubleQuoted; }
        bool isSymbol(const char* symbol) const { return kind == Symbol && text == QLatin1String(symbol); }
        // A keyword or a name, in any case.
        bool is(const char* word) const { return isName() && text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0; }
    };

    struct Result {
        QList<Token> tokens;
        QString problem; // empty when the fragment lexed cleanly; the tokens stop at the problem
    };

    static Result lex(const QString& text);
};

#endif
