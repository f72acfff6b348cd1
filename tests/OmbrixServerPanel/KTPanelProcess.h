#ifndef KTPANELPROCESS_H
#define KTPANELPROCESS_H

#include "KTTestDatabase.h"
#include "KTTestFiles.h"
#include "KTTestServer.h"

#include <QDate>
#include <QProcess>
#include <QTcpServer>

#include <csignal>

inline quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

inline QString logFile(const QString& logDirectory)
{
    return logDirectory + QStringLiteral("/OmbrixServer-") + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"))
        + QStringLiteral(".log");
}

// Makes dir an application directory whose folders are the staged build's.
inline bool linkStagedFolders(const QString& dir)
{
    const QString appDir = qEnvironmentVariable("OMBRIX_APP_DIR");
    for (const char* folder : {"OmbrixDbData", "OmbrixServerComponents", "OmbrixServerPanets", "Downloads"})
        if (!QFile::link(appDir + "/" + folder, dir + "/" + folder))
            return false;
    return true;
}

// A panel program run as the operator or the service runs it, in its own
// application directory, against the test MariaDB.
// How a test departs from a plain start: more [ServerSettings] lines,
// another database port, the service's environment, a port of its own.
struct KTPanelStart
{
    QString serverSettings;
    int dbPort = 0;
    bool service = false;
    quint16 port = 0;
    QString notifySocket;
    // The installation's places, when not the application directory's.
    QString settingsDirectory;
    QString logDirectory;
    // More lines of the system-objects file's sections, each ending in a line break.
    QString serverFiles;
    QString clientFiles;
    // The server process test's database unless another is named.
    QString dbName = QStringLiteral("ombrix_test_process");
};

class KTPanelProcess
{
public:
    KTPanelProcess(const QString& dir, const QString& program, const KTPanelStart& start = KTPanelStart())
        : _dir(dir)
        , _logDirectory(start.logDirectory.isEmpty() ? dir + QStringLiteral("/logs") : start.logDirectory)
        , _port(start.port ? start.port : freePort())
    {
        const QString settings = start.settingsDirectory.isEmpty() ? _dir : start.settingsDirectory;
        writeFile(settings + QStringLiteral("/OmbrixServer.cfg"),
                  QStringLiteral("[ServerSettings]\nServerPort=%1\nListenAddress=127.0.0.1\nLogDays=10\n%8"
                                 "[LicenseInfo]\nCompany=%2\nID=900123\nPassword=%3\n[Database]\nType=QMYSQL\n"
                                 "Host=%4\nDbPort=%5\nDbName=%6\n[AdminUser]\nLogin=jefe\nPassword=clave-jefe\n"
                                 "ConnectivityPassword=%7\n")
                      .arg(_port)
                      .arg(KTTestServer::companyName, KTTestDatabase::password(), KTTestDatabase::host())
                      .arg(start.dbPort ? start.dbPort : KTTestDatabase::port())
                      .arg(start.dbName, KTTestServer::companyPassword, start.serverSettings)
                      .toUtf8());
        writeFile(settings + QStringLiteral("/OmbrixSystemObjects.cfg"),
                  QStringLiteral("[ServerFiles]\nPasswordAuthcom\nDatabasePanet\nConnectorPanet\nLogPanet\n%1"
                                 "[ClientFiles]\nComponentUser\n%2")
                      .arg(start.serverFiles, start.clientFiles)
                      .toUtf8());
        process.setWorkingDirectory(_dir);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("OMBRIX_SERVICE"));
        for (const char* place : {"OMBRIX_CONFIG_DIR", "OMBRIX_STATE_DIR", "OMBRIX_LOG_DIR"})
            environment.remove(QLatin1String(place));
        if (start.service)
            environment.insert(QStringLiteral("OMBRIX_SERVICE"), QStringLiteral("1"));
        if (!start.notifySocket.isEmpty()) {
            environment.insert(QStringLiteral("NOTIFY_SOCKET"), start.notifySocket);
            environment.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("400000"));
        }
        process.setProcessEnvironment(environment);
        process.start(program, {});
    }

    ~KTPanelProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }

    QString log() const { return QString::fromUtf8(readFile(logFile(_logDirectory))); }
    // The port opens as soon as the database answers, and a first start
    // reopens it while it creates the tables: ready once they are filled.
    bool ready() const { return log().contains(QStringLiteral("Todos los datos de las tablas se cargaron exitosamente")); }
    quint16 port() const { return _port; }

    // Stops it with the signal; false unless it ends by itself within the time.
    bool stop(int signalNumber, int timeoutMs)
    {
        ::kill(pid_t(process.processId()), signalNumber);
        return process.waitForFinished(timeoutMs);
    }

    QProcess process;

private:
    QString _dir;
    QString _logDirectory;
    quint16 _port;
};

#endif
