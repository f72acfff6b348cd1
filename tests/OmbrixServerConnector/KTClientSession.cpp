#include "KTClientSession.h"

#include "KTTestServer.h"

KTClientSession::KTClientSession()
    : _client(new KTProtocolClient)
{
    _client->moveToThread(&_thread);
    QObject::connect(&_thread, &QThread::finished, _client, &QObject::deleteLater);
    _thread.start();
}

KTClientSession::~KTClientSession()
{
    run([](KTProtocolClient& client) {
        client.disconnectFromServer();
        return true;
    });
    _thread.quit();
    _thread.wait();
}

bool KTClientSession::useTls(const QString& caFile, bool insecure)
{
    return run([&](KTProtocolClient& client) { return client.setTls(true, caFile, insecure); });
}

bool KTClientSession::logIn(quint16 port, const QString& login, const QString& password)
{
    return run([&](KTProtocolClient& client) {
        QString reply;
        return client.connectToServer(QStringLiteral("127.0.0.1"), port)
            && client.send(KTTestServer::negotiation()) && client.waitForReply(&reply, 15000)
            && KTProtocolClient::element(reply, QStringLiteral("Status")) == QLatin1String("1")
            && client.send(KTTestServer::login(login, password)) && client.waitForReply(&reply, 15000)
            && KTProtocolClient::element(reply, QStringLiteral("Status")) == QLatin1String("1");
    });
}

QString KTClientSession::request(const QString& xml, int timeoutMs)
{
    return run([&](KTProtocolClient& client) {
        QString reply;
        if (client.send(xml))
            client.waitForReply(&reply, timeoutMs);
        return reply;
    });
}

bool KTClientSession::send(const QString& xml)
{
    return run([&](KTProtocolClient& client) { return client.send(xml); });
}

QStringList KTClientSession::replies(int idleMs)
{
    return run([&](KTProtocolClient& client) { return client.replies(idleMs); });
}

bool KTClientSession::activate(const QString& objectName)
{
    return send(KTProtocolClient::objectStatus(objectName, true));
}
