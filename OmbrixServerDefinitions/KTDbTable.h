#ifndef KTDBTABLE_H
#define KTDBTABLE_H

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <deque>

class KTDbTable;

struct _TableField
{
    bool canBeNull = false;
    QString name;
    QString alias;
    QString toolTip;
    QString type;
    QString typeModifier;
    QString defaultValue;
    QString regExp;
    QString format;
};

struct _PrimaryKey
{
    bool autoIncrement = false;
    _TableField* keyField = nullptr;
};

struct _TableIndex
{
    bool isUnique = false;
    QString name;
    _TableField* field = nullptr;
    _TableField* field2 = nullptr;
};

struct _ForeignKey
{
    KTDbTable* foreignTable = nullptr;
    QString foreignTableName;
    QString name;
    QString onDelete;
    QString onUpdate;
    _TableField* field = nullptr;
};

// The fields of a table. Keys, indexes and foreign keys point into it, so
// appending must never move an element: a deque keeps element addresses.
using KTTableFieldList = std::deque<_TableField>;

// One table of the schema as read from its definition file. Members are public:
// the parser and the controller fill them, everyone else reads them.
class KTDbTable : public QObject
{
    Q_OBJECT
public:
    explicit KTDbTable(QObject* parent = nullptr);

    _TableField* dbField(const QString& fieldName);
    QStringList fields() const;
    QStringList fieldAliases() const;
    QStringList toolTips() const;
    // The position in _tableForeignKeys of the key that a resolved select
    // follows for a field: the first whose field has that name, unless the
    // field is a "par" reference. -1 when the field is not resolved. The
    // resolved select adds exactly one label column after such a field.
    int resolvedKeyIndex(const QString& fieldName) const;

    _PrimaryKey _primaryKey;
    QList<_ForeignKey> _tableForeignKeys;
    QList<_TableField*> _inputWhenForeignFields;
    KTTableFieldList _tableFields;
    QList<_TableIndex> _tableIndexes;
    QString _alias;
    QString _description;
    QString _version;
    QString _tableName;
    QString _originalXML;
    QString _browseField;
    QString _labelField;
};

#endif
