#include "KTRunningRequests.h"

#include <QMutexLocker>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/socket.h>
#endif

void KTRunningRequests::begin(int connectionID, quint64 sessionId, qintptr socketDescriptor)
{
    QMutexLocker locker(&_mutex);
    _running.insert(connectionID, {sessionId, socketDescriptor});
}

void KTRunningRequests::end(int connectionID)
{
    QMutexLocker locker(&_mutex);
    _running.remove(connectionID);
}

quint64 KTRunningRequests::session(int connectionID) const
{
    QMutexLocker locker(&_mutex);
    return _running.value(connectionID, {0, -1}).session;
}

QList<quint64> KTRunningRequests::sessions() const
{
    QMutexLocker locker(&_mutex);
    QList<quint64> sessions;
    for (const Entry& entry : _running)
        sessions << entry.session;
    return sessions;
}

// The kernel knows of a closed connection before the blocked thread does: a
// peek that reads the end of the stream, or an error. The lock keeps the
// descriptor from being closed (and reused) while it is peeked: a
// connection ends its request before it closes its socket.
QList<int> KTRunningRequests::abandoned() const
{
    QList<int> connections;
#ifdef Q_OS_UNIX
    QMutexLocker locker(&_mutex);
    for (auto it = _running.cbegin(); it != _running.cend(); ++it) {
        char byte;
        const ssize_t peeked = ::recv(int(it->socket), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (peeked == 0 || (peeked < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            connections << it.key();
    }
#endif
    return connections;
}
