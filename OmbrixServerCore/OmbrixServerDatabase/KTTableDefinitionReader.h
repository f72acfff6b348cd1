#ifndef KTTABLEDEFINITIONREADER_H
#define KTTABLEDEFINITIONREADER_H

#include <QDomElement>
#include <QString>
#include <QStringList>

class KTDbTable;
struct _TableField;

// Turns the text of one table definition file into a KTDbTable. Reading goes
// on after a fault so that the whole file is examined, and the last fault
// found is the one reported.
class KTTableDefinitionReader
{
public:
    explicit KTTableDefinitionReader(const QString& tableName);

    // A new table (the caller owns it), or null with errorText() set.
    KTDbTable* read(const QString& tableDefinition);
    QString errorText() const;

private:
    QString tableText(const QDomElement& root, const QString& tag);
    void readFields(const QDomElement& root, KTDbTable* table, const QStringList& inputWhenForeign);
    void readField(const QDomElement& element, _TableField& field);
    void readPrimaryKey(const QDomElement& root, KTDbTable* table);
    void readIndexes(const QDomElement& root, KTDbTable* table);
    void readForeignKeys(const QDomElement& root, KTDbTable* table);

    QDomElement child(const QDomElement& parent, const QString& tag, const QString& parentTag);
    _TableField* knownField(KTDbTable* table, const QDomElement& element, const QString& referringTag);
    void fail(const QString& message);

    QString _tableName;
    QString _error;
    bool _ok = true;
};

#endif
