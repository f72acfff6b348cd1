#include "KTAccessPolicy.h"

#include <KTSqlClauseCheck.h>
#include <KTSqlLexer.h>
#include <KTSqlNameScan.h>

#include <QCoreApplication>
#include <QMutex>
#include <QRegularExpression>
#include <QSet>
#include <QXmlStreamReader>

#include <optional>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("KTAccessPolicy", text);
}

const QString limitKey = QStringLiteral("Limit");
// The parameters that name tables, and tables only.
const QStringList tableKeys{QStringLiteral("Table"), QStringLiteral("DetailTables"), QStringLiteral("From")};
const QString objectNameKey = QStringLiteral("_ObjectName");

// The parameters the connection sets; a client that sends one is refused.
const QStringList serverKeys{QStringLiteral("_UserLogin"),  QStringLiteral("_Group"),
                             QStringLiteral("_UserCod"),    QStringLiteral("_UserType"),
                             QStringLiteral("_ObjectType"), QStringLiteral("_ObjectName"),
                             QStringLiteral("_ObjectNameEmbedded"), QStringLiteral("_FirstTransaction")};
const QString recordConditionKey = QStringLiteral("_RecordCondition");
const QString userCodKey = QStringLiteral("_UserCod");

const QStringList rowWritingComponents{QStringLiteral("DbInsertSercom"), QStringLiteral("DbUpdateSercom")};
const QStringList recordChangingComponents{QStringLiteral("DbUpdateSercom"), QStringLiteral("DbDeleteSercom"),
                                           QStringLiteral("DbModifiersSercom")};
// The columns that say which user acted: only the server may fill them in.
const QStringList actingUserColumns{QStringLiteral("codSourceUser")};
// The system columns a normal user's records must keep at 2 (normal users
// may change it, may see it), in the order the modifiers list them.
const QStringList normalUserColumns{QStringLiteral("sysEditable"), QStringLiteral("sysVisible")};
const QString visibleColumn = QStringLiteral("sysVisible");
const QList<int> normalUserModifiers{1, 3};
const QString enabledColumn = QStringLiteral("sysEnabled");

// What a client's number stands for: 00, +0 and " 0" are all 0.
std::optional<qlonglong> integer(const QString& text)
{
    bool ok = false;
    const qlonglong value = text.trimmed().toLongLong(&ok);
    return ok ? std::optional<qlonglong>(value) : std::nullopt;
}

QString unquoted(const QString& value)
{
    const QString text = value.trimmed();
    if (text.size() >= 2 && text.startsWith(QLatin1Char('\'')) && text.endsWith(QLatin1Char('\'')))
        return text.mid(1, text.size() - 2).replace(QStringLiteral("''"), QStringLiteral("'"));
    return text;
}

// The operator learns once per run of each granted component that binds no
// table, rather than from a warning on every refused request.
QString unboundRefusal(const QString& objectName)
{
    static QMutex mutex;
    static QSet<QString> reported;
    const QString refusal = tr("El componente '%1' no tiene tablas asignadas en el servidor").arg(objectName);
    QMutexLocker locker(&mutex);
    if (!reported.contains(objectName)) {
        reported.insert(objectName);
        qWarning("%s: los usuarios normales no alcanzan ninguna tabla desde él (srvComponentTable)",
                 qUtf8Printable(refusal));
    }
    return refusal;
}

bool bound(const KTAccessList::Grant& grant, const QString& table)
{
    return grant.tables.contains(table, Qt::CaseInsensitive);
}

const QStringList readingComponents{QStringLiteral("DbSelectSercom"), QStringLiteral("DbBrowseSercom"),
                                    QStringLiteral("DbSearchSercom"), QStringLiteral("DbMetadataSercom")};

} // namespace

const QStringList KTAccessPolicy::clauseKeys{
    QStringLiteral("Table"),   QStringLiteral("DetailTables"), QStringLiteral("From"),    QStringLiteral("Fields"),
    QStringLiteral("Values"),  QStringLiteral("Where"),        QStringLiteral("OrderBy"), QStringLiteral("GroupBy"),
    QStringLiteral("Limit"),   QStringLiteral("Key")};

QString KTAccessPolicy::actionRefusal(const KTAccessList& access, const QString& component,
                                      const QMultiMap<QString, QString>& params, const QString& database)
{
    QString refusal = reservedRefusal(params);
    if (refusal.isEmpty())
        refusal = clauseRefusal(params, database);
    if (refusal.isEmpty())
        refusal = userRefusal(access);
    if (!refusal.isEmpty() || access.unrestricted())
        return refusal;
    refusal = systemRefusal(clauseTexts(params));
    if (refusal.isEmpty())
        refusal = rightRefusal(access, requiredRight(component, params), params.value(objectNameKey));
    if (refusal.isEmpty())
        refusal = bindingRefusal(access, component, params);
    if (refusal.isEmpty())
        refusal = rowRefusal(access, component, params);
    if (refusal.isEmpty())
        refusal = modifiersRefusal(component, params);
    return refusal;
}

void KTAccessPolicy::addRecordConditions(const KTAccessList& access, const QString& component,
                                         QMultiMap<QString, QString>* params)
{
    if (!access.restricted())
        return;
    // A record the user may not see is not one it may change: an edit's
    // read-back would show it.
    if (recordChangingComponents.contains(component))
        params->insert(recordConditionKey, QStringLiteral("sysEditable = 2 AND sysVisible = 2"));
    if (component != QLatin1String("DbSelectSercom"))
        return;
    QStringList conditions;
    for (const FromTable& from : fromTables(params->value(QStringLiteral("From"))))
        conditions << QStringLiteral("`%1`.sysVisible = 2").arg(QString(from.qualifier).replace(
                                                                  QLatin1Char('`'), QStringLiteral("``")));
    if (!conditions.isEmpty())
        params->insert(recordConditionKey, conditions.join(QStringLiteral(" AND ")));
}

QString KTAccessPolicy::lockRefusal(const KTAccessList& access, const QStringList& tables, const QStringList& aliases,
                                    const QStringList& modes, const QStringList& objectNames,
                                    const QString& database)
{
    for (const QString& name : tables + aliases) {
        const auto context = tables.contains(name) ? KTSqlClauseCheck::TableList : KTSqlClauseCheck::Clause;
        const QString problem = KTSqlClauseCheck::problem(name, database, context);
        if (!problem.isEmpty())
            return tr("El bloqueo de la tabla '%1' %2").arg(name, problem);
    }
    for (const QString& mode : modes)
        if (!KTSqlClauseCheck::isLockMode(mode))
            return tr("El modo de bloqueo '%1' no es válido").arg(mode);
    QString refusal = userRefusal(access);
    if (!refusal.isEmpty() || access.unrestricted())
        return refusal;
    refusal = systemRefusal(tables + aliases);
    // A lock is taken to write: every action under it needs the right to,
    // on tables bound to its component.
    for (const QString& objectName : objectNames) {
        if (refusal.isEmpty())
            refusal = rightRefusal(access, Write, objectName);
        for (const QString& table : tables)
            if (refusal.isEmpty())
                refusal = tableRefusal(access, objectName, table.trimmed());
    }
    return refusal;
}

bool KTAccessPolicy::mayReceive(const KTAccessList& access, const QString& objectName)
{
    return access.unrestricted() || (access.restricted() && access.grant(objectName).read);
}

// A row's values are counted from its end: the system columns close every
// row, and a text value before them may hold the separator.
bool KTAccessPolicy::rowsShownToRestricted(const QString& reply)
{
    QXmlStreamReader xml(reply);
    qsizetype fromEnd = -1;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("Fields")) {
            const QStringList fields = xml.readElementText().split(QLatin1Char(','));
            const qsizetype column = fields.indexOf(visibleColumn);
            fromEnd = column < 0 ? -1 : fields.size() - column;
        } else if (xml.name() == QLatin1String("Row")) {
            const QStringList values = xml.readElementText().split(QLatin1Char('|'));
            if (fromEnd < 0 || values.value(values.size() - fromEnd) != QLatin1String("2"))
                return false;
        }
    }
    return !xml.hasError();
}

QString KTAccessPolicy::clauseRefusal(const QMultiMap<QString, QString>& params, const QString& database)
{
    for (const QString& key : clauseKeys)
        for (const QString& text : params.values(key)) {
            const auto context = tableKeys.contains(key) ? KTSqlClauseCheck::TableList : KTSqlClauseCheck::Clause;
            const QString problem = KTSqlClauseCheck::problem(text, database, context);
            if (!problem.isEmpty())
                return tr("El parámetro '%1' %2").arg(key, problem);
        }
    for (const QString& limit : params.values(limitKey))
        if (!KTSqlClauseCheck::isLimit(limit))
            return tr("El parámetro 'Limit' debe ser un número de registros: '%1'").arg(limit);
    return QString();
}

QString KTAccessPolicy::userRefusal(const KTAccessList& access)
{
    if (!access.authenticated())
        return tr("La conexión no fue autenticada");
    if (!access.unrestricted() && !access.restricted())
        return tr("Los usuarios de tipo %1 no pueden realizar acciones en el servidor").arg(access.userType());
    return QString();
}

QString KTAccessPolicy::systemRefusal(const QStringList& texts)
{
    QStringList names;
    for (const QString& text : texts)
        for (const QString& name : KTSqlClauseCheck::systemNames(text))
            if (!names.contains(name))
                names << name;
    return names.isEmpty() ? QString()
                           : tr("El usuario no tiene acceso a las tablas del sistema (%1)").arg(names.join(", "));
}

QString KTAccessPolicy::rightRefusal(const KTAccessList& access, Right right, const QString& objectName)
{
    const KTAccessList::Grant grant = access.grant(objectName);
    switch (right) {
    case Read:
        return grant.read ? QString()
                          : tr("El usuario no tiene permiso de lectura sobre el componente '%1'").arg(objectName);
    case Write:
        return grant.write ? QString()
                           : tr("El usuario no tiene permiso de escritura sobre el componente '%1'").arg(objectName);
    case Disable:
        return grant.disable
            ? QString()
            : tr("El usuario no tiene permiso para deshabilitar registros del componente '%1'").arg(objectName);
    }
    return QString();
}

// Components of other kinds may change anything: they need the right to write.
KTAccessPolicy::Right KTAccessPolicy::requiredRight(const QString& component, const QMultiMap<QString, QString>& params)
{
    if (readingComponents.contains(component))
        return Read;
    if (component == QLatin1String("DbModifiersSercom")
        && integer(params.value(QStringLiteral("Modifiers")).section(QLatin1Char(','), 0, 0)) == 0)
        return Disable;
    return Write;
}

QStringList KTAccessPolicy::clauseTexts(const QMultiMap<QString, QString>& params)
{
    QStringList texts;
    for (const QString& key : clauseKeys)
        texts << params.values(key);
    return texts;
}

// The parameters that start with '_' are the connection's to set, each once.
QString KTAccessPolicy::reservedRefusal(const QMultiMap<QString, QString>& params)
{
    for (const QString& key : params.uniqueKeys())
        if (key.startsWith(QLatin1Char('_')) && (!serverKeys.contains(key) || params.count(key) > 1))
            return tr("El parámetro '%1' está reservado al servidor").arg(key);
    return QString();
}

QString KTAccessPolicy::tableRefusal(const KTAccessList& access, const QString& objectName, const QString& name)
{
    const KTAccessList::Grant grant = access.grant(objectName);
    if (grant.tables.isEmpty())
        return unboundRefusal(objectName);
    const QString table = access.schema().table(name);
    return !table.isEmpty() && bound(grant, table)
        ? QString() : tr("La tabla '%1' no está asignada al componente '%2'").arg(name, objectName);
}

// Every table a restricted user's request names, wherever and however it
// names it, is one its component works on; so is every column, and every
// table a resolved select joins under an alias the request names.
QString KTAccessPolicy::bindingRefusal(const KTAccessList& access, const QString& component,
                                       const QMultiMap<QString, QString>& params)
{
    const QString objectName = params.value(objectNameKey);
    if (access.grant(objectName).tables.isEmpty())
        return unboundRefusal(objectName);
    QString refusal;
    if (params.contains(QStringLiteral("Table")))
        refusal = tableRefusal(access, objectName, params.value(QStringLiteral("Table")).trimmed());
    for (const QString& tables : params.values(QStringLiteral("DetailTables")))
        for (const QString& table : tables.split(QLatin1Char(','), Qt::SkipEmptyParts))
            if (refusal.isEmpty())
                refusal = tableRefusal(access, objectName, table.trimmed());
    if (refusal.isEmpty() && component == QLatin1String("DbSelectSercom"))
        refusal = fromRefusal(access, objectName, params.value(QStringLiteral("From")));
    for (const QString& text : clauseTexts(params)) {
        if (!refusal.isEmpty())
            break;
        const KTSqlNameScan::Names names = KTSqlNameScan::read(text);
        refusal = aliasRefusal(access, objectName, params.value(QStringLiteral("Table")), names.parts);
        if (refusal.isEmpty())
            refusal = textRefusal(access, objectName, names);
    }
    return refusal;
}

// A sub-select would read records around the conditions the server adds.
QString KTAccessPolicy::textRefusal(const KTAccessList& access, const QString& objectName,
                                    const KTSqlNameScan::Names& names)
{
    const KTAccessList::Grant grant = access.grant(objectName);
    const KTSqlNameScan& schema = access.schema();
    for (const QString& name : names.parts) {
        if (name.compare(QLatin1String("SELECT"), Qt::CaseInsensitive) == 0)
            return tr("El usuario no puede usar subconsultas en el componente '%1'").arg(objectName);
        const QString table = schema.table(name);
        if (!table.isEmpty() && !bound(grant, table))
            return tr("La tabla '%1' no está asignada al componente '%2'").arg(table, objectName);
    }
    // EXTRACT(... FROM column) puts a column where a table would stand.
    for (const QString& name : names.tablePlaces)
        if (schema.table(name).isEmpty() && schema.column(name).isEmpty())
            return tr("La tabla '%1' no está asignada al componente '%2'").arg(name, objectName);
    for (const QString& name : names.parts) {
        const QString column = schema.column(name);
        if (!column.isEmpty()
            && std::none_of(grant.tables.cbegin(), grant.tables.cend(),
                            [&](const QString& table) { return schema.hasColumn(table, column); }))
            return tr("El campo '%1' no pertenece a las tablas del componente '%2'").arg(column, objectName);
    }
    return QString();
}

// T1, T2... are the tables a select that resolves the keys of table joins.
QString KTAccessPolicy::aliasRefusal(const KTAccessList& access, const QString& objectName, const QString& table,
                                     const QStringList& names)
{
    static const QRegularExpression alias(QStringLiteral("^T(\\d+)$"), QRegularExpression::CaseInsensitiveOption);
    for (const QString& name : names) {
        const QRegularExpressionMatch match = alias.match(name);
        const int n = match.hasMatch() ? match.captured(1).toInt() : 0;
        const QString joined = n > 0 ? access.schema().joinedTable(table.trimmed(), n) : QString();
        if (!joined.isEmpty()
            && (KTSqlClauseCheck::isSystemName(joined) || !bound(access.grant(objectName), joined)))
            return tr("El alias '%1' une la tabla '%2', que no está asignada al componente '%3'")
                .arg(name, joined, objectName);
    }
    return QString();
}

// Each part of a restricted user's FROM is a table, with or without an
// alias, so that the server can say which of its records may be read.
QList<KTAccessPolicy::FromTable> KTAccessPolicy::fromTables(const QString& from, bool* plain)
{
    QList<FromTable> tables;
    if (plain)
        *plain = true;
    for (const QString& part : from.split(QLatin1Char(','))) {
        QStringList names = KTSqlClauseCheck::identifiers(part);
        if (names.size() == 3 && names.at(1).compare(QLatin1String("AS"), Qt::CaseInsensitive) == 0)
            names.removeAt(1);
        if (names.isEmpty() || names.size() > 2 || names.first().contains(QLatin1Char('.'))) {
            if (plain)
                *plain = false;
            continue;
        }
        tables.append({names.first(), names.last()});
    }
    return tables;
}

QString KTAccessPolicy::fromRefusal(const KTAccessList& access, const QString& objectName, const QString& from)
{
    bool plain = true;
    const QList<FromTable> tables = fromTables(from, &plain);
    if (!plain)
        return tr("El parámetro 'From' solo puede nombrar tablas, separadas por comas y con un alias opcional");
    for (const FromTable& table : tables) {
        const QString refusal = tableRefusal(access, objectName, table.name);
        if (!refusal.isEmpty())
            return refusal;
    }
    return QString();
}

// The rows an insert or an edit writes: each field one column of the
// table, read-only fields left at their default, the records left for
// normal users, and the acting user the requester.
QString KTAccessPolicy::rowRefusal(const KTAccessList& access, const QString& component,
                                   const QMultiMap<QString, QString>& params)
{
    if (!rowWritingComponents.contains(component))
        return QString();
    const QString objectName = params.value(objectNameKey);
    const QString table = access.schema().table(params.value(QStringLiteral("Table")).trimmed());
    const QStringList fields = params.value(QStringLiteral("Fields")).split(QLatin1Char(','));
    QStringList columns;
    for (const QString& field : fields) {
        const QStringList names = KTSqlNameScan::names(field);
        if (names.isEmpty() || names.size() > 2 || (names.size() == 2 && access.schema().table(names.first()) != table))
            return tr("El campo '%1' no es un campo de la tabla '%2'").arg(field.trimmed(), table);
        columns << names.last();
    }
    const bool insert = component == QLatin1String("DbInsertSercom");
    for (const QString& row : params.values(QStringLiteral("Values"))) {
        const QStringList values = row.split(QLatin1Char('|'));
        for (int k = 0; k < columns.size() && k < values.size(); ++k) {
            QString refusal = singleValueRefusal(values.at(k));
            if (refusal.isEmpty())
                refusal = keyValueRefusal(columns.at(k), values.at(k), insert);
            if (refusal.isEmpty())
                refusal = valueRefusal(access, objectName, table, columns.at(k), values.at(k), insert,
                                       params.value(userCodKey));
            if (!refusal.isEmpty())
                return refusal;
        }
    }
    return QString();
}

// The components write each value into the statement as it is: a value is
// checked for its column only when it is one value, with its quotes and
// brackets closed within it and no comma outside them that would set
// another column or shift the ones after it.
QString KTAccessPolicy::singleValueRefusal(const QString& value)
{
    const KTSqlLexer::Result lexed = KTSqlLexer::lex(value);
    int depth = 0;
    bool listed = false;
    for (const KTSqlLexer::Token& token : lexed.tokens) {
        if (token.isSymbol("("))
            ++depth;
        else if (token.isSymbol(")"))
            --depth;
        else if (token.isSymbol(",") && depth == 0)
            listed = true;
    }
    if (!lexed.problem.isEmpty() || depth != 0 || listed)
        return tr("El valor '%1' no es un único valor").arg(value.trimmed());
    return QString();
}

// A key picks the one record an edit is for: a condition in its place
// ('1 OR 1 = 1') would pick them all.
QString KTAccessPolicy::keyValueRefusal(const QString& column, const QString& value, bool insert)
{
    if (!column.startsWith(QLatin1String("pky"), Qt::CaseInsensitive))
        return QString();
    if (integer(unquoted(value)) || (insert && value.trimmed().compare(QLatin1String("NULL"), Qt::CaseInsensitive) == 0))
        return QString();
    return tr("El valor '%1' no es una clave de registro").arg(value.trimmed());
}

QString KTAccessPolicy::valueRefusal(const KTAccessList& access, const QString& objectName, const QString& table,
                                     const QString& column, const QString& value, bool insert, const QString& userCod)
{
    const KTAccessList::Grant grant = access.grant(objectName);
    if (grant.readOnlyFields.contains(column, Qt::CaseInsensitive)
        && (!insert || unquoted(value) != access.schema().defaultValue(table, column)))
        return tr("El campo '%1' es de solo lectura para el usuario en el componente '%2'").arg(column, objectName);
    if (normalUserColumns.contains(column, Qt::CaseInsensitive) && integer(value) != 2)
        return tr("El usuario solo puede dejar registros que los usuarios normales ven y editan (%1 = 2)")
            .arg(column);
    if (!insert && column.compare(enabledColumn, Qt::CaseInsensitive) == 0 && integer(value) == 0 && !grant.disable)
        return rightRefusal(access, Disable, objectName);
    if (actingUserColumns.contains(column, Qt::CaseInsensitive) && unquoted(value) != userCod)
        return tr("El campo '%1' debe nombrar al usuario que realiza la acción").arg(column);
    return QString();
}

QString KTAccessPolicy::modifiersRefusal(const QString& component, const QMultiMap<QString, QString>& params)
{
    if (component != QLatin1String("DbModifiersSercom"))
        return QString();
    const QStringList modifiers = params.value(QStringLiteral("Modifiers")).split(QLatin1Char(','));
    for (const QString& modifier : modifiers)
        if (!integer(modifier))
            return tr("El modificador '%1' no es un número entero").arg(modifier);
    for (int position : normalUserModifiers) {
        const std::optional<qlonglong> value = integer(modifiers.value(position));
        if (value != -1 && value != 2)
            return tr("El usuario solo puede dejar registros que los usuarios normales ven y editan (%1 = 2)")
                .arg(normalUserColumns.at(normalUserModifiers.indexOf(position)));
    }
    return QString();
}
