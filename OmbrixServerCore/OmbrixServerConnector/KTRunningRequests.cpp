#include "KTRunningRequests.h"

#include <QMutexLocker>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/socket.h>
#endif

KTRunningRequests::KTRunningRequests()
{
    _clock.start();
}

void KTRunningRequests::begin(int connectionID, quint64 sessionId, qintptr socketDescriptor)
{
    QMutexLocker locker(&_mutex);
    _running.insert(connectionID, {sessionId, socketDescriptor, _clock.elapsed(), false});
}

bool KTRunningRequests::cancel(int connectionID)
{
    QMutexLocker locker(&_mutex);
    const auto it = _running.find(connectionID);
    if (it == _running.end() || it->cancelled)
        return false;
    it->cancelled = true;
    return true;
}

QList<quint64> KTRunningRequests::cancelledSessions() const
{
    QMutexLocker locker(&_mutex);
    QList<quint64> sessions;
    for (const Entry& entry : _running)
        if (entry.cancelled)
            sessions << entry.session;
    return sessions;
}

QList<int> KTRunningRequests::overdue(qint64 limitMs) const
{
    QMutexLocker locker(&_mutex);
    QList<int> connections;
    const qint64 now = _clock.elapsed();
    for (auto it = _running.cbegin(); it != _running.cend(); ++it)
        if (!it->cancelled && now - it->startedMs > limitMs)
            connections << it.key();
    return connections;
}

void KTRunningRequests::end(int connectionID)
{
    QMutexLocker locker(&_mutex);
    _running.remove(connectionID);
}

quint64 KTRunningRequests::session(int connectionID) const
{
    QMutexLocker locker(&_mutex);
    const auto it = _running.constFind(connectionID);
    return it == _running.cend() ? 0 : it->session;
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
        if (it->cancelled)
            continue;
        char byte;
        const ssize_t peeked = ::recv(int(it->socket), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (peeked == 0 || (peeked < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            connections << it.key();
    }
#endif
    return connections;
}
