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
// granted on the action's client object and never reaches the system
// tables; any other type runs nothing.
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
    // Whether a reply pushed for a client object may reach the connection.
    static bool mayReceive(const KTAccessList& access, const QString& objectName);

private:
    enum Right { Read, Write, Disable };

    static QString clauseRefusal(const QMultiMap<QString, QString>& params, const QString& database);
    static QString userRefusal(const KTAccessList& access);
    static QString systemRefusal(const QStringList& texts);
    static QString rightRefusal(const KTAccessList& access, Right right, const QString& objectName);
    static Right requiredRight(const QString& component, const QMultiMap<QString, QString>& params);
    static QString readOnlyRefusal(const KTAccessList& access, const QString& component,
                                   const QMultiMap<QString, QString>& params);
};

#endif
