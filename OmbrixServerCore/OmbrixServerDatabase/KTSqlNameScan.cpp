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

QStringList KTSqlNameScan::names(const QString& text)
{
    QStringList result;
    for (const QString& identifier : KTSqlClauseCheck::identifiers(text))
        for (const QString& part : identifier.split(QLatin1Char('.'), Qt::SkipEmptyParts))
            if (!part.trimmed().isEmpty())
                result << part.trimmed();
    return result;
}

QStringList KTSqlNameScan::tablePlaces(const QString& text)
{
    const QStringList identifiers = KTSqlClauseCheck::identifiers(text);
    QStringList result;
    for (qsizetype i = 0; i + 1 < identifiers.size(); ++i)
        if (tableKeywords.contains(identifiers.at(i), Qt::CaseInsensitive))
            result << identifiers.at(i + 1).section(QLatin1Char('.'), 0, 0).trimmed();
    return result;
}

QString KTSqlNameScan::table(const QString& name) const
{
    return _tables.value(name.toLower()).name;
}

QStringList KTSqlNameScan::tables(const QString& text) const
{
    QStringList result;
    for (const QString& name : names(text)) {
        const QString known = table(name);
        if (!known.isEmpty() && !result.contains(known))
            result << known;
    }
    return result;
}

QStringList KTSqlNameScan::columns(const QString& text) const
{
    QStringList result;
    for (const QString& name : names(text)) {
        const QString known = _columns.value(name.toLower());
        if (!known.isEmpty() && !result.contains(known))
            result << known;
    }
    return result;
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
