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
