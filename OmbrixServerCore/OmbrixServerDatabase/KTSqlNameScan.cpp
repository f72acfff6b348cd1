#include "KTSqlNameScan.h"

#include "KTSqlClauseCheck.h"

#include <KTDbTable.h>

namespace {

const QStringList tableKeywords{QStringLiteral("FROM"), QStringLiteral("JOIN"), QStringLiteral("INTO"),
                                QStringLiteral("UPDATE"), QStringLiteral("TABLE")};

} // namespace

KTSqlNameScan::KTSqlNameScan(const QMap<QString, KTDbTable*>& definitions)
{
    for (const KTDbTable* definition : definitions) {
        if (!definition)
            continue;
        Table table;
        table.name = definition->_tableName;
        for (const _TableField& field : definition->_tableFields) {
            table.defaults.insert(field.name.toLower(), field.defaultValue);
            _columns.insert(field.name.toLower(), field.name);
        }
        for (const _ForeignKey& key : definition->_tableForeignKeys)
            table.joined << key.foreignTableName;
        _tables.insert(table.name.toLower(), table);
    }
}

KTSqlNameScan::Names KTSqlNameScan::read(const QString& text)
{
    Names names;
    const QStringList identifiers = KTSqlClauseCheck::identifiers(text);
    for (qsizetype i = 0; i < identifiers.size(); ++i) {
        for (const QString& part : identifiers.at(i).split(QLatin1Char('.'), Qt::SkipEmptyParts))
            if (!part.trimmed().isEmpty())
                names.parts << part.trimmed();
        if (i + 1 < identifiers.size() && tableKeywords.contains(identifiers.at(i), Qt::CaseInsensitive))
            names.tablePlaces << identifiers.at(i + 1).section(QLatin1Char('.'), 0, 0).trimmed();
    }
    return names;
}

QStringList KTSqlNameScan::names(const QString& text)
{
    return read(text).parts;
}

QString KTSqlNameScan::column(const QString& name) const
{
    return _columns.value(name.toLower());
}

QString KTSqlNameScan::table(const QString& name) const
{
    return _tables.value(name.toLower()).name;
}

bool KTSqlNameScan::hasColumn(const QString& table, const QString& column) const
{
    return _tables.value(table.toLower()).defaults.contains(column.toLower());
}

QString KTSqlNameScan::defaultValue(const QString& table, const QString& column) const
{
    return _tables.value(table.toLower()).defaults.value(column.toLower());
}

QString KTSqlNameScan::joinedTable(const QString& table, int n) const
{
    return _tables.value(table.toLower()).joined.value(n - 1);
}
