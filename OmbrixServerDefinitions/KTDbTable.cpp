#include "KTDbTable.h"

KTDbTable::KTDbTable(QObject* parent)
    : QObject(parent)
{
}

_TableField* KTDbTable::dbField(const QString& fieldName)
{
    for (_TableField& field : _tableFields) {
        if (field.name == fieldName)
            return &field;
    }
    return nullptr;
}

QStringList KTDbTable::fields() const
{
    QStringList names;
    for (const _TableField& field : _tableFields)
        names << field.name;
    return names;
}

QStringList KTDbTable::fieldAliases() const
{
    QStringList aliases;
    for (const _TableField& field : _tableFields)
        aliases << field.alias;
    return aliases;
}

QStringList KTDbTable::toolTips() const
{
    QStringList tips;
    for (const _TableField& field : _tableFields)
        tips << field.toolTip;
    return tips;
}

int KTDbTable::resolvedKeyIndex(const QString& fieldName) const
{
    if (fieldName.startsWith(QLatin1String("par")))
        return -1;
    for (int i = 0; i < _tableForeignKeys.size(); ++i) {
        const _TableField* field = _tableForeignKeys.at(i).field;
        if (field && field->name == fieldName)
            return i;
    }
    return -1;
}
