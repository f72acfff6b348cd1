#include "MySqlDialectMap.h"

#include <KTDbTable.h>

namespace {

// A length, precision or scale: a non-negative number, written back as parsed.
QString number(const QString& text, const QString& fallback)
{
    bool ok = false;
    const uint value = text.toUInt(&ok);
    return ok ? QString::number(value) : fallback;
}

// The parts of a label expression: split at every "+" outside quoted literals.
QStringList labelParts(const QString& expression)
{
    QStringList parts(QString{});
    bool quoted = false;
    for (const QChar c : expression) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (c == QLatin1Char('+') && !quoted)
            parts << QString();
        else
            parts.last() += c;
    }
    return parts;
}

QString joinedLabel(const QString& expression, int alias)
{
    QStringList parts;
    for (const QString& raw : labelParts(expression)) {
        const QString part = raw.simplified();
        if (part.isEmpty())
            continue;
        parts << (part.startsWith(QLatin1Char('\'')) ? part : QStringLiteral("T%1.").arg(alias) + part);
    }
    // A table without a label still yields one column, so that callers find
    // the label right after the key whatever the referenced table holds.
    return parts.isEmpty() ? QStringLiteral("''") : parts.join(QLatin1Char(','));
}

} // namespace

MySqlDialectMap::MySqlDialectMap(QObject* parent)
    : KTDatabaseMap(parent)
{
}

QString MySqlDialectMap::autoIncrement(bool enabled)
{
    return enabled ? QStringLiteral("AUTO_INCREMENT") : QString();
}

QString MySqlDialectMap::canBeNull(bool null)
{
    return null ? QString() : QStringLiteral("NOT NULL");
}

QString MySqlDialectMap::concat(const QStringList& keys)
{
    return QStringLiteral("CONCAT_WS('',%1)").arg(keys.join(QLatin1Char(',')));
}

QString MySqlDialectMap::count()
{
    return QStringLiteral("COUNT(*)");
}

QString MySqlDialectMap::createDatabase(const QString& dbName)
{
    return QStringLiteral("CREATE DATABASE IF NOT EXISTS ") + dbName + QLatin1Char(';');
}

QString MySqlDialectMap::createTable(const KTDbTable* dbTable)
{
    if (!dbTable)
        return QString();
    return QStringLiteral("CREATE TABLE IF NOT EXISTS ") + dbTable->_tableName + QStringLiteral(" (")
        + columnDefinitions(dbTable) + systemColumns() + keysAndConstraints(dbTable) + QStringLiteral(") ")
        + tableCreateOptions() + QStringLiteral(" ;");
}

QString MySqlDialectMap::columnDefinitions(const KTDbTable* dbTable)
{
    QString text;
    bool first = true;
    for (const _TableField& field : dbTable->_tableFields) {
        text += field.name + QLatin1Char(' ') + fieldType(field.type, field.typeModifier) + QLatin1Char(' ');
        // Auto-increment always goes to the first field: definitions list their key first.
        if (first)
            text += autoIncrement(dbTable->_primaryKey.autoIncrement) + QLatin1Char(' ');
        text += canBeNull(field.canBeNull) + QLatin1Char(' ') + defaultValue(field.defaultValue) + QStringLiteral(", ");
        first = false;
    }
    return text;
}

QString MySqlDialectMap::systemColumns()
{
    struct Column { const char* name; const char* type; const char* modifier; const char* defaultValue; };
    static const Column columns[] = {
        {"sysEnabled", "BOOL", "", "1"},           {"sysEditable", "TINYINT", "UNSIGNED", "2"},
        {"sysAuthorized", "BOOL", "", "1"},        {"sysVisible", "TINYINT", "UNSIGNED", "2"},
        {"sysContext", "TINYINT", "UNSIGNED", "0"}, {"sysAuthorizationGroup", "MEDIUMINT", "UNSIGNED", "1"},
    };
    QString text;
    for (const Column& column : columns)
        text += QLatin1String(column.name) + QLatin1Char(' ')
            + fieldType(QLatin1String(column.type), QLatin1String(column.modifier)) + QLatin1Char(' ')
            + canBeNull(false) + QLatin1Char(' ') + defaultValue(QLatin1String(column.defaultValue) + QStringLiteral(", "));
    return text;
}

QString MySqlDialectMap::keysAndConstraints(const KTDbTable* dbTable)
{
    const _TableField* key = dbTable->_primaryKey.keyField;
    QString text = QStringLiteral("PRIMARY KEY (") + (key ? key->name : QString()) + QLatin1Char(')');
    for (const _TableIndex& index : dbTable->_tableIndexes) {
        if (!index.field)
            continue;
        text += QStringLiteral(", ") + this->index(index.isUnique) + QLatin1Char(' ') + index.name + QStringLiteral(" (")
            + index.field->name + (index.field2 ? QLatin1Char(',') + index.field2->name : QString()) + QLatin1Char(')');
    }
    const QString shortName = dbTable->_tableName.mid(3);
    text += QStringLiteral(", ") + index(false) + QStringLiteral(" fks") + shortName + QStringLiteral("Context(sysContext) ");
    text += QStringLiteral(", CONSTRAINT fks") + shortName
        + QStringLiteral("Group  FOREIGN KEY (`sysAuthorizationGroup`) REFERENCES `accGroup` (`pkyGroup`)");
    for (const _ForeignKey& foreignKey : dbTable->_tableForeignKeys) {
        // A reference to a table that was not loaded has nothing to point at.
        const KTDbTable* target = foreignKey.foreignTable;
        if (!target || !foreignKey.field || !target->_primaryKey.keyField)
            continue;
        text += QStringLiteral(", CONSTRAINT ") + foreignKey.name + QStringLiteral(" FOREIGN KEY (")
            + foreignKey.field->name + QStringLiteral(")  REFERENCES ") + target->_tableName + QStringLiteral(" (")
            + target->_primaryKey.keyField->name + QStringLiteral(") ON DELETE ") + foreignKey.onDelete
            + QStringLiteral(" ON UPDATE ") + foreignKey.onUpdate;
    }
    return text;
}

QString MySqlDialectMap::defaultValue(const QString& defValue)
{
    if (defValue.isEmpty())
        return QString();
    if (defValue == QLatin1String("NULL"))
        return QStringLiteral("DEFAULT ") + nullValue();
    return QStringLiteral("DEFAULT ") + defValue;
}

QString MySqlDialectMap::deleteRecords(const QString& tableName, const QString& whereCondition)
{
    return QStringLiteral("DELETE FROM ") + tableName
        + (whereCondition.isEmpty() ? QString() : QStringLiteral(" WHERE ") + whereCondition) + QStringLiteral(" ;");
}

QString MySqlDialectMap::fieldType(const QString& type, const QString& typeModifier)
{
    static const QStringList integers{"BIGINT", "MEDIUMINT", "SMALLINT", "INTEGER", "TINYINT"};
    static const QStringList plain{"BOOL", "DATE", "TIME", "MEDIUMBLOB"};
    if (integers.contains(type))
        return typeModifier == QLatin1String("UNSIGNED") ? type + QStringLiteral(" UNSIGNED") : type;
    if (plain.contains(type))
        return type;
    if (type == QLatin1String("DECIMAL") || type == QLatin1String("UDECIMAL")) {
        const int comma = typeModifier.indexOf(QLatin1Char(','));
        const QString precision = comma < 0 ? typeModifier : typeModifier.left(comma);
        const QString scale = comma < 0 ? QString() : typeModifier.mid(comma + 1);
        return QStringLiteral("DECIMAL(%1,%2)")
            .arg(number(precision, QStringLiteral("1")), number(scale, QStringLiteral("0")));
    }
    if (type == QLatin1String("VARCHAR"))
        return QStringLiteral("VARCHAR(%1)").arg(number(typeModifier, QStringLiteral("1")));
    return QString();
}

QString MySqlDialectMap::in(const QStringList& keys)
{
    return QStringLiteral("IN (%1)").arg(keys.join(QLatin1Char(',')));
}

QString MySqlDialectMap::index(bool unique)
{
    return unique ? QStringLiteral("UNIQUE INDEX") : QStringLiteral("INDEX");
}

QString MySqlDialectMap::insertRecords(const QString& tableName, const QList<QStringList>& values,
                                       const QStringList& fields)
{
    if (values.isEmpty())
        return QString();
    QString text = QStringLiteral("INSERT INTO ") + tableName;
    text += fields.isEmpty() ? QStringLiteral(" VALUES ")
                             : QStringLiteral(" (") + fields.join(QStringLiteral(", ")) + QStringLiteral(") VALUES ");
    QStringList rows;
    for (const QStringList& row : values)
        rows << QLatin1Char('(') + row.join(QStringLiteral(", ")) + QLatin1Char(')');
    return text + rows.join(QStringLiteral(", \n")) + QLatin1Char(';');
}

QString MySqlDialectMap::label()
{
    return QStringLiteral("Mapa Mysql");
}

QString MySqlDialectMap::lastInsertID()
{
    return QStringLiteral("LAST_INSERT_ID()");
}

QString MySqlDialectMap::lock(const QStringList& tables, const QStringList& aliases, const QStringList& modes)
{
    // An empty alias (a client's list keeps empty parts) locks the table by
    // its name: "AS" followed by nothing is no statement at all.
    QStringList clauses;
    for (int i = 0; i < tables.size(); ++i)
        clauses << (i < aliases.size() && !aliases.at(i).isEmpty()
                        ? QStringLiteral(" %1 AS %2 %3").arg(tables.at(i), aliases.at(i), modes.value(i))
                        : QStringLiteral(" %1 %2").arg(tables.at(i), modes.value(i)));
    return QStringLiteral("SET autocommit=0;\nLOCK TABLES ") + clauses.join(QLatin1Char(',')) + QLatin1Char(';');
}

QString MySqlDialectMap::name()
{
    return QStringLiteral("MySqlDialectMap");
}

QString MySqlDialectMap::nullValue()
{
    return QStringLiteral("NULL");
}

QString MySqlDialectMap::optionalClauses(const QString& whereCondition, const QString& groupBy,
                                         const QString& orderBy, const QString& limit)
{
    QString text;
    if (!whereCondition.isEmpty())
        text += QStringLiteral(" WHERE ") + whereCondition;
    if (!groupBy.isEmpty())
        text += QStringLiteral(" GROUP BY ") + groupBy;
    if (!orderBy.isEmpty())
        text += QStringLiteral(" ORDER BY ") + orderBy;
    if (!limit.isEmpty())
        text += QStringLiteral(" LIMIT ") + limit;
    return text;
}

QString MySqlDialectMap::select(const QString& tableName, const QStringList& fields, const QString& whereCondition,
                                const QString& groupBy, const QString& orderBy, const QString& limit)
{
    QString text = QStringLiteral("SELECT ") + fields.join(QStringLiteral(", "));
    if (!tableName.isEmpty())
        text += QStringLiteral(" FROM ") + tableName;
    return text + optionalClauses(whereCondition, groupBy, orderBy, limit) + QLatin1Char(';');
}

QString MySqlDialectMap::selectResolveKeys(const QString& tableName, const QStringList& fields,
                                           const QString& whereCondition, const QString& groupBy,
                                           const QString& orderBy, const QString& limit, bool browseOrLabelField)
{
    const QMap<QString, KTDbTable*> definitions = dbDefinitionMap();
    const KTDbTable* table = definitions.value(tableName);
    QStringList columns;
    QString joins;
    for (const QString& field : fields) {
        columns << QStringLiteral("T0.") + field;
        const int i = table ? table->resolvedKeyIndex(field) : -1;
        if (i < 0)
            continue;
        // A key to a table that was not loaded still gets its (empty) label
        // column: callers find every label right after its key.
        const KTDbTable* target = table->_tableForeignKeys.at(i).foreignTable;
        if (!target || !target->_primaryKey.keyField) {
            columns << concat({QStringLiteral("''")});
            continue;
        }
        const QString alias = QStringLiteral("T%1").arg(i + 1);
        columns << concat({joinedLabel(browseOrLabelField ? target->_labelField : target->_browseField, i + 1)});
        joins += QStringLiteral(" LEFT JOIN %1 %2 ON T0.%3 = %2.%4")
                     .arg(target->_tableName, alias, field, target->_primaryKey.keyField->name);
    }
    QString text = QStringLiteral("SELECT ") + columns.join(QStringLiteral(", ")) + QStringLiteral(" FROM ") + tableName
        + QStringLiteral(" T0") + joins;
    const QString where = whereCondition.isEmpty() ? QString() : QLatin1Char('(') + whereCondition + QLatin1Char(')');
    return text + optionalClauses(where, groupBy, orderBy, limit) + QLatin1Char(';');
}

QString MySqlDialectMap::selectMulti(const QStringList& tableNames, const QStringList& fields,
                                     const QString& whereCondition, const QString& groupBy, const QString& orderBy,
                                     const QString& limit)
{
    return QStringLiteral("SELECT ") + fields.join(QStringLiteral(", ")) + QStringLiteral(" FROM ")
        + tableNames.join(QStringLiteral(", ")) + optionalClauses(whereCondition, groupBy, orderBy, limit)
        + QLatin1Char(';');
}

QString MySqlDialectMap::setEnabledForeignChecks(bool enable)
{
    return enable ? QStringLiteral("SET FOREIGN_KEY_CHECKS = 1;") : QStringLiteral("SET FOREIGN_KEY_CHECKS = 0;");
}

// utf8mb4 rather than MySQL's "utf8", which is the three-byte utf8mb3 and
// refuses characters outside the basic plane (emoji) that clients send.
QString MySqlDialectMap::tableCreateOptions()
{
    return QStringLiteral("ENGINE=InnoDb DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin");
}

QString MySqlDialectMap::unlock()
{
    return QStringLiteral("COMMIT;\nUNLOCK TABLES;\nSET autocommit=1;");
}

QString MySqlDialectMap::updateRecords(const QString& tableName, const QStringList& values, const QStringList& fields,
                                       const QString& whereCondition)
{
    if (values.isEmpty() || fields.isEmpty() || values.size() != fields.size())
        return QString();
    // The first pair is the record's key, which is never written.
    QStringList assignments;
    for (int i = 1; i < fields.size(); ++i)
        assignments << fields.at(i) + QStringLiteral(" = ") + values.at(i);
    QString text = QStringLiteral("UPDATE ") + tableName + QStringLiteral(" SET ") + assignments.join(QStringLiteral(", "));
    return text + (whereCondition.isEmpty() ? QStringLiteral(";") : QStringLiteral(" WHERE ") + whereCondition + QStringLiteral(" ;"));
}

void MySqlDialectMap::postSetup()
{
}
