#ifndef KTACCESSPOLICY_H
#define KTACCESSPOLICY_H

#include "KTAccessList.h"

#include <QMultiMap>
#include <QString>
#include <QStringList>

// The server's rules on what a connection may run and receive, asked before
// every action and lock and for every pushed reply. Every user's SQL
// fragments must pass the clause check; administrators (types 1 and 2) may
// then run everything; a restricted user (type 3) needs the right its login
// granted on the action's client object, reaches only the tables and
// columns bound to it, never the system tables, and only records normal
// users may see or change (the components add those conditions); any other
// type runs nothing.
class KTAccessPolicy
{
public:
    // The action parameters whose text goes into SQL as the client wrote it.
    static const QStringList clauseKeys;

    // Empty when the action may run on the server's database; otherwise the reason it may not.
    static QString actionRefusal(const KTAccessList& access, const QString& component,
                                 const QMultiMap<QString, QString>& params, const QString& database);
    // Empty when the tables may be locked for actions on the client objects named.
    static QString lockRefusal(const KTAccessList& access, const QStringList& tables, const QStringList& aliases,
                               const QStringList& modes, const QStringList& objectNames, const QString& database);
    // The conditions on records a restricted user's action may touch, for
    // the component to add to its statement: records normal users may
    // change for changes, records they may see for custom selects.
    static void addRecordConditions(const KTAccessList& access, const QString& component,
                                    QMultiMap<QString, QString>* params);
    // Whether a reply pushed for a client object may reach the connection.
    static bool mayReceive(const KTAccessList& access, const QString& objectName);
    // Whether every record a reply carries is one normal users may see: a
    // restricted user gets a pushed reply only then.
    static bool rowsShownToRestricted(const QString& reply);

private:
    enum Right { Read, Write, Disable };
    struct FromTable {
        QString name;
        QString qualifier;
    };

    static QString clauseRefusal(const QMultiMap<QString, QString>& params, const QString& database);
    static QString userRefusal(const KTAccessList& access);
    static QString systemRefusal(const QStringList& texts);
    static QString rightRefusal(const KTAccessList& access, Right right, const QString& objectName);
    static Right requiredRight(const QString& component, const QMultiMap<QString, QString>& params);
    static QStringList clauseTexts(const QMultiMap<QString, QString>& params);
    static QString reservedRefusal(const QMultiMap<QString, QString>& params);
    static QString tableRefusal(const KTAccessList& access, const QString& objectName, const QString& name);
    static QString bindingRefusal(const KTAccessList& access, const QString& component,
                                  const QMultiMap<QString, QString>& params);
    static QString textRefusal(const KTAccessList& access, const QString& objectName,
                               const KTSqlNameScan::Names& names);
    static QString aliasRefusal(const KTAccessList& access, const QString& objectName, const QString& table,
                                const QStringList& names);
    static QList<FromTable> fromTables(const QString& from, bool* plain = nullptr);
    static QString fromRefusal(const KTAccessList& access, const QString& objectName, const QString& from);
    static QString rowRefusal(const KTAccessList& access, const QString& component,
                              const QMultiMap<QString, QString>& params);
    static QString singleValueRefusal(const QString& value);
    static QString keyValueRefusal(const QString& column, const QString& value, bool insert);
    static QString valueRefusal(const KTAccessList& access, const QString& objectName, const QString& table,
                                const QString& column, const QString& value, bool insert, const QString& userCod);
    static QString modifiersRefusal(const QString& component, const QMultiMap<QString, QString>& params);
};

#endif
