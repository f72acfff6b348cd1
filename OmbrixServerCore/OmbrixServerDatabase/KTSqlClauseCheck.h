#ifndef KTSQLCLAUSECHECK_H
#define KTSQLCLAUSECHECK_H

#include "KTSqlLexer.h"

#include <QString>
#include <QStringList>

// A lexical look at the SQL fragments clients send (conditions, column
// lists, values, orderings, table names) before they are put into a
// statement: one fragment must stay one part of one statement of the
// server's own database. Outside string literals, whatever the case or
// quoting, it refuses what reaches beyond that: writing or reading files
// (INTO, LOAD_FILE, LOAD DATA), holding the server (SLEEP, BENCHMARK, the
// lock functions), assignments to user and system variables, and names
// qualified by any database but the server's.
class KTSqlClauseCheck
{
public:
    // How a fragment begins: inside a clause, or as a list of tables
    // (a FROM list, the table of an action, the tables of a lock).
    enum Context { Clause, TableList };

    // Empty when text may stand inside a statement on ownDatabase; otherwise
    // why it may not. An empty ownDatabase admits no qualified table at all.
    static QString problem(const QString& text, const QString& ownDatabase = QString(), Context context = Clause);
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
    using Tokens = QList<KTSqlLexer::Token>;

    static QString forbiddenWord(const Tokens& tokens);
    static QString foreignDatabase(const Tokens& tokens, const QString& ownDatabase, Context context);
};

#endif
