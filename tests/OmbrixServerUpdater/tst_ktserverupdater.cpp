#include "KTTestDatabase.h"
#include "KTTestEvents.h"
#include "KTTestFiles.h"

#include <KT.h>
#include <KTDatabaseController.h>
#include <KTServerUpdater.h>
#include <KTUpgradeDatabase.h>
#include <KTVersion.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using ServerTable = QMap<QString, QStringList>;
using ClientTable = QMultiMap<QString, QStringList>;
using Files = QMap<QString, QByteArray>;

namespace {

const QString upgradeConnection = QStringLiteral("upgradeAdmin");
// The server database the release lines run on.
const QString installDb = QStringLiteral("ombrix_test_install");
// A quote in both account texts: the account queries must escape them.
const QString company = QStringLiteral("Comercial O'Higgins");
const QString accountPassword = QStringLiteral("cla've-2026");

// Entry positions the tests read.
enum { RelativePath = 2, Sha1 = 3, State = 10, Folder = 12, Platform = 13 };

QString serverFolder()
{
    return QStringLiteral("OmbrixServer-") + KTVersion::operatingSystemLiteral();
}

int errorCount(const QSignalSpy& events)
{
    int errors = 0;
    for (const QList<QVariant>& event : events)
        errors += event.at(1).toInt() == KT::ErrorMessage ? 1 : 0;
    return errors;
}


} // namespace

// The updater against an upgrade database in the fixture's MariaDB, with a
// temporary application directory standing for the installation.
class tst_KTServerUpdater : public QObject
{
    Q_OBJECT

private:
    QSqlDatabase upgradeDatabase() { return QSqlDatabase::database(upgradeConnection); }

    KTUpgradeDatabase::Account account() const
    {
        KTUpgradeDatabase::Account account;
        account.company = company;
        account.password = accountPassword;
        account.currentServer = KTVersion::ombrixServerVersion();
        account.upgradeServer = QStringLiteral("01.32.00");
        account.currentClient = KTVersion::ombrixClientVersion();
        account.upgradeClient = KTVersion::ombrixClientVersion();
        account.clientPlatforms = {KTVersion::operatingSystem().toInt()};
        return account;
    }

    void setAccount(const KTUpgradeDatabase::Account& account)
    {
        KTUpgradeDatabase upgrade(upgradeDatabase());
        QVERIFY2(upgrade.setAccount(account), qPrintable(upgrade.lastError()));
    }

    void publish(int softwareType, int platform, const QString& version, const Files& files,
                 const QString& commands = QString())
    {
        QTemporaryDir folder;
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            QVERIFY(writeFile(folder.filePath(it.key()), it.value()));
        KTUpgradeDatabase::Release release;
        release.softwareType = softwareType;
        release.platform = platform;
        release.version = version;
        release.name = softwareType == 1 ? QStringLiteral("Ombrix Server") : QStringLiteral("Ombrix Client");
        release.date = QStringLiteral("2026-12-01");
        release.description = QStringLiteral("Entrega de diciembre");
        release.commands = commands;
        release.upgradeLog = QStringLiteral("Notas ") + version;
        KTUpgradeDatabase upgrade(upgradeDatabase());
        QVERIFY2(upgrade.publish(release, folder.path()), qPrintable(upgrade.lastError()));
    }

    void publishServer(const QString& version, const Files& files, const QString& commands = QString())
    {
        publish(1, KTVersion::operatingSystem().toInt(), version, files, commands);
    }

    void execute(const QString& statement)
    {
        QSqlQuery query(upgradeDatabase());
        QVERIFY2(query.exec(statement), qPrintable(statement));
    }

    QVariant accountValue(const QString& column)
    {
        QSqlQuery query(upgradeDatabase());
        query.exec(QStringLiteral("SELECT %1 FROM _Client").arg(column));
        return query.next() ? query.value(0) : QVariant();
    }

    QString downloads(const QString& path = QString()) const
    {
        return _appDir->path() + QStringLiteral("/Downloads") + (path.isEmpty() ? QString() : QLatin1Char('/') + path);
    }

    // One thread run: the check and, when download is set, the download the
    // published tables ask for, as the update page does.
    bool run(bool download = false)
    {
        _events = std::make_unique<QSignalSpy>(_updater.get(), &KTServerUpdater::eventMessage);
        _statuses = std::make_unique<QSignalSpy>(_updater.get(), &KTServerUpdater::upgradeStatusChanged);
        _lists = std::make_unique<QSignalSpy>(_updater.get(), &KTServerUpdater::downloadListUpdated);
        _completed = std::make_unique<QSignalSpy>(_updater.get(), &KTServerUpdater::downloadCompleted);
        _serverReports = std::make_unique<QSignalSpy>(_updater.get(), &KTServerUpdater::objectDownloadStatusUpdated);
        _clientReports =
            std::make_unique<QSignalSpy>(_updater.get(), &KTServerUpdater::clientObjectDownloadStatusUpdated);
        QMetaObject::Connection request;
        if (download)
            request = connect(_updater.get(), &KTServerUpdater::downloadListUpdated, _updater.get(),
                              &KTServerUpdater::downloadUpdates);
        QSignalSpy finished(_updater.get(), &KTServerUpdater::upgradeThreadFinished);
        _updater->checkUpdates(company, accountPassword);
        const bool ended = finished.wait(60000);
        disconnect(request);
        return ended;
    }

    ServerTable serverTable() const { return _lists->isEmpty() ? ServerTable() : _lists->last().at(0).value<ServerTable>(); }
    ClientTable clientTable() const { return _lists->isEmpty() ? ClientTable() : _lists->last().at(1).value<ClientTable>(); }
    QString listText(int index) const { return _lists->isEmpty() ? QString() : _lists->last().at(index).toString(); }
    int lastStatus() const { return _statuses->isEmpty() ? -1 : _statuses->last().at(0).toInt(); }

    // The groups table that every table's system columns refer to.
    bool createGroups(KTDatabaseController& controller)
    {
        return controller.customQuery("CREATE TABLE IF NOT EXISTS accGroup (pkyGroup MEDIUMINT UNSIGNED PRIMARY KEY) "
                                      "ENGINE=InnoDB").isActive()
            && controller.customQuery("INSERT IGNORE INTO accGroup VALUES (1)").isActive();
    }

    int count(KTDatabaseController& controller, const QString& sql)
    {
        QSqlQuery query = controller.customQuery(sql);
        return query.next() ? query.value(0).toInt() : -1;
    }

    std::unique_ptr<QTemporaryDir> _appDir;
    std::unique_ptr<KTServerUpdater> _updater;
    std::unique_ptr<QSignalSpy> _events, _statuses, _lists, _completed, _serverReports, _clientReports;

private Q_SLOTS:
    void initTestCase()
    {
        KT_REQUIRE_DATABASE();
        qputenv("OMBRIX_UPGRADE_HOST", KTTestDatabase::host().toUtf8());
        qputenv("OMBRIX_UPGRADE_PORT", QByteArray::number(KTTestDatabase::port()));
        qputenv("OMBRIX_UPGRADE_USER", KTTestDatabase::userName().toUtf8());
        qputenv("OMBRIX_UPGRADE_PASSWORD", KTTestDatabase::password().toUtf8());
    }

    void init()
    {
        {
            QSqlDatabase server = KTTestDatabase::open(QStringLiteral("upgradeServer"));
            QVERIFY(KTTestDatabase::recreateDatabase(server, KTVersion::upgradeDatabaseName()));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("upgradeServer"));
        QVERIFY(KTTestDatabase::open(upgradeConnection, KTVersion::upgradeDatabaseName()).isOpen());
        KTUpgradeDatabase upgrade(upgradeDatabase());
        QVERIFY2(upgrade.createSchema(), qPrintable(upgrade.lastError()));
        setAccount(account());

        _appDir = std::make_unique<QTemporaryDir>();
        _updater = std::make_unique<KTServerUpdater>();
        _updater->setApplicationDirectory(_appDir->path());
        // The table that records which releases ran is created from its definition.
        QVERIFY(QDir().mkpath(_appDir->filePath(QStringLiteral("OmbrixDbData/Tables"))));
        QVERIFY(QFile::copy(qEnvironmentVariable("OMBRIX_APP_DIR") + QStringLiteral("/OmbrixDbData/Tables/srvReleaseRun.otd"),
                            _appDir->filePath(QStringLiteral("OmbrixDbData/Tables/srvReleaseRun.otd"))));
    }

    void cleanup()
    {
        _updater.reset();
        _appDir.reset();
    }

    void cleanupTestCase()
    {
        QSqlDatabase::removeDatabase(upgradeConnection);
        KTTestDatabase::dropDatabase(KTVersion::upgradeDatabaseName());
        KTTestDatabase::dropDatabase(installDb);
    }

    // --- check -------------------------------------------------------------

    void check_refusesAccount_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("active");
        QTest::newRow("unknown company") << QStringLiteral("Otra Empresa") << accountPassword << true;
        QTest::newRow("wrong password") << company << QStringLiteral("cla've") << true;
        QTest::newRow("inactive account") << company << accountPassword << false;
    }

    void check_refusesAccount()
    {
        QFETCH(QString, name);
        QFETCH(QString, password);
        QFETCH(bool, active);
        KTUpgradeDatabase::Account changed = account();
        changed.company = name;
        changed.password = password;
        changed.active = active;
        execute(QStringLiteral("DELETE FROM _Client"));
        setAccount(changed);
        publishServer(QStringLiteral("01.32.00"), {{QStringLiteral("libKTNew.so"), "new"}});

        QVERIFY(run(true));
        QCOMPARE(errorCount(*_events), 1);
        QCOMPARE(lastStatus(), 0);
        QCOMPARE(_lists->count(), 0);
        QVERIFY(!QFileInfo::exists(downloads()));
    }

    void check_unreachableUpgradeServer()
    {
        qputenv("OMBRIX_UPGRADE_PASSWORD", "not-the-password");
        const bool ended = run();
        qputenv("OMBRIX_UPGRADE_PASSWORD", KTTestDatabase::password().toUtf8());
        QVERIFY(ended);
        QCOMPARE(eventTexts(*_events).last(),
                 QStringLiteral("La conexión al servidor de upgrades falló.\nContáctese con su proveedor."));
        QCOMPARE(errorCount(*_events), 1);
        QCOMPARE(lastStatus(), 0);
    }

    void check_newerInstalledServerSkipsServerTable()
    {
        KTUpgradeDatabase::Account changed = account();
        changed.upgradeServer = QStringLiteral("01.30.00");
        changed.upgradeClient = QStringLiteral("02.09.00");
        setAccount(changed);
        publishServer(QStringLiteral("01.30.00"), {{QStringLiteral("libKTOld.so"), "old"}});
        publish(2, KTVersion::operatingSystem().toInt(), QStringLiteral("02.09.00"),
                {{QStringLiteral("OmbrixClient"), "client"}});

        QVERIFY(run());
        QCOMPARE(errorCount(*_events), 0);
        QVERIFY(serverTable().isEmpty());
        QVERIFY(listText(2).isEmpty());
        QVERIFY(listText(3).isEmpty());
        QCOMPARE(clientTable().size(), 1);
        const QStringList texts = eventTexts(*_events);
        QVERIFY(!texts.join(QLatin1Char('\n')).contains(QStringLiteral("Ombrix Server (version")));
        QVERIFY(texts.contains(QStringLiteral(
            "Se encontró una nueva versión de Ombrix Client (version  02.09.00). Generando tabla de descarga ...")));
        QCOMPARE(lastStatus(), 0);
    }

    void check_recordsTheInstalledRelease()
    {
        // A new account has no recorded release at all.
        KTUpgradeDatabase::Account changed = account();
        changed.currentServer = QString();
        changed.currentClient = QString();
        setAccount(changed);
        writeFile(downloads(QStringLiteral("ClientVersion.txt")), "[ClientValues]\nClientVersion=02.09.00\n");
        publishServer(QStringLiteral("01.32.00"), {{QStringLiteral("libKTNew.so"), "new"}});
        publish(2, KTVersion::operatingSystem().toInt(), KTVersion::ombrixClientVersion(),
                {{QStringLiteral("OmbrixClient"), "client"}});

        QVERIFY(run());
        QCOMPARE(accountValue(QStringLiteral("codCurrentServerSoftware")).toString(), KTVersion::ombrixServerVersion());
        QCOMPARE(accountValue(QStringLiteral("codCurrentClientSoftware")).toString(), QStringLiteral("02.09.00"));
        const QStringList texts = eventTexts(*_events);
        QVERIFY(texts.contains(QStringLiteral("Las versiones se encuentran correctamente sincronizadas.")));
        QVERIFY(texts.contains(QStringLiteral("Las versiones de los clientes se encuentran correctamente sincronizadas.")));
    }

    void check_statesOfServerEntries()
    {
        publishServer(QStringLiteral("01.31.50"), {{QStringLiteral("libKTNew.so"), "between"}},
                      QStringLiteral("SQL|UPDATE a SET b = 1|"));
        publishServer(QStringLiteral("01.32.00"),
                      {{QStringLiteral("OmbrixServerRunner"), "runner"},
                       {QStringLiteral("lib/libKTNew.so"), "new"},
                       {QStringLiteral("lib/libKTKept.so"), "kept"}},
                      QStringLiteral("SQL|UPDATE a SET b = 2|"));
        // Installed and identical, installed but different, and already downloaded.
        writeFile(_appDir->filePath(QStringLiteral("OmbrixServerRunner")), "runner");
        writeFile(_appDir->filePath(QStringLiteral("OmbrixServerComponents/libKTNew.so")), "older");
        writeFile(downloads(serverFolder() + QStringLiteral("/libKTKept.so")), "kept");

        QVERIFY(run());
        const ServerTable table = serverTable();
        QCOMPARE(table.keys(), QStringList({QStringLiteral("KTKept"), QStringLiteral("KTNew"),
                                            QStringLiteral("OmbrixServerRunner")}));
        QCOMPARE(table.value(QStringLiteral("OmbrixServerRunner")).at(State), QStringLiteral("2"));
        QCOMPARE(table.value(QStringLiteral("KTNew")).at(State), QStringLiteral("0"));
        QCOMPARE(table.value(QStringLiteral("KTKept")).at(State), QStringLiteral("1"));
        QCOMPARE(table.value(QStringLiteral("KTNew")).at(RelativePath), QStringLiteral("lib"));
        QCOMPARE(table.value(QStringLiteral("KTNew")).at(Folder), serverFolder());
        QCOMPARE(table.value(QStringLiteral("KTNew")).size(), 13);
        // Every release after the installed one, up to the assigned one.
        QCOMPARE(listText(3), QStringLiteral("SQL|UPDATE a SET b = 1|\nSQL|UPDATE a SET b = 2|\n"));
        QCOMPARE(listText(2), QStringLiteral("Notas 01.31.50\nNotas 01.32.00\n"));
        QVERIFY(QFileInfo(downloads(serverFolder())).isDir());
    }

    void check_nothingNewToDownload()
    {
        publishServer(QStringLiteral("01.32.00"), {{QStringLiteral("OmbrixServerRunner"), "runner"}});
        writeFile(_appDir->filePath(QStringLiteral("OmbrixServerRunner")), "runner");

        QVERIFY(run());
        QVERIFY(eventTexts(*_events).contains(QStringLiteral("No existen versiones nuevas de OmbrixServer asignadas a esta cuenta.")));
        QVERIFY(eventTexts(*_events).contains(QStringLiteral("No existen versiones de Ombrix Client nuevas asignadas a esta cuenta.")));
        bool sawNothingNew = false;
        for (const QList<QVariant>& status : *_statuses)
            sawNothingNew = sawNothingNew || status.at(0).toInt() == 2;
        QVERIFY(sawNothingNew);
        QCOMPARE(lastStatus(), 0);
    }

    void check_laterServerRowReplacesEarlier()
    {
        publishServer(QStringLiteral("01.32.00"),
                      {{QStringLiteral("a/libKTTwin.so"), "first"}, {QStringLiteral("b/libKTTwin.so.1"), "second"}});

        QVERIFY(run());
        const ServerTable table = serverTable();
        QCOMPARE(table.size(), 1);
        QCOMPARE(table.value(QStringLiteral("KTTwin")).at(RelativePath), QStringLiteral("b"));
    }

    void check_clientObjectPerPlatform()
    {
        KTUpgradeDatabase::Account changed = account();
        changed.upgradeServer = QStringLiteral("01.30.00");
        changed.upgradeClient = QStringLiteral("02.09.00");
        changed.clientPlatforms = {KT::Linux64, KT::Windows64};
        setAccount(changed);
        publish(2, KT::Linux64, QStringLiteral("02.09.00"), {{QStringLiteral("OmbrixClient"), "linux"}},
                QStringLiteral("CLI|linux|"));
        publish(2, KT::Windows64, QStringLiteral("02.09.00"), {{QStringLiteral("OmbrixClient.exe"), "windows"}},
                QStringLiteral("CLI|windows|"));
        // Offered, but not for a platform of this account.
        publish(2, KT::Windows32, QStringLiteral("02.09.00"), {{QStringLiteral("OmbrixClient.exe"), "w32"}});

        QVERIFY(run());
        const ClientTable table = clientTable();
        QCOMPARE(table.size(), 2);
        QMap<QString, QString> folderByPlatform;
        for (const QStringList& entry : table.values(QStringLiteral("OmbrixClient")))
            folderByPlatform.insert(entry.at(Platform), entry.at(Folder));
        QCOMPARE(folderByPlatform, (QMap<QString, QString>{{QStringLiteral("2"), QStringLiteral("OmbrixClient-Linux64-Download")},
                                                           {QStringLiteral("4"), QStringLiteral("OmbrixClient-Windows64-Download")}}));
        QVERIFY(QFileInfo(downloads(QStringLiteral("OmbrixClient-Windows64-Download"))).isDir());
        // The commands of the last row's platform.
        QVERIFY(listText(5) == QStringLiteral("CLI|linux|\n") || listText(5) == QStringLiteral("CLI|windows|\n"));
    }

    void check_refusesPathsOutsideTheInstallation_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("absolute") << QStringLiteral("/tmp");
        QTest::newRow("climbing") << QStringLiteral("lib/../..");
    }

    void check_refusesPathsOutsideTheInstallation()
    {
        QFETCH(QString, path);
        publishServer(QStringLiteral("01.32.00"), {{QStringLiteral("libKTNew.so"), "new"}});
        execute(QStringLiteral("UPDATE _SoftwareFile SET fldRelativePath = '%1'").arg(path));

        QVERIFY(run(true));
        QCOMPARE(errorCount(*_events), 1);
        QCOMPARE(lastStatus(), 0);
        QCOMPARE(_lists->count(), 0);
    }

    // --- download ----------------------------------------------------------

    void download_writesFilesAndIndex()
    {
        publishServer(QStringLiteral("01.32.00"),
                      {{QStringLiteral("OmbrixServerRunner"), "runner"},
                       {QStringLiteral("empty.cfg"), QByteArray()},
                       {QStringLiteral("lib/libKTFresh.so"), "fresh"},
                       {QStringLiteral("lib/libKTKept.so"), "kept"}},
                      QStringLiteral("SQL|UPDATE a SET b = 2|"));
        writeFile(_appDir->filePath(QStringLiteral("OmbrixServerRunner")), "runner");
        const QString kept = downloads(serverFolder() + QStringLiteral("/libKTKept.so"));
        writeFile(kept, "kept");
        QFile(kept).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);

        QVERIFY(run(true));
        QCOMPARE(errorCount(*_events), 0);
        QCOMPARE(_completed->count(), 1);
        QCOMPARE(lastStatus(), 0);

        const QFileInfo empty(downloads(serverFolder() + QStringLiteral("/empty.cfg")));
        QVERIFY(empty.exists());
        QCOMPARE(empty.size(), 0);
        const QFileDevice::Permissions executable = QFileDevice::ReadOwner | QFileDevice::WriteOwner
            | QFileDevice::ExeOwner | QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
            | QFileDevice::ExeOther;
        QCOMPARE(empty.permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser),
                 executable);
        QCOMPARE(readFile(downloads(serverFolder() + QStringLiteral("/libKTFresh.so"))), QByteArray("fresh"));
        // Verified before: left as it was.
        QCOMPARE(QFile(kept).permissions() & QFileDevice::ExeOwner, QFileDevice::Permissions());
        QVERIFY(!QFileInfo::exists(downloads(serverFolder() + QStringLiteral("/OmbrixServerRunner"))));
        QCOMPARE(_serverReports->count(), 1);
        QCOMPARE(_serverReports->first(), QList<QVariant>({QStringLiteral("KTFresh"), 1}));

        QSettings index(downloads(QStringLiteral("DownloadedServerVersion.txt")), QSettings::IniFormat);
        QCOMPARE(index.value(QStringLiteral("ServerValues/ServerVersion")).toString(), QStringLiteral("01.32.00"));
        QCOMPARE(index.value(QStringLiteral("ServerValues/ServerCommands")).toString(),
                 QStringLiteral("SQL|UPDATE a SET b = 2|\n"));
        index.beginGroup(QStringLiteral("Files"));
        QCOMPARE(index.childKeys().size(), 3);
        const QString platform = KTVersion::operatingSystem();
        QCOMPARE(index.value(QStringLiteral("empty.cfg")).toString(), platform + QStringLiteral(",."));
        QCOMPARE(index.value(QStringLiteral("libKTFresh.so")).toString(), platform + QStringLiteral(",lib"));
        QCOMPARE(index.value(QStringLiteral("libKTKept.so")).toString(), platform + QStringLiteral(",lib"));
        index.endGroup();
        QVERIFY(!QFileInfo::exists(downloads(QStringLiteral("DownloadedClientVersion.txt"))));
        QCOMPARE(accountValue(QStringLiteral("fldServerDownloaded")).toInt(), 1);
    }

    void download_clientFilesPerPlatform()
    {
        KTUpgradeDatabase::Account changed = account();
        changed.upgradeServer = QStringLiteral("01.30.00");
        changed.upgradeClient = QStringLiteral("02.09.00");
        changed.clientPlatforms = {KT::Linux64, KT::Windows64};
        setAccount(changed);
        publish(2, KT::Linux64, QStringLiteral("02.09.00"), {{QStringLiteral("OmbrixClient"), "linux"}});
        publish(2, KT::Windows64, QStringLiteral("02.09.00"), {{QStringLiteral("OmbrixClient.exe"), "windows"}},
                QStringLiteral("CLI|windows|"));
        // An earlier download of the Linux program, already verified.
        writeFile(downloads(QStringLiteral("OmbrixClient-Linux64-Download/OmbrixClient")), "linux");

        QVERIFY(run(true));
        QCOMPARE(errorCount(*_events), 0);
        QCOMPARE(readFile(downloads(QStringLiteral("OmbrixClient-Windows64-Download/OmbrixClient.exe"))),
                 QByteArray("windows"));
        QCOMPARE(_clientReports->count(), 1);
        QCOMPARE(_clientReports->first(), QList<QVariant>({QStringLiteral("OmbrixClient"), 1, int(KT::Windows64)}));

        QSettings index(downloads(QStringLiteral("DownloadedClientVersion.txt")), QSettings::IniFormat);
        QCOMPARE(index.value(QStringLiteral("ClientValues/ClientVersion")).toString(), QStringLiteral("02.09.00"));
        QCOMPARE(index.value(QStringLiteral("Files/OmbrixClient")).toString(), QStringLiteral("2,."));
        QCOMPARE(index.value(QStringLiteral("Files/OmbrixClient.exe")).toString(), QStringLiteral("4,."));
        QVERIFY(!QFileInfo::exists(downloads(QStringLiteral("DownloadedServerVersion.txt"))));
        QCOMPARE(accountValue(QStringLiteral("fldClientDownloaded")).toInt(), 1);
    }

    void download_failureLeavesNoIndex()
    {
        publishServer(QStringLiteral("01.32.00"),
                      {{QStringLiteral("libKTAaa.so"), "a"}, {QStringLiteral("libKTZzz.so"), "z"}});
        // An index of an earlier download goes before anything is fetched.
        writeFile(downloads(QStringLiteral("DownloadedServerVersion.txt")), "[ServerValues]\nServerVersion=01.31.50\n");
        // The second file's name would leave the download folder.
        execute(QStringLiteral("UPDATE _Blob SET fldDescription = '../libKTZzz.so' WHERE fldName = 'KTZzz'"));

        QVERIFY(run(true));
        QCOMPARE(errorCount(*_events), 1);
        QCOMPARE(_completed->count(), 0);
        QCOMPARE(lastStatus(), 0);
        QCOMPARE(readFile(downloads(serverFolder() + QStringLiteral("/libKTAaa.so"))), QByteArray("a"));
        QVERIFY(!QFileInfo::exists(downloads(QStringLiteral("libKTZzz.so"))));
        QVERIFY(!QFileInfo::exists(downloads(QStringLiteral("DownloadedServerVersion.txt"))));
        QCOMPARE(accountValue(QStringLiteral("fldServerDownloaded")).toInt(), 0);

        QVERIFY(run());
        QCOMPARE(serverTable().value(QStringLiteral("KTAaa")).at(State), QStringLiteral("1"));
        QCOMPARE(serverTable().value(QStringLiteral("KTZzz")).at(State), QStringLiteral("0"));
    }

    void download_withoutCheckDoesNothing()
    {
        QSignalSpy statuses(_updater.get(), &KTServerUpdater::upgradeStatusChanged);
        _updater->downloadUpdates();
        QCoreApplication::processEvents();
        QCOMPARE(statuses.count(), 0);
    }

    void download_refusesFilesThatDoNotMatch_data()
    {
        QTest::addColumn<QString>("tampering");
        QTest::newRow("other contents") << QStringLiteral("UPDATE _Blob SET fldContents = 'otro' WHERE fldName = 'KTZzz'");
        QTest::newRow("other size") << QStringLiteral("UPDATE _Blob SET fldSize = 9 WHERE fldName = 'KTZzz'");
        QTest::newRow("other digest")
            << QStringLiteral("UPDATE _Blob SET fldSHA1 = 'AAAAAAAAAAAAAAAAAAAAAAAAAAA=' WHERE fldName = 'KTZzz'");
    }

    // A file whose contents do not match the size and SHA-1 the upgrade
    // database holds is deleted, and the release is not offered.
    void download_refusesFilesThatDoNotMatch()
    {
        QFETCH(QString, tampering);
        publishServer(QStringLiteral("01.32.00"),
                      {{QStringLiteral("libKTAaa.so"), "a"}, {QStringLiteral("libKTZzz.so"), "zeta"}});
        execute(tampering);
        // A stale copy of the same file from an earlier download goes too.
        writeFile(downloads(serverFolder() + QStringLiteral("/libKTZzz.so")), "antes");

        QVERIFY(run(true));
        QCOMPARE(errorCount(*_events), 1);
        QCOMPARE(_completed->count(), 0);
        QVERIFY(!QFileInfo::exists(downloads(serverFolder() + QStringLiteral("/libKTZzz.so"))));
        QVERIFY(!QFileInfo::exists(downloads(QStringLiteral("DownloadedServerVersion.txt"))));
        QCOMPARE(accountValue(QStringLiteral("fldServerDownloaded")).toInt(), 0);
    }

    // An account without a client release still gets its server release.
    void check_accountWithoutClientRelease()
    {
        KTUpgradeDatabase::Account changed = account();
        changed.upgradeClient = QString();
        setAccount(changed);
        publishServer(QStringLiteral("01.32.00"), {{QStringLiteral("libKTNew.so"), "new"}});

        QVERIFY(run());
        QCOMPARE(errorCount(*_events), 0);
        QCOMPARE(serverTable().size(), 1);
        QVERIFY(clientTable().isEmpty());
    }

    // A release whose files cannot all be stored is not published at all.
    void publish_isAllOrNothing()
    {
        QTemporaryDir folder;
        QVERIFY(writeFile(folder.filePath(QStringLiteral("libKTBien.so")), "bien"));
        // A folder longer than the column that keeps it.
        const QString deep = QString(200, QLatin1Char('a')) + QLatin1Char('/') + QString(200, QLatin1Char('b'));
        QVERIFY(writeFile(folder.filePath(deep + QStringLiteral("/libKTLargo.so")), "largo"));
        KTUpgradeDatabase::Release release;
        release.version = QStringLiteral("01.33.00");
        release.platform = KTVersion::operatingSystem().toInt();
        release.date = QStringLiteral("2026-12-01");
        KTUpgradeDatabase upgrade(upgradeDatabase());
        QVERIFY(!upgrade.publish(release, folder.path()));
        for (const char* table : {"_Software", "_SoftwareFile", "_Blob"}) {
            QSqlQuery rows(upgradeDatabase());
            QVERIFY(rows.exec(QStringLiteral("SELECT COUNT(*) FROM %1").arg(QLatin1String(table))) && rows.next());
            QVERIFY2(rows.value(0).toInt() == 0, table);
        }
    }

    // Quitting during a check: the thread ends before its connection goes.
    void stop_waitsForTheCheck()
    {
        publishServer(QStringLiteral("01.32.00"), {{QStringLiteral("libKTNew.so"), "new"}});
        QSignalSpy started(_updater.get(), &KTServerUpdater::upgradeThreadStarted);
        _updater->checkUpdates(company, accountPassword);
        _updater->stop();
        QVERIFY(!_updater->isRunning());
        QVERIFY(!QSqlDatabase::contains(QStringLiteral("checkUpdates")));
    }

    // --- install -----------------------------------------------------------

    void install_withoutSqlLinesReplacesOnlyTheRunner()
    {
        const QString marker = _appDir->filePath(QStringLiteral("runner-started"));
        const QString runner = downloads(serverFolder() + QStringLiteral("/OmbrixServerRunner"));
        writeFile(runner, "#!/bin/sh\ntouch \"$(dirname \"$0\")/runner-started\"\n");
        QFile(runner).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        writeFile(downloads(serverFolder() + QStringLiteral("/libKTNew.so")), "new");
        writeFile(_appDir->filePath(QStringLiteral("OmbrixServerRunner")), "old runner");

        QSignalSpy events(_updater.get(), &KTServerUpdater::eventMessage);
        _updater->performInstall(QStringLiteral("FILE|libKTNew.so|lib\nNOTA|SQL|no es una sentencia"));
        disconnect(qApp, &QCoreApplication::aboutToQuit, _updater.get(), nullptr);
        QCOMPARE(errorCount(events), 0);
        QCOMPARE(readFile(_appDir->filePath(QStringLiteral("OmbrixServerRunner"))), readFile(runner));
        QVERIFY(!QFileInfo::exists(_appDir->filePath(QStringLiteral("libKTNew.so"))));
        // Renamed into place: no copy is left beside it.
        QCOMPARE(QDir(_appDir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"OmbrixServerRunner"});

        _updater->executeProcess();
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(marker), 10000);
    }

    void install_runsSqlLines_data()
    {
        QTest::addColumn<QString>("commands");
        QTest::addColumn<QStringList>("notes");
        QTest::addColumn<bool>("installed");
        QTest::newRow("every line runs") << QStringLiteral("SQL|  INSERT INTO srvNote\tVALUES ('uno') |comentario\n"
                                                           "FILE|libKTNew.so|lib\n  SQL |INSERT INTO srvNote VALUES ('dos')|")
                                         << QStringList{"uno", "dos"} << true;
        QTest::newRow("a failing line undoes the others")
            << QStringLiteral("SQL|INSERT INTO srvNote VALUES ('tres')|\nSQL|INSERT INTO srvNoExiste VALUES (1)|\n"
                              "SQL|INSERT INTO srvNote VALUES ('cuatro')|")
            << QStringList() << false;
    }

    // A release's SQL lines run in one transaction before anything else; a
    // failing one stops the installation: the runner stays, no restart.
    void install_runsSqlLines()
    {
        QFETCH(QString, commands);
        QFETCH(QStringList, notes);
        QFETCH(bool, installed);
        KTDatabaseController controller;
        QVERIFY(controller.establishConnection(KTTestDatabase::controllerParameters("install", installDb)));
        QVERIFY(controller.customQuery("DROP TABLE IF EXISTS srvNote, srvReleaseRun").isActive());
        QVERIFY(createGroups(controller));
        QVERIFY(controller.customQuery("CREATE TABLE srvNote (fldText VARCHAR(20)) ENGINE=InnoDB").isActive());
        _updater->setDbController(&controller);
        writeFile(downloads(serverFolder() + QStringLiteral("/OmbrixServerRunner")), "new runner");
        writeFile(_appDir->filePath(QStringLiteral("OmbrixServerRunner")), "old runner");
        writeFile(downloads(QStringLiteral("DownloadedServerVersion.txt")), "[ServerValues]\nServerVersion=01.32.00\n");

        QSignalSpy events(_updater.get(), &KTServerUpdater::eventMessage);
        _updater->performInstall(commands);
        const bool restarting = disconnect(qApp, &QCoreApplication::aboutToQuit, _updater.get(), nullptr);
        QSqlQuery rows = controller.customQuery("SELECT fldText FROM srvNote");
        QStringList stored;
        while (rows.next())
            stored << rows.value(0).toString();
        QCOMPARE(stored, notes);
        QCOMPARE(errorCount(events), installed ? 0 : 1);
        QCOMPARE(restarting, installed);
        QCOMPARE(readFile(_appDir->filePath(QStringLiteral("OmbrixServerRunner"))),
                 QByteArray(installed ? "new runner" : "old runner"));
        const QSettings index(downloads(QStringLiteral("DownloadedServerVersion.txt")), QSettings::IniFormat);
        QCOMPARE(index.value(QStringLiteral("ServerValues/CommandsExecuted")).toBool(), installed);
        _updater->setDbController(nullptr);
    }

    // Lines the runner left pending run once, at the next start; a failing
    // one keeps them pending, keeps the server from serving and tells the
    // operator the way back. The database records the release in the lines'
    // transaction: a crash after the commit, before the file is deleted,
    // does not run them again.
    void pendingSqlLinesRunOnce()
    {
        KTDatabaseController controller;
        QVERIFY(controller.establishConnection(KTTestDatabase::controllerParameters("pending", installDb)));
        QVERIFY(controller.customQuery("DROP TABLE IF EXISTS srvNote, srvReleaseRun").isActive());
        QVERIFY(createGroups(controller));
        QVERIFY(controller.customQuery("CREATE TABLE srvNote (fldText VARCHAR(20)) ENGINE=InnoDB").isActive());
        _updater->setDbController(&controller);
        const QString pending = downloads(QStringLiteral("PendingServerCommands.txt"));
        QVERIFY(_updater->runPendingCommands());

        QSignalSpy events(_updater.get(), &KTServerUpdater::eventMessage);
        writeFile(pending, "[ServerValues]\nServerVersion=01.32.00\nServerCommands=\"SQL|INSERT INTO srvNote VALUES "
                           "('x')|\\nSQL|INSERT INTO srvNo VALUES ('x')|\\n\"\n");
        QVERIFY(!_updater->runPendingCommands());
        QVERIFY(QFileInfo::exists(pending));
        QVERIFY2(eventTexts(events).last().contains("OmbrixServerRunner --rollback"), qPrintable(eventTexts(events).last()));
        QCOMPARE(count(controller, "SELECT COUNT(*) FROM srvNote"), 0);
        QCOMPARE(count(controller, "SELECT COUNT(*) FROM srvReleaseRun"), 0);

        const QByteArray good = "[ServerValues]\nServerVersion=01.32.00\nServerCommands=\"SQL|INSERT INTO srvNote "
                                "VALUES ('x')|\\n\"\n";
        writeFile(pending, good);
        QVERIFY(_updater->runPendingCommands());
        QVERIFY(!QFileInfo::exists(pending));
        QVERIFY(_updater->runPendingCommands());
        QCOMPARE(count(controller, "SELECT COUNT(*) FROM srvNote"), 1);
        QCOMPARE(count(controller, "SELECT COUNT(*) FROM srvReleaseRun WHERE fldRelease = '01.32.00'"), 1);

        // A crash between the commit and the file's removal: the file is back.
        writeFile(pending, good);
        QVERIFY(_updater->runPendingCommands());
        QVERIFY(!QFileInfo::exists(pending));
        QCOMPARE(count(controller, "SELECT COUNT(*) FROM srvNote"), 1);
        _updater->setDbController(nullptr);
    }

    // An Install that ended before the runner learnt that its lines ran
    // leaves them pending: they are not run a second time at the start.
    void install_linesAreNotRunAgainWhenLeftPending()
    {
        KTDatabaseController controller;
        QVERIFY(controller.establishConnection(KTTestDatabase::controllerParameters("twice", installDb)));
        QVERIFY(controller.customQuery("DROP TABLE IF EXISTS srvNote, srvReleaseRun").isActive());
        QVERIFY(createGroups(controller));
        QVERIFY(controller.customQuery("CREATE TABLE srvNote (fldText VARCHAR(20)) ENGINE=InnoDB").isActive());
        _updater->setDbController(&controller);
        writeFile(downloads(QStringLiteral("DownloadedServerVersion.txt")), "[ServerValues]\nServerVersion=01.33.00\n");
        const QString commands = QStringLiteral("SQL|INSERT INTO srvNote VALUES ('una vez')|\n");
        _updater->performInstall(commands);
        disconnect(qApp, &QCoreApplication::aboutToQuit, _updater.get(), nullptr);
        writeFile(downloads(QStringLiteral("PendingServerCommands.txt")),
                  "[ServerValues]\nServerVersion=01.33.00\nServerCommands=\"" + commands.toUtf8().replace("\n", "\\n")
                      + "\"\n");
        QVERIFY(_updater->runPendingCommands());
        QCOMPARE(count(controller, "SELECT COUNT(*) FROM srvNote"), 1);
        _updater->setDbController(nullptr);
    }

    // The service's processes end with the panel: the service, not the panel, starts the runner.
    // The service's user may not write the programs: the runner comes into
    // place with the rest, from the service's start-up step.
    void install_underTheServiceEndsThePanelForARestart()
    {
        writeFile(downloads(serverFolder() + QStringLiteral("/OmbrixServerRunner")), "new runner");
        writeFile(_appDir->filePath(QStringLiteral("OmbrixServerRunner")), "old runner");
        qputenv("OMBRIX_SERVICE", "1");
        QTimer::singleShot(0, _updater.get(), [this] { _updater->performInstall(QStringLiteral("FILE|libKTNew.so|lib")); });
        QEventLoop loop;
        const int exitCode = loop.exec();
        qunsetenv("OMBRIX_SERVICE");
        QCOMPARE(exitCode, KTServerUpdater::serviceRestartExitCode);
        QVERIFY(!disconnect(qApp, &QCoreApplication::aboutToQuit, _updater.get(), nullptr));
        QCOMPARE(readFile(_appDir->filePath(QStringLiteral("OmbrixServerRunner"))), QByteArray("old runner"));
    }
};

QTEST_GUILESS_MAIN(tst_KTServerUpdater)
#include "tst_ktserverupdater.moc"
