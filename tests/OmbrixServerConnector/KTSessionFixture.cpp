#include "KTSessionFixture.h"

#include <KTDatabaseController.h>
#include <KTServerConnector.h>

#include <QDomDocument>
#include <QSqlQuery>

KTSessionFixture::KTSessionFixture()
    : _window(std::make_unique<KTStatisticsWindow>())
    , _controller(std::make_unique<KTDatabaseController>())
{
}

KTSessionFixture::~KTSessionFixture()
{
    // Clients first, so that the server sees them leave before it stops.
    _admin.reset();
    _carla.reset();
    _server.reset();
}

bool KTSessionFixture::start(const QString& dbName, const QString& systemObjects, const QStringList& extraSercoms)
{
    if (!KTTestServer::prepareDatabase(_controller.get(), dbName))
        return false;
    _controller->fillSystemTables();
    _controller->loadTableRecordData();
    // The demo installation ships cmendez disabled; the tests need a normal user.
    if (!_controller->customQuery(QStringLiteral("UPDATE accUser SET sysEnabled = 1 WHERE pkyUser = 3")).isActive()
        || !KTTestServer::stageComponents(_app.path(), extraSercoms))
        return false;
    _server = std::make_unique<KTTestServer>(_controller.get(), dbName, systemObjects);
    _server->connector()->setApplicationDirectory(_app.path());
    QObject::connect(_server->connector(), &KTServerConnector::updateTableRecordDataModelRequested,
                     _controller.get(), &KTDatabaseController::updateTableRecordDataModel);
    const quint16 port = _server->connector()->serverPort();
    _admin = std::make_unique<KTClientSession>();
    _carla = std::make_unique<KTClientSession>();
    return _admin->logIn(port, QStringLiteral("admin"), KTTestServer::password(_controller.get(), 2))
        && _carla->logIn(port, QStringLiteral("cmendez"), KTTestServer::password(_controller.get(), 3))
        && QTest::qWaitFor([this] { return _server->connector()->loggedUsers().size() == 2; });
}

QString KTSessionFixture::value(const QString& sql) const
{
    QSqlQuery query = _controller->customQuery(sql);
    return query.next() ? KTDatabaseController::valueText(query.value(0)) : QString();
}

int KTSessionFixture::count(const QString& sql) const
{
    const QString text = value(sql);
    return text.isNull() ? -1 : text.toInt();
}

KTProtocolClient::Action KTSessionFixture::action(const QString& component, const KTProtocolClient::Parameters& params,
                                                 const QString& objectType, const QString& objectName)
{
    KTProtocolClient::Action result;
    result.component = component;
    result.parameters = params;
    result.objectType = objectType;
    result.objectName = objectName;
    return result;
}

QMap<QString, QList<int> > KTSessionFixture::deltas(const QSignalSpy& spy)
{
    QMap<QString, QList<int> > result;
    for (const QList<QVariant>& signal : spy)
        result.insert(signal.at(0).toString(), signal.at(1).value<QList<int> >());
    return result;
}

QStringList KTSessionFixture::elements(const QString& xml, const QString& tag)
{
    QDomDocument document;
    document.setContent(xml);
    QStringList texts;
    const QDomNodeList nodes = document.elementsByTagName(tag);
    for (int i = 0; i < nodes.size(); ++i)
        texts << nodes.at(i).toElement().text();
    return texts;
}

void KTSessionFixture::drain()
{
    _admin->replies(50);
    _carla->replies(50);
}
