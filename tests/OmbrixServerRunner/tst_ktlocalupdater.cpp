#include "KTMessageBoxCatcher.h"
#include "KTTestFiles.h"

#include <KTLocalUpdater.h>
#include <KTVersion.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

// The promotion of a downloaded release in a temporary application directory.
class tst_KTLocalUpdater : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> _app;
    std::unique_ptr<KTLocalUpdater> _updater;
    const QString _platform = KTVersion::operatingSystem();
    const QString _word = KTVersion::operatingSystemLiteral();

    QString app(const QString& path) const { return _app->filePath(path); }
    QString downloads(const QString& path) const { return _app->filePath(QStringLiteral("Downloads/") + path); }

    // An index file as the panel's download writes it.
    void writeIndex(const QString& name, const QString& group, const QString& version,
                    const QMap<QString, QString>& files)
    {
        QSettings index(downloads(name), QSettings::IniFormat);
        index.setValue(group + (group == QLatin1String("ServerValues") ? "/ServerVersion" : "/ClientVersion"), version);
        index.beginGroup(QStringLiteral("Files"));
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            index.setValue(it.key(), it.value());
        index.endGroup();
        index.sync();
        QVERIFY(QFile::exists(downloads(name)));
    }

    void writeClientIndex(const QMap<QString, QString>& files)
    {
        writeIndex(QStringLiteral("DownloadedClientVersion.txt"), QStringLiteral("ClientValues"),
                   QStringLiteral("02.09.00"), files);
    }

    void writeServerIndex(const QMap<QString, QString>& files)
    {
        writeIndex(QStringLiteral("DownloadedServerVersion.txt"), QStringLiteral("ServerValues"),
                   QStringLiteral("01.32.00"), files);
    }

private Q_SLOTS:
    void init()
    {
        _app = std::make_unique<QTemporaryDir>();
        _updater = std::make_unique<KTLocalUpdater>();
        _updater->setApplicationDirectory(_app->path());
    }

    void withoutDownloadsTheFolderIsCreated()
    {
        QVERIFY(_updater->checkForUpdates(QStringLiteral("Downloads")));
        QVERIFY(QFileInfo(downloads(QString())).isDir());
        QCOMPARE(_updater->exitType(), int(KTLocalUpdater::StartPanel));
    }

    void emptyIndexesStillReplaceTheCurrentOnes()
    {
        writeFile(downloads(QStringLiteral("ClientVersion.txt")), "[ClientValues]\nClientVersion=02.08.01\n");
        writeClientIndex({});
        writeServerIndex({});

        QVERIFY(_updater->checkForUpdates(QStringLiteral("Downloads")));
        QSettings current(downloads(QStringLiteral("ClientVersion.txt")), QSettings::IniFormat);
        QCOMPARE(current.value(QStringLiteral("ClientValues/ClientVersion")).toString(), QStringLiteral("02.09.00"));
        QVERIFY(!QFile::exists(downloads(QStringLiteral("DownloadedClientVersion.txt"))));
        QVERIFY(!QFile::exists(downloads(QStringLiteral("DownloadedServerVersion.txt"))));
        QCOMPARE(readFile(app(QStringLiteral("UpgradeHelper.bat"))),
                 QByteArray("@ping 127.0.0.1 -n 2 -w 1000 > nul \n@ping 127.0.0.1 -n 2 -w 1000> nul \r\n"));
        QCOMPARE(_updater->exitType(), int(KTLocalUpdater::StartPanel));
    }

    void filesGoToTheirFoldersCreatedOnTheWay()
    {
        const QString clientFolder = QStringLiteral("OmbrixClient-") + _word;
        writeFile(downloads(clientFolder + QStringLiteral("-Download/OmbrixClient")), "client 2.9");
        writeFile(downloads(QStringLiteral("OmbrixClient-Windows64-Download/OmbrixClient.exe")), "client w64");
        writeClientIndex({{QStringLiteral("OmbrixClient"), _platform + QStringLiteral(",bin/nuevo")},
                          {QStringLiteral("OmbrixClient.exe"), QStringLiteral("4,.")}});
        const QString serverFolder = QStringLiteral("OmbrixServer-") + _word;
        writeFile(downloads(serverFolder + QStringLiteral("/libKTNew.so")), "new");
        writeFile(downloads(serverFolder + QStringLiteral("/OmbrixServerRunner")), "runner 1.32");
        QFile(downloads(serverFolder + QStringLiteral("/OmbrixServerRunner")))
            .setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        writeFile(app(QStringLiteral("OmbrixServerRunner")), "runner 1.31");
        writeServerIndex({{QStringLiteral("libKTNew.so"), _platform + QStringLiteral(",OmbrixServerComponents/Nuevo")},
                          {QStringLiteral("OmbrixServerRunner"), _platform + QStringLiteral(",.")}});

        QVERIFY(_updater->checkForUpdates(QStringLiteral("Downloads")));
        QCOMPARE(readFile(downloads(clientFolder + QStringLiteral("/bin/nuevo/OmbrixClient"))), QByteArray("client 2.9"));
        QCOMPARE(readFile(downloads(QStringLiteral("OmbrixClient-Windows64/OmbrixClient.exe"))), QByteArray("client w64"));
        // The download folders keep their files for the next clients.
        QVERIFY(QFile::exists(downloads(clientFolder + QStringLiteral("-Download/OmbrixClient"))));
        QCOMPARE(readFile(app(QStringLiteral("OmbrixServerComponents/Nuevo/libKTNew.so"))), QByteArray("new"));
        QCOMPARE(readFile(app(QStringLiteral("OmbrixServerRunner"))), QByteArray("runner 1.32"));
        QVERIFY(QFileInfo(app(QStringLiteral("OmbrixServerRunner"))).isExecutable());
        QVERIFY(!QFile::exists(downloads(QStringLiteral("DownloadedServerVersion.txt"))));
        QVERIFY(QFile::exists(downloads(QStringLiteral("ClientVersion.txt"))));

        // Nothing left to promote: the panel starts at once.
        QVERIFY(_updater->checkForUpdates(QStringLiteral("Downloads")));
        QCOMPARE(_updater->exitType(), int(KTLocalUpdater::StartPanel));
    }

    void failureKeepsWhatIsLeftForTheNextStart()
    {
        const QString serverFolder = QStringLiteral("OmbrixServer-") + _word;
        writeFile(downloads(serverFolder + QStringLiteral("/libKTAaa.so")), "a");
        writeServerIndex({{QStringLiteral("libKTAaa.so"), _platform + QStringLiteral(",.")},
                          {QStringLiteral("libKTGone.so"), _platform + QStringLiteral(",.")}});
        // The installed copy of the file that cannot be copied keeps working.
        writeFile(app(QStringLiteral("libKTGone.so")), "installed");
        KTMessageBoxCatcher boxes;

        QVERIFY(!_updater->checkForUpdates(QStringLiteral("Downloads")));
        QCOMPARE(boxes.titles, QStringList({QStringLiteral("Error")}));
        QCOMPARE(boxes.texts, QStringList({QStringLiteral("No se puede copiar el archivo : libKTGone.so")}));
        QCOMPARE(_updater->exitType(), int(KTLocalUpdater::StartNothing));
        QVERIFY(QFile::exists(downloads(QStringLiteral("DownloadedServerVersion.txt"))));
        QVERIFY(QFile::exists(downloads(serverFolder + QStringLiteral("/libKTAaa.so"))));
        QCOMPARE(readFile(app(QStringLiteral("libKTGone.so"))), QByteArray("installed"));
        QCOMPARE(QDir(_app->path()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral("libKTGone")),
                 QStringList{QStringLiteral("libKTGone.so")});
    }

    // The server files a promotion replaces are kept, those of the last
    // promotion only; a promotion repeated after a failure keeps the files
    // of the first attempt (the ones in place may be new already); rollback
    // puts them back, removes what the release added and its pending lines.
    void promotionKeepsReplacedFilesForARollback()
    {
        const QString serverFolder = QStringLiteral("OmbrixServer-") + _word;
        writeFile(app(QStringLiteral("libKTOld.so")), "old");
        writeFile(app(QStringLiteral("OmbrixServerComponents/libKTPlugin.so")), "old plugin");
        writeFile(downloads(QStringLiteral("Previous/01.20.00/Previous.ini")), "[Release]\nVersion=01.20.00\n");
        writeFile(downloads(serverFolder + QStringLiteral("/libKTOld.so")), "new");
        writeFile(downloads(serverFolder + QStringLiteral("/libKTAdded.so")), "added");
        writeServerIndex({{QStringLiteral("libKTOld.so"), _platform + QStringLiteral(",.")},
                          {QStringLiteral("libKTAdded.so"), _platform + QStringLiteral(",.")},
                          {QStringLiteral("libKTPlugin.so"), _platform + QStringLiteral(",OmbrixServerComponents")}});
        KTMessageBoxCatcher boxes;
        // The plug-in is missing from the download: the first attempt stops there.
        QVERIFY(!_updater->checkForUpdates(QStringLiteral("Downloads")));
        QCOMPARE(readFile(app(QStringLiteral("libKTOld.so"))), QByteArray("new"));
        writeFile(downloads(serverFolder + QStringLiteral("/libKTPlugin.so")), "new plugin");
        QSettings index(downloads(QStringLiteral("DownloadedServerVersion.txt")), QSettings::IniFormat);
        index.setValue(QStringLiteral("ServerValues/ServerCommands"), QStringLiteral("SQL|ALTER TABLE a ADD b INT|\n"));
        index.sync();
        QVERIFY(_updater->checkForUpdates(QStringLiteral("Downloads")));
        QVERIFY(QFile::exists(downloads(QStringLiteral("PendingServerCommands.txt"))));

        QCOMPARE(QDir(downloads(QStringLiteral("Previous"))).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("01.32.00")});
        QCOMPARE(readFile(downloads(QStringLiteral("Previous/01.32.00/libKTOld.so"))), QByteArray("old"));

        QVERIFY(_updater->rollback(QStringLiteral("Downloads")));
        QCOMPARE(readFile(app(QStringLiteral("libKTOld.so"))), QByteArray("old"));
        QCOMPARE(readFile(app(QStringLiteral("OmbrixServerComponents/libKTPlugin.so"))), QByteArray("old plugin"));
        QVERIFY(!QFile::exists(app(QStringLiteral("libKTAdded.so"))));
        QVERIFY(!QFile::exists(downloads(QStringLiteral("PendingServerCommands.txt"))));
        QCOMPARE(_updater->exitType(), int(KTLocalUpdater::StartNothing));
        // Nothing is left to take back a second time.
        QVERIFY(!_updater->rollback(QStringLiteral("Downloads")));
        QCOMPARE(readFile(app(QStringLiteral("libKTOld.so"))), QByteArray("old"));
    }

    void releaseLinesNotRunAreKeptForThePanel_data()
    {
        QTest::addColumn<bool>("executed");
        QTest::newRow("promoted without Install") << false;
        QTest::newRow("installed by the panel") << true;
    }

    // A release the panel never installed leaves its SQL lines for the
    // panel's next start; one it installed has run them already.
    void releaseLinesNotRunAreKeptForThePanel()
    {
        QFETCH(bool, executed);
        writeServerIndex({});
        QSettings index(downloads(QStringLiteral("DownloadedServerVersion.txt")), QSettings::IniFormat);
        index.setValue(QStringLiteral("ServerValues/ServerCommands"), QStringLiteral("SQL|ALTER TABLE a ADD b INT|\n"));
        if (executed)
            index.setValue(QStringLiteral("ServerValues/CommandsExecuted"), true);
        index.sync();

        QVERIFY(_updater->checkForUpdates(QStringLiteral("Downloads")));
        QVERIFY(!QFile::exists(downloads(QStringLiteral("DownloadedServerVersion.txt"))));
        const QString pending = downloads(QStringLiteral("PendingServerCommands.txt"));
        QCOMPARE(QFile::exists(pending), !executed);
        if (!executed) {
            const QSettings kept(pending, QSettings::IniFormat);
            QCOMPARE(kept.value(QStringLiteral("ServerValues/ServerVersion")).toString(), QStringLiteral("01.32.00"));
            QCOMPARE(kept.value(QStringLiteral("ServerValues/ServerCommands")).toString(),
                     QStringLiteral("SQL|ALTER TABLE a ADD b INT|\n"));
        }
    }

    void refusesPathsOutsideTheInstallation_data()
    {
        QTest::addColumn<QString>("index");
        QTest::addColumn<QString>("relativePath");
        QTest::newRow("server, climbing") << "DownloadedServerVersion.txt" << "../fuera";
        QTest::newRow("server, absolute") << "DownloadedServerVersion.txt" << "/tmp";
        QTest::newRow("client, climbing") << "DownloadedClientVersion.txt" << "bin/../../..";
    }

    void refusesPathsOutsideTheInstallation()
    {
        QFETCH(QString, index);
        QFETCH(QString, relativePath);
        writeFile(downloads(QStringLiteral("OmbrixServer-") + _word + QStringLiteral("/libKTEvil.so")), "evil");
        writeFile(downloads(QStringLiteral("OmbrixClient-") + _word + QStringLiteral("-Download/libKTEvil.so")), "evil");
        const QMap<QString, QString> files{{QStringLiteral("libKTEvil.so"), _platform + QLatin1Char(',') + relativePath}};
        if (index.startsWith(QLatin1String("DownloadedServer")))
            writeServerIndex(files);
        else
            writeClientIndex(files);
        KTMessageBoxCatcher boxes;

        QVERIFY(!_updater->checkForUpdates(QStringLiteral("Downloads")));
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY(!QFile::exists(QDir(_app->path()).absoluteFilePath(QStringLiteral("../fuera/libKTEvil.so"))));
        QVERIFY(!QFile::exists(QStringLiteral("/tmp/libKTEvil.so")));
        QVERIFY(QFile::exists(downloads(index)));
        QCOMPARE(_updater->exitType(), int(KTLocalUpdater::StartNothing));
    }

    // The splash as the runner shows it, saved for a person to look at.
    void screenshotOfTheDialog()
    {
        writeClientIndex({});
        QVERIFY(_updater->checkForUpdates(QStringLiteral("Downloads")));
        _updater->show();
        QVERIFY(_updater->grab().save(QStringLiteral(SCREENSHOT_DIR "/KTLocalUpdater.png")));
    }

    void startsThePanelInTheApplicationDirectory()
    {
        writeFile(app(QStringLiteral("OmbrixServerPanel")), "#!/bin/sh\npwd > panel-started\n");
        QFile(app(QStringLiteral("OmbrixServerPanel")))
            .setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        _updater->setExitType(KTLocalUpdater::StartPanel);
        _updater->executeProcess();
        QTRY_VERIFY_WITH_TIMEOUT(!readFile(app(QStringLiteral("panel-started"))).isEmpty(), 10000);
        QCOMPARE(QFileInfo(QString::fromUtf8(readFile(app(QStringLiteral("panel-started")))).trimmed()).canonicalFilePath(),
                 QFileInfo(_app->path()).canonicalFilePath());
    }
};

QTEST_MAIN(tst_KTLocalUpdater)
#include "tst_ktlocalupdater.moc"
