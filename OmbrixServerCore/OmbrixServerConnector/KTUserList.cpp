#include "KTUserList.h"

#include <KTDatabaseController.h>

#include <QSqlQuery>

bool KTUserList::refresh(KTDatabaseController* controller)
{
    if (!controller)
        return false;
    QSqlQuery query = controller->selectMulti(
        {QStringLiteral("accUser T1"), QStringLiteral("srvBlob T2")},
        {QStringLiteral("T1.pkyUser"), QStringLiteral("T1.fldLogin"), QStringLiteral("T2.fldSha1")},
        QStringLiteral("T1.blbIcon = T2.pkyBlob AND T1.sysEnabled = 1"), QString(), QStringLiteral("T1.fldLogin"),
        QString());
    if (!query.isActive())
        return false;
    QList<User> users;
    while (query.next())
        users.append({query.value(0).toString(), query.value(1).toString(), query.value(2).toString()});
    QWriteLocker locker(&_lock);
    _users = users;
    return true;
}

QList<KTUserList::User> KTUserList::users() const
{
    QReadLocker locker(&_lock);
    return _users;
}
