#ifndef KTSQLNAMESCAN_H
#define KTSQLNAMESCAN_H

#include <QHash>
#include <QMap>
#include <QString>
#include <QStringList>

class KTDbTable;

// The tables and columns of the schema that a client's SQL fragment names,
// whatever its spelling: bare or quoted, qualified, aliased, in any case.
// It knows the schema from the table definitions it was built with and
// reads fragments with the clause check's lexer, so that a name inside a
// string literal names nothing.
class KTSqlNameScan
{
public:
    // What one reading of a fragment gives: every part of every name, and
    // the names that stand where a statement reads from or writes to a
    // table (right after FROM, JOIN, INTO, UPDATE or TABLE).
    struct Names {
        QStringList parts;
        QStringList tablePlaces;
    };

    KTSqlNameScan() = default;
    explicit KTSqlNameScan(const QMap<QString, KTDbTable*>& definitions);

    static Names read(const QString& text);

    // Every part of every name text holds: a.b, `a`.`b` and `a.b` give a and b.
    static QStringList names(const QString& text);

    // The definition's spelling of a table name; empty for no known table.
    QString table(const QString& name) const;
    // The definitions' spelling of a column name of any table; empty for none.
    QString column(const QString& name) const;
    // Whether a column of the name (any case) is one of table's own.
    bool hasColumn(const QString& table, const QString& column) const;
    // The default of a table's column as its definition gives it.
    QString defaultValue(const QString& table, const QString& column) const;
    // The table a select that resolves table's keys joins as alias Tn.
    QString joinedTable(const QString& table, int n) const;

private:
    struct Table {
        QString name;
        QHash<QString, QString> defaults; // by lower-case column name
        QStringList joined;
    };

    QHash<QString, Table> _tables;    // by lower-case name
    QHash<QString, QString> _columns; // lower-case name to its spelling
};

#endif
