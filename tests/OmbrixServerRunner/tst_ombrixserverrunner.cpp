#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// The staged runner program, copied into a temporary application directory
// whose control panel is a script that notes where it was started.
class tst_OmbrixServerRunner : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> _app;

    QString app(const QString& path) const { return _app->filePath(path); }

    void write(const QString& path, const QByteArray& contents, bool executable = false)
    {
        QFile file(app(path));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(contents);
        file.close();
        if (executable)
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    // Runs the runner (offscreen, as the tests run) from another working
    // directory; its exit code, and what it wrote to standard error.
    int runRunner(const QStringList& arguments = {}, QString* errors = nullptr)
    {
        QTemporaryDir elsewhere;
        QProcess runner;
        runner.setWorkingDirectory(elsewhere.path());
        runner.start(app(QStringLiteral("OmbrixServerRunner")), arguments);
        const bool finished = runner.waitForFinished(30000);
        if (errors)
            *errors = QString::fromUtf8(runner.readAllStandardError());
        if (!finished) {
            runner.kill();
            runner.waitForFinished();
            return -1;
        }
        return runner.exitStatus() == QProcess::NormalExit ? runner.exitCode() : -1;
    }

    QString panelStartedIn() const
    {
        QFile marker(app(QStringLiteral("panel-started")));
        return marker.open(QIODevice::ReadOnly) ? QString::fromUtf8(marker.readAll()).trimmed() : QString();
    }

private Q_SLOTS:
    void init()
    {
        const QString staged = qEnvironmentVariable("OMBRIX_APP_DIR");
        _app = std::make_unique<QTemporaryDir>();
        QVERIFY(QFile::copy(staged + QStringLiteral("/OmbrixServerRunner"), app(QStringLiteral("OmbrixServerRunner"))));
        for (const QString& library : QDir(staged).entryList({QStringLiteral("libOmbrixServerDefinitions.so*")}))
            QVERIFY(QFile::link(staged + QLatin1Char('/') + library, app(library)));
        write(QStringLiteral("OmbrixServerPanel"), "#!/bin/sh\npwd > panel-started\n", true);
    }

    void withSettingsThePanelStartsInTheApplicationDirectory()
    {
        write(QStringLiteral("OmbrixServer.cfg"), "[ServerSettings]\nServerPort=6660\n");
        QCOMPARE(runRunner(), 0);
        // No download area yet: created, and nothing held the panel back.
        QVERIFY(QFileInfo(app(QStringLiteral("Downloads"))).isDir());
        QTRY_VERIFY_WITH_TIMEOUT(!panelStartedIn().isEmpty(), 10000);
        QCOMPARE(QFileInfo(panelStartedIn()).canonicalFilePath(), QFileInfo(_app->path()).canonicalFilePath());
    }

    void aDownloadedReleaseIsInPlaceBeforeThePanelStarts()
    {
        write(QStringLiteral("OmbrixServer.cfg"), "[ServerSettings]\nServerPort=6660\n");
        const QString folder = QStringLiteral("Downloads/OmbrixServer-Linux64");
        QDir().mkpath(app(folder));
        write(folder + QStringLiteral("/libKTNew.so"), "new");
        write(QStringLiteral("Downloads/DownloadedServerVersion.txt"),
              "[ServerValues]\nServerVersion=01.32.00\n[Files]\nlibKTNew.so=\"2,OmbrixServerComponents\"\n");
        QCOMPARE(runRunner(), 0);
        QVERIFY(QFile::exists(app(QStringLiteral("OmbrixServerComponents/libKTNew.so"))));
        QVERIFY(!QFile::exists(app(QStringLiteral("Downloads/DownloadedServerVersion.txt"))));
        QTRY_VERIFY_WITH_TIMEOUT(!panelStartedIn().isEmpty(), 10000);
    }

    // Without a display nobody could answer the wizard or an error box.
    void withoutADisplayFailuresEndTheRunner_data()
    {
        QTest::addColumn<bool>("settings");
        QTest::addColumn<QString>("message");
        QTest::newRow("no settings") << false << "OmbrixServer.cfg";
        QTest::newRow("failed installation") << true << "tiene una ruta no válida";
    }

    void withoutADisplayFailuresEndTheRunner()
    {
        QFETCH(bool, settings);
        QFETCH(QString, message);
        if (settings)
            write(QStringLiteral("OmbrixServer.cfg"), "[ServerSettings]\nServerPort=6660\n");
        QDir().mkpath(app(QStringLiteral("Downloads")));
        write(QStringLiteral("Downloads/DownloadedServerVersion.txt"),
              "[ServerValues]\nServerVersion=01.32.00\n[Files]\nlibKTNew.so=\"2,../fuera\"\n");
        QString errors;
        QCOMPARE(runRunner({}, &errors), 1);
        QVERIFY2(errors.contains(message), qPrintable(errors));
        QVERIFY(!QFile::exists(app(QStringLiteral("OmbrixServer.cfg"))) || settings);
        QTest::qWait(500);
        QVERIFY(panelStartedIn().isEmpty());
    }

    // The service's step before it starts the panel itself.
    void installOnlyPutsTheReleaseInPlaceAndStartsNothing()
    {
        write(QStringLiteral("OmbrixServer.cfg"), "[ServerSettings]\nServerPort=6660\n");
        QDir().mkpath(app(QStringLiteral("Downloads/OmbrixServer-Linux64")));
        write(QStringLiteral("Downloads/OmbrixServer-Linux64/libKTNew.so"), "new");
        write(QStringLiteral("Downloads/DownloadedServerVersion.txt"),
              "[ServerValues]\nServerVersion=01.32.00\n[Files]\nlibKTNew.so=\"2,OmbrixServerComponents\"\n");
        QCOMPARE(runRunner({QStringLiteral("--install-only")}), 0);
        QVERIFY(QFile::exists(app(QStringLiteral("OmbrixServerComponents/libKTNew.so"))));
        QTest::qWait(500);
        QVERIFY(panelStartedIn().isEmpty());
    }

    // The way back from a release whose SQL failed at the panel's start:
    // the files it replaced return, its pending lines go, nothing starts.
    void rollbackPutsThePreviousFilesBack()
    {
        QString errors;
        QCOMPARE(runRunner({QStringLiteral("--rollback")}, &errors), 1);
        QVERIFY2(errors.contains(QStringLiteral("No hay archivos de una versión anterior")), qPrintable(errors));

        write(QStringLiteral("OmbrixServer.cfg"), "[ServerSettings]\nServerPort=6660\n");
        QDir().mkpath(app(QStringLiteral("OmbrixServerComponents")));
        write(QStringLiteral("OmbrixServerComponents/libKTNew.so"), "old");
        QDir().mkpath(app(QStringLiteral("Downloads/OmbrixServer-Linux64")));
        write(QStringLiteral("Downloads/OmbrixServer-Linux64/libKTNew.so"), "new");
        write(QStringLiteral("Downloads/DownloadedServerVersion.txt"),
              "[ServerValues]\nServerVersion=01.32.00\nServerCommands=\"SQL|ALTER TABLE a ADD b INT|\\n\"\n"
              "[Files]\nlibKTNew.so=\"2,OmbrixServerComponents\"\n");
        QCOMPARE(runRunner({QStringLiteral("--install-only")}), 0);
        QVERIFY(QFile::exists(app(QStringLiteral("Downloads/PendingServerCommands.txt"))));

        QCOMPARE(runRunner({QStringLiteral("--rollback")}, &errors), 0);
        QFile restored(app(QStringLiteral("OmbrixServerComponents/libKTNew.so")));
        QVERIFY(restored.open(QIODevice::ReadOnly));
        QCOMPARE(restored.readAll(), QByteArray("old"));
        QVERIFY(!QFile::exists(app(QStringLiteral("Downloads/PendingServerCommands.txt"))));
        QTest::qWait(500);
        QVERIFY(panelStartedIn().isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_OmbrixServerRunner)
#include "tst_ombrixserverrunner.moc"
