#include "KTAccessList.h"

#include <QDomDocument>
#include <QRegularExpression>

namespace {

bool flag(const QDomElement& component, const char* name)
{
    return component.firstChildElement(QLatin1String(name)).text().trimmed().toInt() != 0;
}

QStringList fieldList(const QString& text)
{
    static const QRegularExpression separators(QStringLiteral("[\\s,;|']+"));
    return text.split(separators, Qt::SkipEmptyParts);
}

} // namespace

// An object granted twice (grants that differ in their read-only fields)
// has the rights of both, and only the fields both keep read-only stay so.
KTAccessList KTAccessList::fromLogin(int userType, const QString& reply, const QMap<QString, QString>& parents,
                                     const QMap<QString, KTDbTable*>& definitions)
{
    KTAccessList list;
    list._authenticated = true;
    list._userType = userType;
    list._parents = parents;
    list._schema = KTSqlNameScan(definitions);
    QDomDocument document;
    if (!document.setContent(reply))
        return list;
    const QDomElement root = document.documentElement();
    for (QDomElement component = root.firstChildElement(QStringLiteral("Component")); !component.isNull();
         component = component.nextSiblingElement(QStringLiteral("Component"))) {
        const QString name = component.firstChildElement(QStringLiteral("Name")).text();
        Grant grant;
        grant.read = flag(component, "Read");
        grant.write = flag(component, "Write");
        grant.disable = flag(component, "Disable");
        grant.readOnlyFields = fieldList(component.firstChildElement(QStringLiteral("ReadOnlyFields")).text());
        grant.tables = fieldList(component.firstChildElement(QStringLiteral("Tables")).text());
        if (list._grants.contains(name)) {
            Grant& known = list._grants[name];
            for (const QString& table : std::as_const(grant.tables))
                if (!known.tables.contains(table))
                    known.tables << table;
            known.read = known.read || grant.read;
            known.write = known.write || grant.write;
            known.disable = known.disable || grant.disable;
            QStringList both;
            for (const QString& field : std::as_const(known.readOnlyFields))
                if (grant.readOnlyFields.contains(field))
                    both << field;
            known.readOnlyFields = both;
        } else {
            list._grants.insert(name, grant);
        }
    }
    return list;
}

KTAccessList::Grant KTAccessList::grant(const QString& objectName) const
{
    const QString parent = _parents.value(objectName);
    const Grant inherited = parent.isEmpty() || parent == objectName ? Grant() : _grants.value(parent);
    if (!_grants.contains(objectName))
        return inherited;
    Grant own = _grants.value(objectName);
    if (own.tables.isEmpty())
        own.tables = inherited.tables;
    return own;
}
