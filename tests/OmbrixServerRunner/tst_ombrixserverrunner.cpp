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

    // Runs the runner from another working directory; its exit code.
    int runRunner()
    {
        QTemporaryDir elsewhere;
        QProcess runner;
        runner.setWorkingDirectory(elsewhere.path());
        runner.start(app(QStringLiteral("OmbrixServerRunner")), {});
        if (!runner.waitForFinished(30000)) {
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
};

QTEST_GUILESS_MAIN(tst_OmbrixServerRunner)
#include "tst_ombrixserverrunner.moc"
