#ifndef KTTESTHTTP_H
#define KTTESTHTTP_H

#include <QByteArray>
#include <QString>
#include <QTcpSocket>
#include <QtTest>

// One HTTP/1.1 exchange on a fresh connection, read while the event loop
// runs, so that a server in the same thread answers too. status is 0 when
// no whole reply came within the time.
struct KTHttpReply
{
    int status = 0;
    QByteArray headers;
    QByteArray body;

    QByteArray header(const QByteArray& name) const
    {
        for (const QByteArray& line : headers.split('\n'))
            if (line.toLower().startsWith(name.toLower() + ':'))
                return line.mid(name.size() + 1).trimmed();
        return QByteArray();
    }
};

inline bool parseHttpReply(const QByteArray& data, KTHttpReply* reply)
{
    const int end = data.indexOf("\r\n\r\n");
    if (end < 0)
        return false;
    reply->headers = data.left(end);
    const QByteArray length = reply->header("Content-Length");
    reply->body = data.mid(end + 4);
    if (!length.isEmpty() && reply->body.size() < length.toInt())
        return false;
    reply->status = data.left(data.indexOf("\r\n")).split(' ').value(1).toInt();
    return true;
}

inline KTHttpReply httpRequest(const QString& host, quint16 port, const QByteArray& path,
                               const QByteArray& method = "GET", int timeoutMs = 20000)
{
    KTHttpReply reply;
    QTcpSocket socket;
    socket.connectToHost(host, port);
    socket.write(method + ' ' + path + " HTTP/1.1\r\nHost: " + host.toLatin1() + "\r\nConnection: close\r\n\r\n");
    QByteArray data;
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        data += socket.readAll();
        if (parseHttpReply(data, &reply) || socket.state() == QAbstractSocket::UnconnectedState)
            break;
        QTest::qWait(5);
    }
    return reply;
}

#endif
