#include "KTAccessPolicy.h"

#include <KTSqlClauseCheck.h>

#include <QCoreApplication>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("KTAccessPolicy", text);
}

const QString limitKey = QStringLiteral("Limit");
// The parameters that name tables, and tables only.
const QStringList tableKeys{QStringLiteral("Table"), QStringLiteral("DetailTables"), QStringLiteral("From")};
const QString objectNameKey = QStringLiteral("_ObjectName");

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
    QString refusal = clauseRefusal(params, database);
    if (refusal.isEmpty())
        refusal = userRefusal(access);
    if (!refusal.isEmpty() || access.unrestricted())
        return refusal;
    QStringList texts;
    for (const QString& key : clauseKeys)
        texts << params.values(key);
    refusal = systemRefusal(texts);
    if (refusal.isEmpty())
        refusal = rightRefusal(access, requiredRight(component, params), params.value(objectNameKey));
    if (refusal.isEmpty())
        refusal = readOnlyRefusal(access, component, params);
    return refusal;
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
    // A lock is taken to write: every action under it needs the right to.
    for (const QString& objectName : objectNames)
        if (refusal.isEmpty())
            refusal = rightRefusal(access, Write, objectName);
    return refusal;
}

bool KTAccessPolicy::mayReceive(const KTAccessList& access, const QString& objectName)
{
    return access.unrestricted() || (access.restricted() && access.grant(objectName).read);
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
        && params.value(QStringLiteral("Modifiers")).section(QLatin1Char(','), 0, 0).trimmed() == QLatin1String("0"))
        return Disable;
    return Write;
}

// New records take every field; only an edit is bound by the read-only fields.
QString KTAccessPolicy::readOnlyRefusal(const KTAccessList& access, const QString& component,
                                        const QMultiMap<QString, QString>& params)
{
    if (component != QLatin1String("DbUpdateSercom"))
        return QString();
    const QString objectName = params.value(objectNameKey);
    const QStringList readOnly = access.grant(objectName).readOnlyFields;
    for (const QString& fields : params.values(QStringLiteral("Fields")))
        for (const QString& field : fields.split(QLatin1Char(',')))
            if (readOnly.contains(field.trimmed(), Qt::CaseInsensitive))
                return tr("El campo '%1' es de solo lectura para el usuario en el componente '%2'")
                    .arg(field.trimmed(), objectName);
    return QString();
}
