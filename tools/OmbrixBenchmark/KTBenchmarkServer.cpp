#include "KTBenchmarkServer.h"

#include "KTBenchmarkClient.h"

#include <KTKeyHash.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTcpServer>
#include <QTextStream>
#include <QThread>

#include <pwd.h>
#include <unistd.h>

const QString KTBenchmarkServer::company = QStringLiteral("Empresa Benchmark");
const QString KTBenchmarkServer::companyPassword = QStringLiteral("clave-empresa");
const QString KTBenchmarkServer::adminLogin = QStringLiteral("admin");
const QString KTBenchmarkServer::adminPassword = QStringLiteral("clave-admin");
const QString KTBenchmarkServer::dbName = QStringLiteral("ombrix_bench");

namespace {

const QString controlConnection = QStringLiteral("benchControl");

// Test runs on this machine put their MariaDBs from 33306 up to 34999: a
// port the system lends in that range now may be one of theirs a minute later.
constexpr quint16 testPortsFrom = 33306;
constexpr quint16 testPortsTo = 34999;

quint16 freePort()
{
    for (int attempt = 0; attempt < 1000; ++attempt) {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        const quint16 port = probe.serverPort();
        if (port < testPortsFrom || port > testPortsTo)
            return port;
    }
    return 0;
}

bool writeText(const QString& path, const QString& text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.write(text.toUtf8());
    return true;
}

QString mariadbScript()
{
    return QStringLiteral(OMBRIX_SOURCE_DIR "/scripts/mariadb.sh");
}

} // namespace

KTBenchmarkServer::KTBenchmarkServer() = default;

KTBenchmarkServer::~KTBenchmarkServer()
{
    stop();
}

bool KTBenchmarkServer::fail(const QString& error)
{
    _error = error;
    return false;
}

bool KTBenchmarkServer::start(const QString& applicationDirectory)
{
    if (!_work.isValid())
        return fail(QStringLiteral("no temporary directory"));
    if (!startDatabase() || !prepareWorkingDirectory(applicationDirectory) || !launchPanel(applicationDirectory))
        return false;
    return waitUntilServing();
}

bool KTBenchmarkServer::startBeside(const QString& applicationDirectory, const KTBenchmarkServer& first)
{
    if (!_work.isValid())
        return fail(QStringLiteral("no temporary directory"));
    _dbPort = first._dbPort;
    _dbPassword = first._dbPassword;
    return prepareWorkingDirectory(applicationDirectory) && launchPanel(applicationDirectory)
        && waitUntilServing(false);
}

bool KTBenchmarkServer::launchPanel(const QString& applicationDirectory)
{
    _panel = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // The settings written here, whatever places an installed panel would use:
    // a benchmark of the package's programs never reaches the installation's database.
    const QString app = _work.filePath(QStringLiteral("app"));
    environment.insert(QStringLiteral("OMBRIX_CONFIG_DIR"), app);
    environment.insert(QStringLiteral("OMBRIX_STATE_DIR"), app);
    environment.insert(QStringLiteral("OMBRIX_LOG_DIR"), app + QStringLiteral("/logs"));
    _panel->setProcessEnvironment(environment);
    _panel->setWorkingDirectory(_work.filePath(QStringLiteral("app")));
    _panel->setStandardOutputFile(_work.filePath(QStringLiteral("panel.log")));
    _panel->setStandardErrorFile(_work.filePath(QStringLiteral("panel.log")), QIODevice::Append);
    _panel->start(applicationDirectory + QStringLiteral("/OmbrixServerPanel"), {});
    if (!_panel->waitForStarted())
        return fail(QStringLiteral("the panel did not start: ") + _panel->errorString());
    return true;
}

// The test run's MariaDB when its variables are set, otherwise one of our own.
bool KTBenchmarkServer::startDatabase()
{
    if (qEnvironmentVariableIsSet("OMBRIX_TEST_DB_PORT")) {
        _dbPort = qEnvironmentVariableIntValue("OMBRIX_TEST_DB_PORT");
        _dbPassword = qEnvironmentVariable("OMBRIX_TEST_DB_PASSWORD");
    } else {
        _dbPort = freePort();
        _dbPassword = QStringLiteral("OmbrixBench-2026");
        QProcess script;
        script.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // Every client connection holds a database connection of its own, and the
        // direct runs add as many again: MariaDB's default of 151 is too few.
        // The script raises it; the server's account may not.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("OMBRIX_DB_MAX_CONNECTIONS"), QStringLiteral("1000"));
        script.setProcessEnvironment(environment);
        script.start(mariadbScript(), {QStringLiteral("start"), _work.filePath(QStringLiteral("mariadb")),
                                       QString::number(_dbPort), _dbPassword, dbName});
        if (!script.waitForFinished(180000) || script.exitCode() != 0)
            return fail(QStringLiteral("MariaDB did not start"));
        _ownDatabase = true;
    }
    QSqlDatabase control = openDatabase(controlConnection);
    if (!control.isOpen())
        return fail(control.lastError().text());
    QSqlQuery drop(control);
    if (!drop.exec(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(dbName)))
        return fail(drop.lastError().text());
    return true;
}

QSqlDatabase KTBenchmarkServer::openDatabase(const QString& name) const
{
    QSqlDatabase db = QSqlDatabase::contains(name) ? QSqlDatabase::database(name, false)
                                                   : QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), name);
    db.setHostName(dbHost());
    db.setPort(_dbPort);
    db.setUserName(QStringLiteral("OmbrixAdm"));
    db.setPassword(_dbPassword);
    // The database may not exist yet: connect to the server and choose it when it does.
    db.open();
    QSqlQuery(db).exec(QStringLiteral("USE %1").arg(dbName));
    return db;
}

// The installation's folders linked into a working directory with settings of its own.
bool KTBenchmarkServer::prepareWorkingDirectory(const QString& applicationDirectory)
{
    const QString app = _work.filePath(QStringLiteral("app"));
    QDir().mkpath(app);
    for (const char* folder : {"OmbrixDbData", "OmbrixServerComponents", "OmbrixServerPanets", "Downloads"})
        if (!QFile::link(applicationDirectory + QLatin1Char('/') + QLatin1String(folder), app + QLatin1Char('/') + QLatin1String(folder)))
            return fail(QStringLiteral("cannot link %1").arg(QLatin1String(folder)));
    _port = freePort();
    const QString settings = QStringLiteral(
        "[ServerSettings]\nServerPort=%1\nListenAddress=127.0.0.1\n[LicenseInfo]\nCompany=%2\nID=900123\nPassword=%3\n"
        "[Database]\nType=QMYSQL\nHost=127.0.0.1\nDbPort=%4\nDbName=%5\n[AdminUser]\nLogin=%6\nPassword=%7\n"
        "ConnectivityPassword=%8\n")
        .arg(_port).arg(company, _dbPassword).arg(_dbPort).arg(dbName, adminLogin, adminPassword, companyPassword)
        .replace(QStringLiteral("[LicenseInfo]"), tlsSettings(app) + QStringLiteral("[LicenseInfo]"))
        + _extraSettings;
    const QString objects = QStringLiteral(
        "[ServerFiles]\nMySqlDialectMap\nPasswordAuthcom\nDbSelectSercom\nDbInsertSercom\nDbBrowseSercom\n"
        "DatabasePanet\n[ClientFiles]\nComponentProductCategory\nComponentProduct\n");
    const QString layout = QStringLiteral(
        "[PanelSettings]\nPanelColumns=1\nPanelRows=1\nTabs=1\nActivatedPanets=DatabasePanet--0,0,0\n");
    if (!writeText(app + QStringLiteral("/OmbrixServer.cfg"), settings)
        || !writeText(app + QStringLiteral("/OmbrixSystemObjects.cfg"), objects)
        || !writeText(app + QStringLiteral("/OmbrixServerUI.cfg"), layout))
        return fail(QStringLiteral("cannot write the settings"));
    return true;
}

// A self-signed certificate for 127.0.0.1, made with the openssl command;
// the encrypted port stays off without it.
QString KTBenchmarkServer::tlsSettings(const QString& app)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                   QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-keyout"), app + QStringLiteral("/tls.key"), QStringLiteral("-out"),
                   app + QStringLiteral("/tls.pem"), QStringLiteral("-days"), QStringLiteral("2"),
                   QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1")});
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0)
        return QString();
    _tlsPort = freePort();
    return QStringLiteral("TlsPort=%1\nTlsCertificate=tls.pem\nTlsPrivateKey=tls.key\n").arg(_tlsPort);
}

// Serving once the administrator the panel seeds can log in; then the
// products table gets the rows a full browse reads.
bool KTBenchmarkServer::waitUntilServing(bool seed)
{
    QDeadlineTimer deadline(180000);
    while (!deadline.hasExpired()) {
        if (_panel->state() != QProcess::Running)
            return fail(QStringLiteral("the panel ended; see ") + _work.filePath(QStringLiteral("panel.log")));
        KTBenchmarkClient probe(_port, adminLogin);
        if (probe.logIn()) {
            if (!seed)
                return true;
            QSqlQuery rows(openDatabase(controlConnection + QStringLiteral("Seed")));
            if (!rows.exec(QStringLiteral(
                    "INSERT INTO invProduct (codProductCategory, fldCode, fldName, fldUnit, fldPrice, binImage, sysEnabled, "
                    "sysEditable, sysAuthorized, sysVisible, sysContext, sysAuthorizationGroup) SELECT 1, "
                    "CONCAT('BEN-', seq), CONCAT('Producto de prueba ', seq), 'Unidad', 10.00, '', 1, 1, 1, 2, 0, 1 "
                    "FROM seq_1_to_1000")))
                return fail(rows.lastError().text());
            return true;
        }
        QThread::msleep(200);
    }
    return fail(QStringLiteral("the panel did not serve within three minutes"));
}

namespace {

// The table's columns other than those given, as a list for INSERT ... SELECT.
QString otherColumns(const QSqlDatabase& db, const QString& table, const QStringList& except)
{
    QStringList columns;
    const QSqlRecord record = db.record(table);
    for (int i = 0; i < record.count(); ++i)
        if (!except.contains(record.fieldName(i)))
            columns << record.fieldName(i);
    return columns.join(QStringLiteral(", "));
}

} // namespace

bool KTBenchmarkServer::addUsers(int count)
{
    return addCopiesOfAdmin(QStringLiteral("bench"), count);
}

bool KTBenchmarkServer::addClerks(int count)
{
    const QSqlDatabase db = openDatabase(controlConnection);
    const QString grant = otherColumns(db, QStringLiteral("accAccessComponent"),
                                       {"pkyAccessComponent", "codUser", "codComponent"});
    QStringList qualified;
    for (const QString& column : grant.split(QStringLiteral(", ")))
        qualified << QStringLiteral("a.") + column;
    QSqlQuery query(db);
    // The demo clerk's first grant (read and write, nothing read-only) for each component.
    const QStringList statements{
        QStringLiteral("UPDATE accUser SET codType = 3 WHERE fldLogin LIKE 'clerk%'"),
        QStringLiteral("INSERT INTO accAccessComponent (codUser, codComponent, %1) SELECT u.pkyUser, c.pkyComponent, %2 "
                       "FROM accUser u, srvComponent c, accAccessComponent a WHERE u.fldLogin LIKE 'clerk%' AND "
                       "c.fldName IN ('ComponentProduct', 'ComponentProductCategory') AND a.pkyAccessComponent = 1")
            .arg(grant, qualified.join(QStringLiteral(", ")))};
    if (!addCopiesOfAdmin(QStringLiteral("clerk"), count))
        return false;
    for (const QString& statement : statements)
        if (!query.exec(statement))
            return fail(query.lastError().text());
    return true;
}

bool KTBenchmarkServer::addCopiesOfAdmin(const QString& prefix, int count)
{
    const QSqlDatabase db = openDatabase(controlConnection);
    const QString user = otherColumns(db, QStringLiteral("accUser"), {"pkyUser", "fldLogin"});
    const QString group = otherColumns(db, QStringLiteral("accGroup"), {"pkyGroup", "fldName"});
    const QString identifier = otherColumns(db, QStringLiteral("accUserIdentifier"), {"pkyUserIdentifier", "codUser"});
    QStringList qualified;
    for (const QString& column : identifier.split(QStringLiteral(", ")))
        qualified << QStringLiteral("i.") + column;
    QSqlQuery query(db);
    const QStringList statements{
        QStringLiteral("INSERT INTO accUser (fldLogin, %1) SELECT CONCAT('%3', seq), %1 FROM accUser, seq_1_to_%2 "
                       "WHERE pkyUser = 2").arg(user).arg(count).arg(prefix),
        QStringLiteral("INSERT INTO accGroup (fldName, %1) SELECT CONCAT('%3', seq), %1 FROM accGroup, "
                       "seq_1_to_%2 WHERE pkyGroup = 2").arg(group).arg(count).arg(prefix),
        QStringLiteral("INSERT INTO accUserIdentifier (codUser, %1) SELECT u.pkyUser, %2 FROM accUser u, "
                       "accUserIdentifier i WHERE u.fldLogin LIKE '%3%' AND i.codUser = 2 AND i.codType = 1")
            .arg(identifier, qualified.join(QStringLiteral(", ")), prefix)};
    for (const QString& statement : statements)
        if (!query.exec(statement))
            return fail(query.lastError().text());
    return true;
}

bool KTBenchmarkServer::hashAdminKey()
{
    QSqlQuery query(openDatabase(controlConnection));
    query.prepare(QStringLiteral("UPDATE accUserIdentifier SET fldKey = ? WHERE codUser = 2 AND codType = 1"));
    query.addBindValue(KTKeyHash::hash(adminPassword));
    return query.exec() || fail(query.lastError().text());
}

QSqlDatabase KTBenchmarkServer::openOwnerDatabase(const QString& name) const
{
    QSqlDatabase db = QSqlDatabase::contains(name) ? QSqlDatabase::database(name, false)
                                                   : QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), name);
    // mariadb.sh lets the user who started the server in through the socket.
    db.setUserName(QString::fromLocal8Bit(getpwuid(geteuid())->pw_name));
    const QString socket = _ownDatabase ? _work.filePath(QStringLiteral("mariadb/mysqld.sock"))
                                        : qEnvironmentVariable("OMBRIX_TEST_DB_SOCKET");
    db.setConnectOptions(QStringLiteral("UNIX_SOCKET=") + socket);
    db.open();
    return db;
}

int KTBenchmarkServer::databaseConnections() const
{
    QSqlQuery status(openDatabase(controlConnection));
    return status.exec(QStringLiteral("SHOW GLOBAL STATUS LIKE 'Threads_connected'")) && status.next()
        ? status.value(1).toInt() : -1;
}

void KTBenchmarkServer::waitForConnectionsAtMost(int count) const
{
    QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired() && databaseConnections() > count)
        QThread::msleep(50);
}

qint64 KTBenchmarkServer::residentKiB() const
{
    if (!_panel)
        return 0;
    QFile status(QStringLiteral("/proc/%1/status").arg(_panel->processId()));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

qint64 KTBenchmarkServer::panelPid() const
{
    return _panel ? _panel->processId() : 0;
}

// MariaDB names its own pid file, whether it is ours or the test run's.
qint64 KTBenchmarkServer::databasePid() const
{
    QSqlQuery query(openDatabase(controlConnection));
    if (!query.exec(QStringLiteral("SELECT @@pid_file")) || !query.next())
        return 0;
    QFile pidFile(query.value(0).toString());
    return pidFile.open(QIODevice::ReadOnly) ? pidFile.readAll().trimmed().toLongLong() : 0;
}

void KTBenchmarkServer::stop()
{
    if (_panel && _panel->state() != QProcess::NotRunning) {
        _panel->terminate();
        if (!_panel->waitForFinished(10000)) {
            _panel->kill();
            _panel->waitForFinished();
        }
    }
    _panel.reset();
    for (const QString& name : QSqlDatabase::connectionNames())
        QSqlDatabase::removeDatabase(name);
    if (_ownDatabase) {
        QProcess::execute(mariadbScript(), {QStringLiteral("stop"), _work.filePath(QStringLiteral("mariadb"))});
        _ownDatabase = false;
    }
}
