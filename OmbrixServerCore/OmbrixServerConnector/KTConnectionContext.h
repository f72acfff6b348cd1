#ifndef KTCONNECTIONCONTEXT_H
#define KTCONNECTIONCONTEXT_H

#include "KTConnectionLimits.h"

#include <QSslConfiguration>
#include <QString>

class KTEventRelay;
class KTRunningRequests;
class KTServerMetrics;
class KTUserList;

// What a connection takes from the connector when it starts: its limits,
// where the installation is, and the connector's objects it shares with
// the other connections (each guarded by a lock of its own).
struct KTConnectionContext
{
    KTConnectionLimits limits;
    QString applicationDirectory;
    const KTUserList* userList = nullptr;
    KTRunningRequests* runningRequests = nullptr;
    // Where each answered request is counted; the connector's own.
    KTServerMetrics* metrics = nullptr;
    // Where the connection's events go, straight from its thread.
    KTEventRelay* events = nullptr;
    // What a connection accepted on the encrypted port shakes hands with;
    // the certificate in force when it arrived.
    QSslConfiguration tls;
};

#endif
