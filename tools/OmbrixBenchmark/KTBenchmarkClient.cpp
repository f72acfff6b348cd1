#include "KTBenchmarkClient.h"

#include "KTBenchmarkServer.h"

#include <KTVersion.h>

namespace {
const int replyTimeoutMs = 30000;
}

KTBenchmarkClient::KTBenchmarkClient(quint16 port, const QString& login, bool tls)
    : _port(port)
    , _login(login)
{
    if (tls)
        _client.setTls(true, QString(), true);
}

bool KTBenchmarkClient::connectAndNegotiate()
{
    const QMap<QString, QString> params{
        {QStringLiteral("ClientIP"), QStringLiteral("127.0.0.1")},
        {QStringLiteral("ClientMAC"), QStringLiteral("00:11:22:33:44:55")},
        {QStringLiteral("ClientVersion"), KTVersion::ombrixClientVersionSimplified()},
        {QStringLiteral("CompressionFactor"), QStringLiteral("6")},
        {QStringLiteral("OperatingSystem"), KTVersion::operatingSystemLiteral()},
        {QStringLiteral("PackMaxCount"), QStringLiteral("10")},
        {QStringLiteral("Company"), KTBenchmarkServer::company},
        {QStringLiteral("CompanyPassword"), KTBenchmarkServer::companyPassword}};
    QString reply;
    return _client.connectToServer(QStringLiteral("127.0.0.1"), _port)
        && _client.send(KTProtocolClient::negotiation(params)) && _client.waitForReply(&reply, replyTimeoutMs)
        && KTProtocolClient::element(reply, QStringLiteral("Status")) == QLatin1String("1");
}

bool KTBenchmarkClient::logIn()
{
    return connectAndNegotiate() && authenticate();
}

bool KTBenchmarkClient::authenticate()
{
    QString reply;
    return _client.send(KTProtocolClient::login(QStringLiteral("PasswordAuthcom"), _login,
                                                KTBenchmarkServer::adminPassword))
        && _client.waitForReply(&reply, replyTimeoutMs)
        && KTProtocolClient::element(reply, QStringLiteral("Status")) == QLatin1String("1");
}

QString KTBenchmarkClient::request(const QString& xml, const QString& marker)
{
    QString reply;
    if (!_client.send(xml))
        return reply;
    while (_client.waitForReply(&reply, replyTimeoutMs))
        if (marker.isEmpty() || reply.contains(marker))
            return reply;
    return QString();
}

bool KTBenchmarkClient::send(const QString& xml)
{
    return _client.send(xml);
}

bool KTBenchmarkClient::waitFor(const QString& marker)
{
    QString reply;
    while (_client.waitForReply(&reply, replyTimeoutMs))
        if (reply.contains(marker))
            return true;
    return false;
}

bool KTBenchmarkClient::activate(const QString& objectName)
{
    return _client.send(KTProtocolClient::objectStatus(objectName, true));
}

void KTBenchmarkClient::disconnect()
{
    _client.disconnectFromServer();
}
