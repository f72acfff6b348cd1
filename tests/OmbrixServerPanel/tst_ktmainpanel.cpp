#include "KTTestDatabase.h"
#include "KTTestEvents.h"
#include "KTTestServer.h"

#include <KT.h>
#include <KTDatabaseController.h>
#include <KTMainPanel.h>
#include <KTPanelView.h>
#include <KTPanelViewPage.h>
#include <KTPanetBase.h>
#include <KTProtocolClient.h>
#include <KTServerConnector.h>
#include <KTServerScheduler.h>
#include <KTServerUpdater.h>

#include <QDir>
#include <QHeaderView>
#include <QTableView>
#include <QStandardItemModel>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>

namespace {

const QString dbName = QStringLiteral("ombrix_test_panel");
const QString appDir = qEnvironmentVariable("OMBRIX_APP_DIR");

void writeFile(const QString& path, const QString& text)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(text.toUtf8());
}

QString serverSettings(const QString& company = KTTestServer::companyName)
{
    return QStringLiteral("[ServerSettings]\nServerPort=0\nListenAddress=127.0.0.1\n[LicenseInfo]\nCompany=%1\n"
                          "ID=900123\nPassword=%2\n[Database]\nType=QMYSQL\nHost=%3\nDbPort=%4\nDbName=%5\n"
                          "[AdminUser]\nLogin=jefe\nPassword=clave-jefe\nConnectivityPassword=%6\n")
        .arg(company, KTTestDatabase::password(), KTTestDatabase::host())
        .arg(KTTestDatabase::port())
        .arg(dbName, KTTestServer::companyPassword);
}

} // namespace

// The server process as it starts: settings read from the working directory,
// the database brought up, the port opened once the database is up.
class tst_KTMainPanel : public QObject
{
    Q_OBJECT

    QTemporaryDir _dir;
    QString _previous;

private Q_SLOTS:
    void initTestCase()
    {
        KT_REQUIRE_DATABASE();
        qRegisterMetaType<QStandardItemModel*>();
        QVERIFY(KTTestDatabase::dropDatabase(dbName));
        // The installation's folders, reached by the relative paths the panel uses.
        for (const char* folder : {"OmbrixDbData", "OmbrixServerComponents", "OmbrixServerPanets", "Downloads"})
            QVERIFY(QFile::link(appDir + "/" + folder, _dir.filePath(folder)));
        _previous = QDir::currentPath();
        QDir::setCurrent(_dir.path());
    }

    void cleanupTestCase() { QDir::setCurrent(_previous); }

    void init()
    {
        QFile::remove("OmbrixServer.cfg");
        QFile::remove("OmbrixSystemObjects.cfg");
        QFile::remove("OmbrixServerUI.cfg");
    }

    void settingsFiles()
    {
        writeFile("OmbrixSystemObjects.cfg", "  PasswordAuthcom = 1\n\nMySqlDialectMap\n[ClientFiles]\nComponentUser=1\n"
                                             "  Component   Order \n[ServerFiles]\nLogPanet=x=y\n");
        writeFile("OmbrixServer.cfg", serverSettings());
        KTMainPanel panel;
        panel.readServerSettings();
        QCOMPARE(panel.systemObjectsList(), QStringList({"PasswordAuthcom", "MySqlDialectMap", "LogPanet"}));
        QCOMPARE(panel.systemObjects(), QStringLiteral("PasswordAuthcom,MySqlDialectMap,LogPanet"));
        QCOMPARE(panel.systemObjectsListClient(), QStringList({"ComponentUser", "Component Order"}));
        QCOMPARE(panel.dbName(), dbName);
        QCOMPARE(panel.dbType(), QStringLiteral("QMYSQL"));
        QCOMPARE(panel.companyID(), QStringLiteral("900123"));
        QCOMPARE(panel.serverPort(), QStringLiteral("0"));

        // The settings hold passwords: readable by others, they are worth one warning at start.
        QSignalSpy events(&panel, &KTMainWindow::eventMessage);
        QVERIFY(QFile::setPermissions("OmbrixServer.cfg", QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        panel.warnIfSettingsReadable();
        QCOMPARE(events.size(), 0);
        QVERIFY(QFile::setPermissions("OmbrixServer.cfg", QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                              | QFileDevice::ReadGroup | QFileDevice::ReadOther));
        panel.warnIfSettingsReadable();
        QCOMPARE(KTTestServer::eventsOfType(events, KT::WarningMessage).size(), 1);
        // Named by its whole path: installed, the settings are not in the working directory.
        QVERIFY(eventTexts(events).first().startsWith(QStringLiteral("Otros usuarios pueden leer el archivo %1")
                                                          .arg(QDir::current().filePath("OmbrixServer.cfg"))));
    }

    void withoutServerSettingsThePortStaysClosed()
    {
        KTMainPanel panel;
        QSignalSpy events(&panel, &KTMainWindow::eventMessage);
        panel.readServerSettings();
        QVERIFY(panel.systemObjectsList().isEmpty());
        QVERIFY(!panel.establishConnection());
        QVERIFY(!panel.connector()->isListening());
        QVERIFY(eventTexts(events).filter("Error al establecer conexión inicial con BD").size() == 1);
    }

    void startUpCreatesTheDatabaseAndOpensThePortAfterIt()
    {
        writeFile("OmbrixServer.cfg", serverSettings());
        writeFile("OmbrixSystemObjects.cfg", "[ServerFiles]\nPasswordAuthcom\n[ClientFiles]\nComponentUser\n");
        KTMainPanel panel;
        QSignalSpy events(&panel, &KTMainWindow::eventMessage);
        QSignalSpy connectorModels(&panel, &KTMainWindow::connectorModelCreated);
        QSignalSpy schedulerModels(&panel, &KTMainWindow::schedulerModelCreated);
        panel.readServerSettings();
        QVERIFY(!panel.connector()->isListening());

        // What the database page does when it is set up, then the start-up's update.
        QVERIFY(panel.establishConnection());
        QVERIFY(panel.connector()->isListening());
        QVERIFY(panel.loadTablesFromFiles());
        panel.loadTableRecordData();
        panel.updateDatabase();
        QVERIFY2(KTTestServer::eventsOfType(events, 0).isEmpty(), qPrintable(KTTestServer::eventsOfType(events, 0).join('\n')));
        QVERIFY(eventTexts(events).contains("El servidor está esperando conexiones en el puerto 0"));
        QVERIFY(panel.tableRecordDataModel()->rowCount() > 20);
        QVERIFY(!panel.tableMainStats("accUser").isEmpty());
        QSqlQuery admin = panel.dbController()->customQuery("SELECT fldLogin FROM accUser WHERE pkyUser = 2");
        QVERIFY(admin.next());
        QCOMPARE(admin.value(0).toString(), QStringLiteral("jefe"));

        // A client reaches the server and logs in as the configured administrator.
        const quint16 port = panel.connector()->serverPort();
        KTRawClient client;
        QVERIFY(client.connectTo(port));
        client.sendText(KTTestServer::negotiation());
        const QString negotiated = client.nextReply();
        QVERIFY2(KTTestServer::element(negotiated, "Status") == "1", qPrintable(eventTexts(events).join('\n')));
        client.sendText(KTTestServer::login("jefe", "clave-jefe"));
        QCOMPARE(KTTestServer::element(client.nextReply(), "Status"), QStringLiteral("1"));

        // The database reported up again: same port, same unit parameters, fresh data.
        const QStringList unit = panel.connector()->unitParams();
        writeFile("OmbrixServer.cfg", serverSettings("Otra Empresa"));
        panel.readServerSettings();
        const int models = connectorModels.size();
        panel.changeStatus(true);
        QCOMPARE(panel.connector()->serverPort(), port);
        QCOMPARE(panel.connector()->unitParams(), unit);
        QCOMPARE(connectorModels.size(), models + 1);
        // The scheduler page gets the stored tasks, and a client's schedule reaches them.
        QVERIFY(!schedulerModels.isEmpty());
        QCOMPARE(schedulerModels.last().at(0).value<QStandardItemModel*>(), panel.scheduler()->model());
        const int tasks = panel.scheduler()->model()->rowCount();
        client.sendText(KTProtocolClient::schedule({{"SourceUser", "2"}, {"TargetGroup", "1"}, {"TaskType", "3"},
                                                   {"RequestDate", "2026-12-07"}, {"Users", "2"},
                                                   {"Command", "NULL,2,1,2026-12-07,10:00,A,B,QQ==,1,2,1,2,0,1"}}));
        QTRY_COMPARE(panel.scheduler()->model()->rowCount(), tasks + 1);

        panel.changeStatus(false);
        QVERIFY(!panel.connector()->isListening());
    }

    void customQueriesReportOnlyFailures()
    {
        writeFile("OmbrixServer.cfg", serverSettings());
        KTMainPanel panel;
        panel.readServerSettings();
        QVERIFY(panel.establishConnection());
        QSignalSpy events(&panel, &KTMainWindow::eventMessage);
        panel.executeCustomQuery("SELECT 1");
        QCOMPARE(events.size(), 0);
        panel.executeCustomQuery("SELECT * FROM tablaInexistente");
        QCOMPARE(events.size(), 1);
        QCOMPARE(events.first().at(1).toInt(), 0);
        QVERIFY(events.first().at(0).toString().startsWith(
            "Error en la ejecución de Query : 'SELECT * FROM tablaInexistente'. BD: '"));
        panel.panetSetChecked("NoExiste", true);
    }

    // The SQL lines of a server release run on the panel's own connection;
    // the first that fails stops the installation: what MariaDB can roll
    // back is undone (a schema change it cannot), and no restart follows.
    void installRunsTheReleaseStatements()
    {
        writeFile("OmbrixServer.cfg", serverSettings());
        KTMainPanel panel;
        panel.readServerSettings();
        QVERIFY(panel.establishConnection());
        QTemporaryDir installation;
        panel.updater()->setApplicationDirectory(installation.path());
        QSignalSpy events(&panel, &KTMainWindow::eventMessage);
        panel.prepareInstallation("SQL|DROP TABLE IF EXISTS upgRelease|\n"
                                  "SQL|CREATE TABLE upgRelease (a INT) ENGINE=InnoDB|\n"
                                  "SQL|INSERT INTO upgRelease VALUES (6)|\n"
                                  "SQL|INSERT INTO tablaInexistente VALUES (1)|\n"
                                  "FILE|libKTNew.so|lib\n"
                                  "SQL|INSERT INTO upgRelease VALUES (7)|");
        QVERIFY(!disconnect(qApp, &QCoreApplication::aboutToQuit, panel.updater(), nullptr));
        QCOMPARE(eventTexts(events).first(), QStringLiteral("Comenzando instalación de nuevas versiones"));
        QCOMPARE(KTTestServer::eventsOfType(events, 0).size(), 1);
        QVERIFY(eventTexts(events).last().contains("INSERT INTO tablaInexistente VALUES (1)"));
        QSqlQuery rows = panel.dbController()->customQuery("SELECT a FROM upgRelease");
        QVERIFY(rows.isActive());
        QVERIFY(!rows.next());

        panel.prepareInstallation("SQL|INSERT INTO upgRelease VALUES (7)|");
        QVERIFY(disconnect(qApp, &QCoreApplication::aboutToQuit, panel.updater(), nullptr));
        rows = panel.dbController()->customQuery("SELECT a FROM upgRelease");
        QVERIFY(rows.next());
        QCOMPARE(rows.value(0).toInt(), 7);
    }

    // What an operator sees on a first start, saved for a person to look at.
    void firstWindowShowsThePages()
    {
        writeFile("OmbrixServer.cfg", serverSettings());
        // Sorted by name, as the wizard writes it: the database page comes before the log page.
        writeFile("OmbrixSystemObjects.cfg", "[ServerFiles]\nAuthorizationPanet\nConnectorPanet\nDatabasePanet\n"
                                             "LogPanet\nPasswordAuthcom\nSchedulerPanet\n[ClientFiles]\nComponentUser\n");
        KTMainPanel panel;
        panel.readServerSettings();
        panel.showWindow();
        QVERIFY(panel.width() >= 1024 && panel.height() >= 700);
        panel.loadPanets("OmbrixServerPanets", true);
        panel.loadSettings();
        panel.updateDatabase();
        QVERIFY(panel.connector()->isListening());
        for (const char* name : {"LogPanet", "ConnectorPanet"})
            QVERIFY2(panel.panetAction(name)->isChecked(), name);
        for (const char* name : {"DatabasePanet", "AuthorizationPanet", "SchedulerPanet"})
            QVERIFY2(!panel.panetAction(name)->isChecked(), name);

        // The log page listened before the database page connected.
        auto* log = panel.findChild<QTableView*>("tvwLog");
        QVERIFY(log);
        QStringList shown;
        for (int row = 0; row < log->model()->rowCount(); ++row)
            shown << log->model()->index(row, 3).data().toString();
        QVERIFY2(!shown.filter("Se estableció conexión con BD").isEmpty(), qPrintable(shown.join('\n')));
        // The message takes the free width, and shows whole on hover.
        QVERIFY(log->horizontalHeader()->stretchLastSection());
        const QModelIndex last = log->model()->index(log->model()->rowCount() - 1, 3);
        QCOMPARE(last.data(Qt::ToolTipRole).toString(), last.data().toString());

        KTRawClient client;
        QVERIFY(client.connectTo(panel.connector()->serverPort()));
        client.sendText(KTTestServer::negotiation());
        QCOMPARE(KTTestServer::element(client.nextReply(), "Status"), QStringLiteral("1"));
        QTest::qWait(200);
        const QString file = QStringLiteral(SCREENSHOT_DIR "/panel-first-window.png");
        QVERIFY(panel.grab().save(file));
        QVERIFY(QFileInfo(file).size() > 10000);

        // The layout is written back as it is shown, and the next start opens where this one ended.
        panel.resize(1100, 760);
        panel.saveSettings();
        QSettings saved("OmbrixServerUI.cfg", QSettings::IniFormat);
        QCOMPARE(saved.value("PanelSettings/ActivatedPanets").toString().split('|').size(), 2);
        KTMainPanel next;
        next.showWindow();
        QCOMPARE(next.size(), QSize(1100, 760));
    }

    void layoutIsRestoredFromTheSavedEntries()
    {
        writeFile("OmbrixSystemObjects.cfg", "[ServerFiles]\nLogPanet\nConnectorPanet\nAuthorizationPanet\n");
        writeFile("OmbrixServerUI.cfg", "[PanelSettings]\nPanelColumns=2\nPanelRows=1\nTabs=3\nActivatedPanets="
                                        "AuthorizationPanet--1,0,0|ConnectorPanet--0,0,1|LogPanet--0,0,0|Nadie--2,0,0\n");
        KTMainPanel panel;
        panel.readServerSettings();
        panel.loadPanets("OmbrixServerPanets", true);
        QVERIFY2(!panel.panetAction("SchedulerPanet"), "a page not listed is never opened");
        panel.loadSettings();
        QCOMPARE(panel.panelView()->count(), 3);
        const auto names = [&](int tab) {
            QStringList result;
            const auto positions = panel.panelView()->page(tab)->panetPosition();
            for (auto it = positions.cbegin(); it != positions.cend(); ++it)
                result << QStringLiteral("%1@%2,%3").arg(it.key()->name()).arg(it.value().first).arg(it.value().second);
            result.sort();
            return result;
        };
        QCOMPARE(names(0), QStringList({"ConnectorPanet@0,1", "LogPanet@0,0"}));
        QCOMPARE(names(1), QStringList{"AuthorizationPanet@0,0"});
        QVERIFY(names(2).isEmpty());

        writeFile("OmbrixServerUI.cfg", "[PanelSettings]\nActivatedPanets=\n");
        KTMainPanel empty;
        empty.readServerSettings();
        empty.loadPanets("OmbrixServerPanets", true);
        empty.loadSettings();
        QCOMPARE(empty.panelView()->count(), 1);
        QVERIFY(!empty.panetAction("LogPanet")->isChecked());
    }

    void savedSizesOutOfRangeFallBackToTheDefaults_data()
    {
        QTest::addColumn<QString>("saved");
        QTest::newRow("zero") << "PanelColumns=0\nPanelRows=0\nTabs=0";
        QTest::newRow("negative") << "PanelColumns=-2\nPanelRows=-1\nTabs=-5";
        QTest::newRow("huge") << "PanelColumns=100000\nPanelRows=10\nTabs=100000";
        QTest::newRow("not numbers") << "PanelColumns=dos\nPanelRows=x\nTabs=y";
    }

    void savedSizesOutOfRangeFallBackToTheDefaults()
    {
        QFETCH(QString, saved);
        writeFile("OmbrixSystemObjects.cfg", "[ServerFiles]\nLogPanet\n");
        writeFile("OmbrixServerUI.cfg", "[PanelSettings]\n" + saved + "\nActivatedPanets=LogPanet--0,1,0\n");
        KTMainPanel panel;
        panel.readServerSettings();
        panel.loadPanets("OmbrixServerPanets", true);
        panel.loadSettings();
        panel.saveSettings();
        QSettings written("OmbrixServerUI.cfg", QSettings::IniFormat);
        QCOMPARE(written.value("PanelSettings/PanelRows").toInt(), 2);
        QCOMPARE(written.value("PanelSettings/PanelColumns").toInt(), 1);
        QCOMPARE(panel.panelView()->count(), 1);
        QVERIFY(panel.panetAction("LogPanet")->isChecked());
    }

    void statisticsAreSharedSafelyBetweenThreads()
    {
        KTMainPanel panel;
        QVERIFY(panel.tableMainStats("accUser").isEmpty());
        QList<QThread*> threads;
        std::atomic<int> badReads{0};
        for (int t = 0; t < 4; ++t) {
            threads << QThread::create([&panel, &badReads, t] {
                for (int i = 0; i < 2000; ++i) {
                    const QString table = QStringLiteral("t%1").arg(i % 10);
                    panel.setTableMainStats(table, {quint64(t), quint64(i), 0, 0, 0, 0, 0});
                    if (panel.tableMainStats(table).size() != 7)
                        ++badReads;
                }
            });
            threads.last()->start();
        }
        for (QThread* thread : threads) {
            QVERIFY(thread->wait(30000));
            delete thread;
        }
        QCOMPARE(badReads.load(), 0);
        QCOMPARE(panel.tableMainStats("t3").size(), 7);
        panel.clearTableMainStats();
        QVERIFY(panel.tableMainStats("t3").isEmpty());
    }
};

QTEST_MAIN(tst_KTMainPanel)
#include "tst_ktmainpanel.moc"
