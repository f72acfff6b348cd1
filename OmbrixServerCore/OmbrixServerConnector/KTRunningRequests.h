#ifndef KTRUNNINGREQUESTS_H
#define KTRUNNINGREQUESTS_H

#include <QElapsedTimer>
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
    KTRunningRequests();

    void begin(int connectionID, quint64 sessionId, qintptr socketDescriptor);
    void end(int connectionID);
    // The session of the connection's running request; 0 when none runs.
    quint64 session(int connectionID) const;
    QList<quint64> sessions() const;
    // The connections whose request runs for a client that has closed its end.
    QList<int> abandoned() const;
    // The connections whose request has run longer than limitMs.
    QList<int> overdue(qint64 limitMs) const;
    // Marks a request as ended from outside: it is not reported again as
    // abandoned or overdue; its statement is ended again each time the
    // connector looks, in case the first end fell between two statements.
    // False when it was marked already.
    bool cancel(int connectionID);
    QList<quint64> cancelledSessions() const;

private:
    struct Entry {
        quint64 session;
        qintptr socket;
        qint64 startedMs;
        bool cancelled;
    };

    QElapsedTimer _clock;
    mutable QMutex _mutex;
    QHash<int, Entry> _running;
};

#endif
