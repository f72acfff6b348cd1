#ifndef KTRUNNINGREQUESTS_H
#define KTRUNNINGREQUESTS_H

#include <QHash>
#include <QList>
#include <QMutex>

// The requests running on the connections' threads right now. A thread is
// blocked inside its statement while it runs one, so only another
// connection can end that statement (KILL QUERY): the connector does so when
// the client has gone, when its user logs in elsewhere, and when the server
// stops. Connection threads write, the main thread reads.
class KTRunningRequests
{
public:
    void begin(int connectionID, quint64 sessionId, qintptr socketDescriptor);
    void end(int connectionID);
    // The session of the connection's running request; 0 when none runs.
    quint64 session(int connectionID) const;
    QList<quint64> sessions() const;
    // The connections whose request runs for a client that has closed its end.
    QList<int> abandoned() const;

private:
    struct Entry {
        quint64 session;
        qintptr socket;
    };

    mutable QMutex _mutex;
    QHash<int, Entry> _running;
};

#endif
