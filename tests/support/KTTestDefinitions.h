#ifndef KTTESTDEFINITIONS_H
#define KTTESTDEFINITIONS_H

#include <QList>
#include <QString>
#include <QStringList>

// Writes small table definition and data files for tests.
class KTTestDefinitions
{
public:
    struct Field {
        QString name;
        QString type;
        QString modifier;
        QString format;
    };
    struct ForeignKey {
        QString field;
        QString table;
    };

    // The text of a definition whose first field is its auto-increment key;
    // alias must be a plain word, it names the foreign keys.
    static QString table(const QString& alias, const QList<Field>& fields, const QList<ForeignKey>& keys = {},
                         const QString& browseField = QString());
    // accGroup as every table's constraints need it: key and name.
    static QString groupTable();

    // A small schema with its data files: groups, product categories and
    // products (with a foreign key), users, their identifiers, companies and
    // the statistics table. Returns the table names.
    static QStringList writeSchema(const QString& tablesDir, const QString& dataDir);

    static bool write(const QString& path, const QString& text);
    static bool writeLines(const QString& path, const QStringList& lines);
};

#endif
