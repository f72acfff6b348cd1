#include "KTTestServer.h"

#include "KTRawFrames.h"
#include "KTTestDatabase.h"

#include <KTDatabaseController.h>
#include <KTServerConnector.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlQuery>
#include <QTest>

namespace {

const QString appDir = qEnvironmentVariable("OMBRIX_APP_DIR");

} // namespace

const QString KTTestServer::companyName = QStringLiteral("Comercial Andina");
const QString KTTestServer::companyPassword = QStringLiteral("clave-empresa");

bool KTRawClient::connectTo(quint16 port)
{
    socket->connectToHost(QStringLiteral("127.0.0.1"), port);
    return socket->waitForConnected(5000);
}

void KTRawClient::send(const QByteArray& bytes)
{
    socket->write(bytes);
    socket->flush();
}

void KTRawClient::sendText(const QString& xml)
{
    send(KTRawFrames::frame(xml));
}

int KTRawClient::replies()
{
    buffer += socket->readAll();
    received += KTRawFrames::takeTexts(buffer);
    return int(received.size());
}

QString KTRawClient::nextReply(int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (replies() <= taken && timer.elapsed() < timeoutMs)
        QTest::qWait(5);
    return taken < received.size() ? received.at(taken++) : QString();
}

bool KTRawClient::connected() const
{
    return socket->state() == QAbstractSocket::ConnectedState;
}

bool KTTestServer::prepareDatabase(KTDatabaseController* controller, const QString& dbName)
{
    if (!KTTestDatabase::dropDatabase(dbName)
        || !controller->establishConnection(KTTestDatabase::controllerParameters(QStringLiteral("main"), dbName))
        || !controller->loadTablesFromFiles(appDir + QStringLiteral("/OmbrixDbData/Tables")))
        return false;
    controller->createTables(false);
    controller->createDataFromFiles(appDir + QStringLiteral("/OmbrixDbData/Data"),
                                    appDir + QStringLiteral("/OmbrixDbData/Blobs"), false);
    return controller->allDataLoaded();
}

bool KTTestServer::stageComponents(const QString& dir, const QStringList& extraSercoms)
{
    const QString authcoms = QStringLiteral("/OmbrixServerComponents/OmbrixAuthenticate/");
    const QString sercoms = QStringLiteral("/OmbrixServerComponents/OmbrixDBManipulation/");
    if (!QDir().mkpath(dir + authcoms) || !QDir().mkpath(dir + sercoms))
        return false;
    QStringList copies;
    for (const QString& folder : {authcoms, sercoms})
        for (const QString& file : QDir(appDir + folder).entryList({QStringLiteral("*.so")}, QDir::Files))
            copies << appDir + folder + file << dir + folder + file;
    for (const QString& file : extraSercoms)
        copies << file << dir + sercoms + QFileInfo(file).fileName();
    for (int i = 0; i < copies.size(); i += 2)
        if (!QFile::copy(copies.at(i), copies.at(i + 1)))
            return false;
    return true;
}

QString KTTestServer::password(KTDatabaseController* controller, int userKey)
{
    QSqlQuery key = controller->customQuery(
        QStringLiteral("SELECT fldKey FROM accUserIdentifier WHERE codUser = %1").arg(userKey));
    return key.next() ? key.value(0).toString() : QString();
}

QStringList KTTestServer::clientObjects()
{
    return {"ComponentUser", "ComponentGroup", "ComponentMessage", "ComponentProductCategory", "ComponentProduct",
            "ComponentCustomer", "ComponentOrder", "ComponentOrderLine"};
}

QString KTTestServer::negotiation(const QString& version, int compression, int packMaxCount, const QString& company,
                                  const QString& password)
{
    return QStringLiteral("<NegotiateConnection><ClientIP>10.0.0.7,fe80::1</ClientIP><ClientMAC>00:11:22:33:44:55"
                          "</ClientMAC><ClientVersion>%1</ClientVersion><CompressionFactor>%2</CompressionFactor>"
                          "<OperatingSystem>Linux64</OperatingSystem><PackMaxCount>%3</PackMaxCount>"
                          "<Company>%4</Company><CompanyPassword>%5</CompanyPassword></NegotiateConnection>")
        .arg(version).arg(compression).arg(packMaxCount).arg(company.toHtmlEscaped(), password.toHtmlEscaped());
}

QString KTTestServer::login(const QString& login, const QString& password, const QString& iconHash)
{
    return QStringLiteral("<Authenticate><IdentifierType>PasswordAuthcom</IdentifierType><Login>%1</Login>"
                          "<Password>%2</Password><IconHash>%3</IconHash></Authenticate>")
        .arg(login.toHtmlEscaped(), password.toHtmlEscaped(), iconHash);
}

KTTestServer::KTTestServer(KTDatabaseController* controller, const QString& dbName, const QString& systemObjects)
    : _connector(std::make_unique<KTServerConnector>())
{
    _connector->setDbParams(KTTestDatabase::controllerParameters(QString(), dbName).mid(1, 7));
    _connector->setUnitParams({companyName, companyPassword, systemObjects, clientObjects().join(',')});
    _connector->setApplicationDirectory(appDir);
    _connector->updateData(controller);
    _events = std::make_unique<QSignalSpy>(_connector.get(), &KTServerConnector::eventMessage);
    // The connections' events arrive in batches; the tests read them with the
    // connector's own, one signal each, in the order they happened.
    KTServerConnector* connector = _connector.get();
    QObject::connect(connector, &KTServerConnector::connectionEvents, connector, [connector](const QList<KTEvent>& events) {
        for (const KTEvent& event : events)
            emit connector->eventMessage(event.message, event.type, event.location);
    });
    _connector->listen(QHostAddress::LocalHost, 0);
}

KTTestServer::~KTTestServer() = default;

std::unique_ptr<KTRawClient> KTTestServer::client()
{
    auto raw = std::make_unique<KTRawClient>();
    if (!raw->connectTo(_connector->serverPort()))
        return nullptr;
    return raw;
}

std::unique_ptr<KTRawClient> KTTestServer::negotiatedClient()
{
    auto raw = client();
    if (!raw)
        return nullptr;
    raw->sendText(negotiation());
    if (element(raw->nextReply(), QStringLiteral("Status")) != QLatin1String("1"))
        return nullptr;
    return raw;
}

bool KTTestServer::waitForConnections(int count)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000) {
        if (_connector->connectionIDs().size() == count && _connector->model()->rowCount() == count)
            return true;
        QTest::qWait(10);
    }
    return false;
}

QString KTTestServer::element(const QString& xml, const QString& tag)
{
    QDomDocument document;
    document.setContent(xml);
    return document.documentElement().firstChildElement(tag).text();
}

QStringList KTTestServer::eventsOfType(const QSignalSpy& spy, int type)
{
    QStringList texts;
    for (const QList<QVariant>& event : spy)
        if (event.at(1).toInt() == type)
            texts << event.at(0).toString();
    return texts;
}
