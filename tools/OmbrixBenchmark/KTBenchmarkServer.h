#ifndef KTBENCHMARKSERVER_H
#define KTBENCHMARKSERVER_H

#include <QProcess>
#include <QSqlDatabase>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// The system under measurement, started from a clean state: a throwaway
// MariaDB (or the test run's, when its variables are set), a fresh database
// that the staged control panel creates and seeds itself, and the panel
// running offscreen in a working directory of its own.
class KTBenchmarkServer
{
public:
    static const QString company;
    static const QString companyPassword;
    static const QString adminLogin;
    static const QString adminPassword;
    static const QString dbName;

    KTBenchmarkServer();
    ~KTBenchmarkServer();

    // False with errorString() set when any step fails.
    bool start(const QString& applicationDirectory);
    // More settings for the panel's OmbrixServer.cfg (a [Cluster] section), before start.
    void setExtraSettings(const QString& text) { _extraSettings = text; }
    // Another panel on the database first serves: nothing dropped or seeded.
    bool startBeside(const QString& applicationDirectory, const KTBenchmarkServer& first);
    void stop();
    QString errorString() const { return _error; }

    quint16 port() const { return _port; }
    // The encrypted port, with a self-signed certificate made for the run;
    // 0 when no certificate could be made.
    quint16 tlsPort() const { return _tlsPort; }
    QString dbHost() const { return QStringLiteral("127.0.0.1"); }
    int dbPort() const { return _dbPort; }
    QString dbPassword() const { return _dbPassword; }
    // Users bench1 to bench<count>, administrators like the seeded one and
    // with its password: the server lets a user hold one connection only.
    bool addUsers(int count);
    // Clerks of type 3, clerkLogin(0) onwards, with read and write rights on
    // the product and category components only, as an office grants them.
    bool addClerks(int count);
    // Stores the administrator's key hashed, as OmbrixHashKeys would; users
    // added afterwards share it.
    bool hashAdminKey();
    static QString userLogin(int index) { return QStringLiteral("bench%1").arg(index + 1); }
    static QString clerkLogin(int index) { return QStringLiteral("clerk%1").arg(index + 1); }
    // A new connection to the benchmark database, named name.
    QSqlDatabase openDatabase(const QString& name) const;
    // A connection of the MariaDB's owner, through its socket: reading the
    // general log takes rights the server's account does not hold.
    QSqlDatabase openOwnerDatabase(const QString& name) const;
    // MariaDB's open connections, and a wait (of 30 s at most) until the
    // connections of clients that have left are closed.
    int databaseConnections() const;
    void waitForConnectionsAtMost(int count) const;
    // The panel's resident memory in KiB, 0 when unknown.
    qint64 residentKiB() const;
    // The processes whose CPU time a run is charged with; 0 when unknown.
    qint64 panelPid() const;
    qint64 databasePid() const;

private:
    bool addCopiesOfAdmin(const QString& prefix, int count);
    bool startDatabase();
    bool prepareWorkingDirectory(const QString& applicationDirectory);
    QString tlsSettings(const QString& app);
    bool launchPanel(const QString& applicationDirectory);
    bool waitUntilServing(bool seed = true);
    bool fail(const QString& error);

    QTemporaryDir _work;
    std::unique_ptr<QProcess> _panel;
    bool _ownDatabase = false;
    int _dbPort = 0;
    QString _dbPassword;
    quint16 _port = 0;
    quint16 _tlsPort = 0;
    QString _error;
    QString _extraSettings;
};

#endif
