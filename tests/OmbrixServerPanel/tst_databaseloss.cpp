#include "KTTestEvents.h"
#include "KTTestHttp.h"
#include "KTTestServer.h"

#include <KTDatabaseController.h>
#include <KTMainPanel.h>
#include <KTProtocolClient.h>
#include <KTServerConnector.h>
#include <KTServerScheduler.h>

#include <QStandardItemModel>

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString appDir = qEnvironmentVariable("OMBRIX_APP_DIR");
const QString password = QStringLiteral("OmbrixLoss-2026");
// The one database its account may reach, as the settings below name it.
const QString lossDb = QStringLiteral("ombrix_loss");

bool mariadb(const QStringList& arguments)
{
    return QProcess::execute(QStringLiteral(OMBRIX_SOURCE_DIR "/scripts/mariadb.sh"), arguments) == 0;
}

QString insertCategory(const QString& name)
{
    KTProtocolClient::Action action;
    action.component = QStringLiteral("DbInsertSercom");
    action.objectType = QStringLiteral("Component");
    action.objectName = QStringLiteral("ComponentProductCategory");
    action.parameters = {{"Table", "invProductCategory"},
                         {"Fields", "pkyProductCategory,fldName,fldDescription,sysEnabled,sysEditable,sysAuthorized,"
                                    "sysVisible,sysContext,sysAuthorizationGroup"},
                         {"Values", QStringLiteral("NULL|'%1'|NULL|1|1|1|2|0|1").arg(name)},
                         {"LineNumbers", "1"}};
    return KTProtocolClient::actionRequest({action});
}

} // namespace

// MariaDB stopped under a working server and started again: the server
// notices once, closes its port, answers its clients with failures, and
// comes back by itself without losing what was committed.
class tst_DatabaseLoss : public QObject
{
    Q_OBJECT

    QTemporaryDir _dir;
    QString _previous;
    QString _dataDir;
    int _dbPort = 0;
    quint16 _statusPort = 0;

    QString status(KTRawClient& client, const QString& request)
    {
        client.sendText(request);
        return KTProtocolClient::element(client.nextReply(20000), QStringLiteral("Status"));
    }

    int categories(KTMainPanel& panel, const QString& name)
    {
        QSqlQuery query = panel.dbController()->customQuery(
            QStringLiteral("SELECT COUNT(*) FROM invProductCategory WHERE fldName = '%1'").arg(name));
        return query.next() ? query.value(0).toInt() : -1;
    }

    // The panel's start with its database up, as main() runs it.
    static bool startUp(KTMainPanel& panel)
    {
        panel.readServerSettings();
        if (!panel.establishConnection() || !panel.loadTablesFromFiles())
            return false;
        panel.loadTableRecordData();
        panel.updateDatabase();
        return true;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        _dbPort = probe.serverPort();
        probe.close();
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        _statusPort = probe.serverPort();
        probe.close();
        _dataDir = _dir.filePath(QStringLiteral("mariadb"));
        QVERIFY(mariadb({QStringLiteral("start"), _dataDir, QString::number(_dbPort), password, lossDb}));

        for (const char* folder : {"OmbrixDbData", "OmbrixServerComponents", "OmbrixServerPanets", "Downloads"})
            QVERIFY(QFile::link(appDir + "/" + folder, _dir.filePath(folder)));
        QFile settings(_dir.filePath(QStringLiteral("OmbrixServer.cfg")));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write(QStringLiteral("[ServerSettings]\nServerPort=0\nListenAddress=127.0.0.1\nReconnectInterval=200\n"
                                      "StatusPort=%5\n[LicenseInfo]\nCompany=%1\nID=900123\nPassword=%2\n[Database]\nType=QMYSQL\n"
                                      "Host=127.0.0.1\nDbPort=%3\nDbName=ombrix_loss\n[AdminUser]\nLogin=jefe\n"
                                      "Password=clave-jefe\nConnectivityPassword=%4\n")
                           .arg(KTTestServer::companyName, password)
                           .arg(_dbPort)
                           .arg(KTTestServer::companyPassword)
                           .arg(_statusPort)
                           .toUtf8());
        settings.close();
        QFile objects(_dir.filePath(QStringLiteral("OmbrixSystemObjects.cfg")));
        QVERIFY(objects.open(QIODevice::WriteOnly));
        objects.write("[ServerFiles]\nPasswordAuthcom\nDbInsertSercom\n[ClientFiles]\nComponentProductCategory\n");
        objects.close();
        _previous = QDir::currentPath();
        QDir::setCurrent(_dir.path());
    }

    void cleanupTestCase()
    {
        QDir::setCurrent(_previous);
        mariadb({QStringLiteral("stop"), _dataDir});
    }

    void serverRecoversWithoutLosingCommittedData()
    {
        KTMainPanel panel;
        QSignalSpy events(&panel, &KTMainWindow::eventMessage);
        QVERIFY(startUp(panel));
        QVERIFY(panel.connector()->isListening());

        KTRawClient client;
        QVERIFY(client.connectTo(panel.connector()->serverPort()));
        QCOMPARE(status(client, KTTestServer::negotiation()), QStringLiteral("1"));
        QCOMPARE(status(client, KTTestServer::login("jefe", "clave-jefe")), QStringLiteral("1"));
        // Inserts are answered to the clients that have the categories open.
        client.sendText(KTProtocolClient::objectStatus(QStringLiteral("ComponentProductCategory"), true));
        QCOMPARE(status(client, insertCategory("Antes del corte")), QStringLiteral("1"));

        QVERIFY(mariadb({QStringLiteral("stop"), _dataDir}));
        // The client is answered, and the server stops taking new clients.
        QCOMPARE(status(client, insertCategory("Durante el corte")), QStringLiteral("0"));
        QTRY_VERIFY_WITH_TIMEOUT(!panel.connector()->isListening(), 20000);
        QCOMPARE(status(client, insertCategory("Durante el corte")), QStringLiteral("0"));
        panel.sendKeepAlive();
        QCOMPARE(eventTexts(events).filter(QStringLiteral("Se perdió la conexión con la BD")).size(), 1);

        QVERIFY(mariadb({QStringLiteral("start"), _dataDir, QString::number(_dbPort), password, lossDb}));
        QTRY_VERIFY_WITH_TIMEOUT(panel.connector()->isListening(), 30000);
        QCOMPARE(eventTexts(events).filter(QStringLiteral("Se restableció la conexión con la BD")).size(), 1);
        // The connection that stayed works again, and a new client gets in.
        QCOMPARE(status(client, insertCategory("Después del corte")), QStringLiteral("1"));
        KTRawClient late;
        QVERIFY(late.connectTo(panel.connector()->serverPort()));
        QCOMPARE(status(late, KTTestServer::negotiation()), QStringLiteral("1"));

        QCOMPARE(categories(panel, "Antes del corte"), 1);
        QCOMPARE(categories(panel, "Durante el corte"), 0);
        QCOMPARE(categories(panel, "Después del corte"), 1);
    }

    // A statement of the panel's controller that reconnects returns before
    // the panel hears that the database is up: on that news the panel opens
    // its port and rebuilds the connector's, scheduler's and authorization
    // models, which must never happen under whoever ran the statement.
    void theRecoveryReachesThePanelOnlyAfterTheStatement()
    {
        KTMainPanel panel;
        QVERIFY(startUp(panel));
        QVERIFY(mariadb({QStringLiteral("stop"), _dataDir}));
        panel.sendKeepAlive();
        QVERIFY(panel.dbController()->connectionLost());
        QVERIFY(!panel.connector()->isListening());
        QVERIFY(mariadb({QStringLiteral("start"), _dataDir, QString::number(_dbPort), password, lossDb}));

        QSignalSpy status(panel.dbController(), &KTDatabaseController::dbStatusChanged);
        QVERIFY(panel.dbController()->customQuery(QStringLiteral("SELECT 1")).isActive());
        QVERIFY(!panel.dbController()->connectionLost());
        QVERIFY(status.isEmpty());
        QVERIFY(!panel.connector()->isListening());
        QTRY_VERIFY_WITH_TIMEOUT(panel.connector()->isListening(), 20000);
        QCOMPARE(status.size(), 1);
    }

    // No client works and nothing else asks the database: the panel's own
    // ping notices the loss, closes the port, and opens it again once
    // MariaDB is back. The status endpoint says so all along.
    void lossIsNoticedWithoutClients()
    {
        KTMainPanel panel;
        QVERIFY(startUp(panel));
        panel.startServing();
        QVERIFY(panel.connector()->isListening());
        const auto health = [this] { return httpRequest(QStringLiteral("127.0.0.1"), _statusPort, "/health"); };
        QCOMPARE(health().status, 200);

        QVERIFY(mariadb({QStringLiteral("stop"), _dataDir}));
        QTRY_VERIFY_WITH_TIMEOUT(!panel.connector()->isListening(), 20000);
        QVERIFY(panel.dbController()->connectionLost());
        const KTHttpReply down = health();
        QCOMPARE(down.status, 503);
        QVERIFY2(down.body.contains("Puerto cerrado, BD sin respuesta"), down.body.constData());
        QVERIFY(mariadb({QStringLiteral("start"), _dataDir, QString::number(_dbPort), password, lossDb}));
        QTRY_VERIFY_WITH_TIMEOUT(panel.connector()->isListening(), 30000);
        QCOMPARE(health().status, 200);
        const QByteArray metrics = httpRequest(QStringLiteral("127.0.0.1"), _statusPort, "/metrics").body;
        QVERIFY2(metrics.contains("\nombrix_database_reconnects_total 1\n"), metrics.constData());
    }

    // MariaDB not up yet when the server starts: it tries again every
    // interval, tells the log once a minute, and serves once it answers.
    void startsServingOnceTheDatabaseAnswers()
    {
        QVERIFY(mariadb({QStringLiteral("stop"), _dataDir}));
        KTMainPanel panel;
        QSignalSpy events(&panel, &KTMainWindow::eventMessage);
        panel.readServerSettings();
        QVERIFY(!panel.establishConnection());
        panel.loadTablesFromFiles();
        panel.updateDatabase();
        panel.startServing();
        QVERIFY(!panel.connector()->isListening());
        // Many tries at 200 ms; a slower machine only makes fewer.
        QTest::qWait(1500);
        QVERIFY(!panel.connector()->isListening());
        QCOMPARE(eventTexts(events).filter(QStringLiteral("Esperando la base de datos")).size(), 1);
        QCOMPARE(eventTexts(events).filter(QStringLiteral("Error al establecer conexión")).size(), 1);

        QVERIFY(mariadb({QStringLiteral("start"), _dataDir, QString::number(_dbPort), password, lossDb}));
        QTRY_VERIFY_WITH_TIMEOUT(panel.connector()->isListening(), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(panel.dbController()->allTablesLoaded(), 30000);
        QCOMPARE(eventTexts(events).filter(QStringLiteral("Se estableció conexión con BD")).size(), 1);
        KTRawClient client;
        QVERIFY(client.connectTo(panel.connector()->serverPort()));
        QCOMPARE(status(client, KTTestServer::negotiation()), QStringLiteral("1"));
        QCOMPARE(status(client, KTTestServer::login("jefe", "clave-jefe")), QStringLiteral("1"));
    }

    // The tick's first statement finds the database back and reconnects;
    // the panel reloads the tasks under the tick, which goes on with what
    // it took before.
    void schedulerTickSurvivesAReconnectionInsideIt()
    {
        KTMainPanel panel;
        QVERIFY(startUp(panel));
        const QString text = QStringLiteral("durante la reconexión");
        const QMap<QString, QVariant> task{
            {"SourceUser", "2"}, {"TargetGroup", "1"}, {"TaskType", "3"}, {"RequestDate", "2026-12-01"},
            {"ID", "cada-minuto"}, {"Users", "3"},
            {"Command", "NULL,2,1,2026-12-07,14:30:00,Aviso,Ref,"
                            + QString::fromLatin1(text.toUtf8().toBase64()) + ",1,2,1,2,0,1"}};
        panel.scheduler()->schedule(QVariant(task));
        QCOMPARE(panel.scheduler()->model()->rowCount(), 1);

        QVERIFY(mariadb({QStringLiteral("stop"), _dataDir}));
        panel.sendKeepAlive();
        QVERIFY(panel.dbController()->connectionLost());
        QVERIFY(mariadb({QStringLiteral("start"), _dataDir, QString::number(_dbPort), password, lossDb}));
        panel.scheduler()->processScheduler();
        QVERIFY(!panel.dbController()->connectionLost());
        QSqlQuery created = panel.dbController()->customQuery(
            "SELECT COUNT(*) FROM comMessage WHERE fldText = " + panel.dbController()->quoted(text));
        QVERIFY(created.next());
        QCOMPARE(created.value(0).toInt(), 1);
    }
};

QTEST_MAIN(tst_DatabaseLoss)
#include "tst_databaseloss.moc"
