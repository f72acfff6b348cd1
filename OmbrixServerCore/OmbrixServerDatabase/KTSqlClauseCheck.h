#ifndef KTSQLCLAUSECHECK_H
#define KTSQLCLAUSECHECK_H

#include <QString>
#include <QStringList>

// A lexical look at the SQL fragments clients send (conditions, column
// lists, values, orderings, table names) before they are put into a
// statement: one fragment must stay one part of one statement. It reads
// quotes the way MariaDB does by default (backslash escapes, doubled quotes).
class KTSqlClauseCheck
{
public:
    // Empty when text may stand inside a statement; otherwise why it may not.
    static QString problem(const QString& text);
    // A row limit: empty, a count, "offset, count" or "count OFFSET offset".
    static bool isLimit(const QString& text);
    // A lock mode of LOCK TABLES.
    static bool isLockMode(const QString& text);
    // The user-administration and server tables and the database's own
    // schemas that text names outside its string literals, in order of appearance.
    static QStringList systemNames(const QString& text);
    static bool isSystemName(const QString& identifier);
    // Every name text holds outside its string literals, bare or quoted, in
    // order of appearance; a quoted name keeps its dots.
    static QStringList identifiers(const QString& text);

private:
    struct Scan {
        QString problem;
        QStringList identifiers;
    };
    static Scan scan(const QString& text);
};

#endif
