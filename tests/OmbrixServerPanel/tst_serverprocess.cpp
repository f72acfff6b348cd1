#include "KTTestCertificates.h"
#include "KTPanelProcess.h"
#include "KTTestDatabase.h"
#include "KTTestFiles.h"
#include "KTTestHttp.h"
#include "KTTestServer.h"

#include <KTProtocolClient.h>
#include <KTVersion.h>

#include <QDate>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QString dbName = QStringLiteral("ombrix_test_process");
const QString appDir = qEnvironmentVariable("OMBRIX_APP_DIR");

// The service manager's end of the notification socket, as systemd offers
// it to a unit of Type=notify: one datagram per notification.
class KTNotifySocket
{
public:
    explicit KTNotifySocket(const QString& path)
        : _path(path), _fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = path.toLocal8Bit();
        qstrncpy(address.sun_path, name.constData(), sizeof(address.sun_path));
        ::bind(_fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    }
    ~KTNotifySocket() { ::close(_fd); }

    QString path() const { return _path; }
    // Every notification so far, one line each.
    QStringList received()
    {
        char buffer[4096];
        ssize_t size;
        while ((size = ::recv(_fd, buffer, sizeof(buffer), MSG_DONTWAIT)) > 0)
            _received << QString::fromUtf8(buffer, int(size)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return _received;
    }

private:
    QString _path;
    int _fd;
    QStringList _received;
};

QString answer(KTProtocolClient& client, const QString& request)
{
    QString reply;
    if (!client.send(request) || !client.waitForReply(&reply, 20000))
        return QString();
    return KTProtocolClient::element(reply, QStringLiteral("Status"));
}

// The entries of the package's file tree whose owner is not root or that
// users other than the owner may write ("drwxr-xr-x root/root 0 ... ./opt/...").
QStringList writableByOthers(const QString& package)
{
    QProcess list;
    list.start(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), package});
    if (!list.waitForFinished(30000) || list.exitCode() != 0)
        return {QStringLiteral("dpkg-deb -c failed")};
    QStringList wrong;
    for (const QString& line : QString::fromUtf8(list.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList fields = line.simplified().split(QLatin1Char(' '));
        const QString mode = fields.value(0);
        const bool symlink = mode.startsWith(QLatin1Char('l'));
        if (fields.value(1) != QLatin1String("root/root") || (!symlink && (mode.at(5) == 'w' || mode.at(8) == 'w')))
            wrong << line;
    }
    return wrong;
}

// A release downloaded into the tree's Downloads/ as the downloader leaves it.
void stageRelease(const QString& tree, const QByteArray& library)
{
    const QString downloads = tree + QStringLiteral("/Downloads/");
    const QString file = downloads + QStringLiteral("OmbrixServer-") + KTVersion::operatingSystemLiteral()
        + QStringLiteral("/libKTStaged.so");
    QVERIFY(writeFile(file, library));
    QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                            | QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
                                            | QFileDevice::ExeOther));
    QSettings index(downloads + QStringLiteral("DownloadedServerVersion.txt"), QSettings::IniFormat);
    index.setValue(QStringLiteral("ServerValues/ServerVersion"), QStringLiteral("99.01.00"));
    index.setValue(QStringLiteral("Files/libKTStaged.so"),
                   KTVersion::operatingSystem() + QStringLiteral(",OmbrixServerComponents/OmbrixDBManipulation"));
    index.sync();
    QCOMPARE(index.status(), QSettings::NoError);
}


// The keys the panel reads from OmbrixServer.cfg ("Group/Key"), from its sources.
QStringList panelSettingKeys()
{
    const QRegularExpression key(QStringLiteral("\"((?:ServerSettings|LicenseInfo|Database|AdminUser)/\\w+)\""));
    QStringList keys;
    const QDir sources(QStringLiteral(OMBRIX_SOURCE_DIR "/OmbrixServerPanel"));
    for (const QString& source : sources.entryList({QStringLiteral("*.cpp")}))
        for (auto it = key.globalMatch(QString::fromUtf8(readFile(sources.filePath(source)))); it.hasNext();)
            keys << it.next().captured(1);
    keys.removeDuplicates();
    return keys;
}

// The keys an example settings file shows commented out (";Key=value"), as "Group/Key".
QStringList commentedKeys(const QString& example)
{
    const QRegularExpression commented(QStringLiteral("^;(\\w+)="));
    QStringList keys;
    QString group;
    for (const QString& line : example.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1Char('[')))
            group = line.mid(1, line.indexOf(QLatin1Char(']')) - 1);
        else if (const QRegularExpressionMatch match = commented.match(line); match.hasMatch())
            keys << group + QLatin1Char('/') + match.captured(1);
    }
    return keys;
}

bool privateToOwner(const QString& path)
{
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
        | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    return QFileInfo::exists(path) && !(QFileInfo(path).permissions() & others);
}

// A maintainer script run as `dpkg --root` runs it, on a system tree of the
// test's own: the user ombrix exists there, and changes of owner, which need
// root, are left out.
class KTMaintainerScripts
{
public:
    KTMaintainerScripts(const QString& control, const QString& systemRoot) : _control(control), _root(systemRoot)
    {
        const QString shims = _shims.path() + QLatin1Char('/');
        shim(shims + QStringLiteral("getent"), "echo 'ombrix:x:990:990:Ombrix Server:/var/lib/ombrix:/usr/sbin/nologin'\n");
        shim(shims + QStringLiteral("chown"), "exit 0\n");
        shim(shims + QStringLiteral("install"),
             "n=$#; i=0\nwhile [ $i -lt $n ]; do\n  a=$1; shift; i=$((i + 1))\n"
             "  case $a in -o|-g) shift; i=$((i + 1)) ;; *) set -- \"$@\" \"$a\" ;; esac\ndone\n"
             "exec /usr/bin/install \"$@\"\n");
    }

    QString run(const QString& script, const QString& argument)
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DPKG_ROOT"), _root);
        environment.insert(QStringLiteral("PATH"), _shims.path() + QLatin1Char(':') + environment.value(QStringLiteral("PATH")));
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral("sh"), {_control + QLatin1Char('/') + script, argument});
        if (!process.waitForFinished(30000) || process.exitCode() != 0)
            return script + QLatin1Char(' ') + argument + QStringLiteral(" failed: ") + QString::fromUtf8(process.readAll());
        return QString();
    }

private:
    static void shim(const QString& path, const QByteArray& body)
    {
        writeFile(path, "#!/bin/sh\n" + body);
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    QString _control;
    QString _root;
    QTemporaryDir _shims;
};

} // namespace

// The staged and the packaged panel as processes: started, serving, and
// stopped by the signals a service manager or a terminal sends.
class tst_ServerProcess : public QObject
{
    Q_OBJECT

    qint64 logouts()
    {
        QSqlDatabase db = KTTestDatabase::open(QStringLiteral("logouts"), dbName);
        QSqlQuery query(db);
        return query.exec(QStringLiteral("SELECT COUNT(*) FROM dbaUserLog WHERE parComponent = 209001 AND "
                                         "codComponentAction = 2"))
                && query.next()
            ? query.value(0).toLongLong()
            : -1;
    }

    // An application directory whose folders are the staged build's.
    void stage(const QString& dir)
    {
        QVERIFY(linkStagedFolders(dir));
    }

    // Where the package puts what is not a program: the places it names,
    // the documentation Debian expects, and what its scripts do with the
    // settings, state and logs on an upgrade, a removal and a purge.
    void checkDebianPlaces(const QString& root, const QString& package)
    {
        const QString tree = root + QStringLiteral("/opt/ombrix");
        const QSettings places(tree + QStringLiteral("/OmbrixPaths.cfg"), QSettings::IniFormat);
        QCOMPARE(places.value(QStringLiteral("Places/Settings")).toString(), QStringLiteral("/etc/ombrix"));
        QCOMPARE(places.value(QStringLiteral("Places/State")).toString(), QStringLiteral("/var/lib/ombrix"));
        QCOMPARE(places.value(QStringLiteral("Places/Logs")).toString(), QStringLiteral("/var/log/ombrix"));
        // The package holds no settings: an upgrade cannot overwrite the operator's.
        QVERIFY(!QFileInfo::exists(root + QStringLiteral("/etc")));
        QVERIFY(!readFile(root + QStringLiteral("/DEBIAN/conffiles")).contains("/etc/ombrix"));
        QVERIFY(!QFileInfo::exists(tree + QStringLiteral("/Downloads")));

        const QString doc = root + QStringLiteral("/usr/share/doc/ombrix-server/");
        QVERIFY(readFile(doc + QStringLiteral("copyright")).startsWith(
            "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"));
        QProcess gunzip;
        gunzip.start(QStringLiteral("gzip"), {QStringLiteral("-dc"), doc + QStringLiteral("changelog.Debian.gz")});
        QVERIFY(gunzip.waitForFinished(30000));
        QProcess version;
        version.start(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), package, QStringLiteral("Version")});
        QVERIFY(version.waitForFinished(30000));
        const QByteArray latest = "ombrix-server (" + version.readAll().trimmed() + ") ";
        QVERIFY2(gunzip.readAll().startsWith(latest), latest.constData());
        const QString example = QString::fromUtf8(readFile(doc + QStringLiteral("examples/OmbrixServer.cfg")));
        const QStringList shown = commentedKeys(example);
        const QStringList read = panelSettingKeys();
        QVERIFY(read.contains(QStringLiteral("ServerSettings/StartupTimeout")));
        for (const QString& key : read)
            QVERIFY2(shown.contains(key), qPrintable(key + QStringLiteral(" is not in the example settings")));
        // A manual page for every program the package installs.
        for (const QString& program : QDir(tree).entryList(QDir::Files | QDir::Executable)) {
            const bool paged = QFileInfo::exists(root + QStringLiteral("/usr/share/man/man1/") + program + QStringLiteral(".1.gz"))
                || QFileInfo::exists(root + QStringLiteral("/usr/share/man/man8/") + program + QStringLiteral(".8.gz"));
            QVERIFY2(paged || program.startsWith(QStringLiteral("lib")), qPrintable(program));
        }

        // A machine that ran an earlier package, whose files lay in /opt/ombrix.
        QTemporaryDir machine;
        const QString app = machine.filePath(QStringLiteral("opt/ombrix"));
        QVERIFY(writeFile(app + QStringLiteral("/OmbrixServer.cfg"), "[ServerSettings]\nServerPort=6660\n"));
        QVERIFY(writeFile(app + QStringLiteral("/OmbrixSystemObjects.cfg"), "[ServerFiles]\nLogPanet=Ok\n"));
        QVERIFY(writeFile(app + QStringLiteral("/OmbrixServerUI.cfg"), "[PanelSettings]\nTabs=2\n"));
        QVERIFY(writeFile(app + QStringLiteral("/Downloads/ClientVersion.txt"), "[ClientValues]\n"));
        QVERIFY(writeFile(app + QStringLiteral("/logs/OmbrixServer-2026-01-01.log"), "day\n"));
        KTMaintainerScripts scripts(root + QStringLiteral("/DEBIAN"), machine.path());
        const QString settings = machine.filePath(QStringLiteral("etc/ombrix"));
        const QString state = machine.filePath(QStringLiteral("var/lib/ombrix"));
        const QString logs = machine.filePath(QStringLiteral("var/log/ombrix"));
        QCOMPARE(scripts.run(QStringLiteral("postinst"), QStringLiteral("configure")), QString());
        QCOMPARE(readFile(settings + QStringLiteral("/OmbrixServer.cfg")), QByteArray("[ServerSettings]\nServerPort=6660\n"));
        QVERIFY(privateToOwner(settings));
        QVERIFY(privateToOwner(settings + QStringLiteral("/OmbrixServer.cfg")));
        QVERIFY(privateToOwner(settings + QStringLiteral("/OmbrixSystemObjects.cfg")));
        QCOMPARE(readFile(state + QStringLiteral("/OmbrixServerUI.cfg")), QByteArray("[PanelSettings]\nTabs=2\n"));
        QVERIFY(QFileInfo::exists(state + QStringLiteral("/Downloads/ClientVersion.txt")));
        QVERIFY(QFileInfo::exists(logs + QStringLiteral("/OmbrixServer-2026-01-01.log")));
        for (const QString& dir : {state, logs})
            QVERIFY2(!(QFileInfo(dir).permissions() & (QFileDevice::WriteOther | QFileDevice::ReadOther)), qPrintable(dir));
        for (const char* moved : {"OmbrixServer.cfg", "OmbrixSystemObjects.cfg", "OmbrixServerUI.cfg", "logs"})
            QVERIFY2(!QFileInfo::exists(app + QLatin1Char('/') + QLatin1String(moved)), moved);
        // The updater and the connections find the download area beside the programs.
        QCOMPARE(QFileInfo(app + QStringLiteral("/Downloads")).symLinkTarget(), QStringLiteral("/var/lib/ombrix/Downloads"));

        // An upgrade keeps what the operator changed since.
        QVERIFY(writeFile(settings + QStringLiteral("/OmbrixServer.cfg"), "[ServerSettings]\nServerPort=7000\n"));
        QCOMPARE(scripts.run(QStringLiteral("postinst"), QStringLiteral("configure")), QString());
        QCOMPARE(readFile(settings + QStringLiteral("/OmbrixServer.cfg")), QByteArray("[ServerSettings]\nServerPort=7000\n"));

        // Removal keeps the settings, the state and the logs; purging removes them.
        QCOMPARE(scripts.run(QStringLiteral("postrm"), QStringLiteral("remove")), QString());
        for (const QString& kept : {settings + QStringLiteral("/OmbrixServer.cfg"), state + QStringLiteral("/Downloads"),
                                    logs + QStringLiteral("/OmbrixServer-2026-01-01.log")})
            QVERIFY2(QFileInfo::exists(kept), qPrintable(kept));
        QCOMPARE(scripts.run(QStringLiteral("postrm"), QStringLiteral("purge")), QString());
        for (const QString& gone : {settings, state, logs, app})
            QVERIFY2(!QFileInfo::exists(gone), qPrintable(gone));
    }

private Q_SLOTS:
    void initTestCase()
    {
        KT_REQUIRE_DATABASE();
        QVERIFY(KTTestDatabase::dropDatabase(dbName));
    }

    void stopSignalEndsThePanelCleanly_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }

    void stopSignalEndsThePanelCleanly()
    {
        QFETCH(int, signalNumber);
        QTemporaryDir dir;
        stage(dir.path());
        // Days past LogDays go at start; the others stay.
        const QString old = dir.filePath(QStringLiteral("logs/OmbrixServer-2000-01-01.log"));
        const QString recent = dir.filePath(QStringLiteral("logs/OmbrixServer-%1.log")
                                                .arg(QDate::currentDate().addDays(-3).toString(Qt::ISODate)));
        QVERIFY(writeFile(old, "viejo\n"));
        QVERIFY(writeFile(recent, "reciente\n"));

        KTPanelProcess panel(dir.path(), appDir + QStringLiteral("/OmbrixServerPanel"));
        QTRY_VERIFY_WITH_TIMEOUT(panel.ready(), 60000);
        QVERIFY(!QFile::exists(old));
        QVERIFY(QFile::exists(recent));
        const qint64 before = logouts();
        KTProtocolClient client;
        QVERIFY(client.connectToServer(QStringLiteral("127.0.0.1"), panel.port()));
        QCOMPARE(answer(client, KTTestServer::negotiation()), QStringLiteral("1"));
        QCOMPARE(answer(client, KTTestServer::login("jefe", "clave-jefe")), QStringLiteral("1"));
        QTRY_VERIFY(panel.log().contains(QStringLiteral("Solicitud de Autenticación de usuario 'jefe' exitosa")));

        QVERIFY2(panel.stop(signalNumber, 10000), "the panel did not stop within 10 s");
        QCOMPARE(panel.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(panel.process.exitCode(), 0);
        const QString errors = QString::fromUtf8(panel.process.readAllStandardError());
        QVERIFY2(!errors.contains(QStringLiteral("QThread")) && !errors.contains(QStringLiteral("another thread")),
                 qPrintable(errors.right(2000)));
        // The user connected at the stop is logged out, and the layout is saved.
        QCOMPARE(logouts(), before + 1);
        QVERIFY(client.waitForDisconnected(5000));
        QSettings layout(dir.filePath(QStringLiteral("OmbrixServerUI.cfg")), QSettings::IniFormat);
        QVERIFY(!layout.value(QStringLiteral("PanelSettings/Geometry")).toByteArray().isEmpty());
        // A first start shows the log and the connections.
        QStringList shown = layout.value(QStringLiteral("PanelSettings/ActivatedPanets")).toString().split('|');
        shown.sort();
        QCOMPARE(shown, QStringList({"ConnectorPanet--0,1,0", "LogPanet--0,0,0"}));

        // The day's file holds the start-up, the login, the stop and the logout, one line each.
        const QStringList lines = panel.log().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString& event : {QStringLiteral("El Panet : 'LogPanet' fue cargado exitosamente."),
                                     QStringLiteral("El servidor está esperando conexiones en el puerto"),
                                     QStringLiteral("Solicitud de Autenticación de usuario 'jefe' exitosa"),
                                     QStringLiteral("Se recibió la señal %1").arg(signalNumber),
                                     QStringLiteral("Usuario : 'jefe' desconectado")})
            QVERIFY2(!lines.filter(event).isEmpty(), qPrintable(event));
        for (const QString& line : lines)
            QVERIFY2(line.count(QLatin1Char('\t')) == 4, qPrintable(line));
        // The test account holds rights on its databases only: no warning of wider ones.
        QVERIFY(lines.filter(QStringLiteral("KTMainPanel::checkAccountPrivileges()")).isEmpty());
        const QStringList listening = lines.filter(QStringLiteral("esperando conexiones")).first().split('\t');
        QCOMPARE(listening.at(0), QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
        QCOMPARE(listening.at(2), QStringLiteral("Éxito"));
        QCOMPARE(listening.at(3), QStringLiteral("KTMainPanel::listenConnections()"));
    }

    // Under the service a server that cannot serve ends with a failure, for
    // the service manager to start it again; it says why, once.
    void serviceEndsWhenItCannotServe()
    {
        QTemporaryDir dir;
        stage(dir.path());
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
        KTPanelProcess panel(dir.path(), appDir + QStringLiteral("/OmbrixServerPanel"), {{}, 0, true, taken.serverPort()});
        QVERIFY2(panel.process.waitForFinished(120000), "the panel kept running without its port");
        QCOMPARE(panel.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(panel.process.exitCode(), 1);
        const QStringList refused = panel.log().split('\n').filter(
            QStringLiteral("El servidor no pudo abrir el puerto %1: ").arg(taken.serverPort()));
        QCOMPARE(refused.size(), 1);
        QVERIFY2(refused.first().contains(QStringLiteral("address is already in use"), Qt::CaseInsensitive),
                 qPrintable(refused.first()));
        // Under the service the events reach the journal through standard error.
        // with the priority the journal files it under.
        QVERIFY(QString::fromUtf8(panel.process.readAllStandardError()).contains(QStringLiteral("<3>") + refused.first()));

        // No database at all: it gives up after StartupTimeout.
        QTemporaryDir second;
        stage(second.path());
        KTPanelProcess waiting(second.path(), appDir + QStringLiteral("/OmbrixServerPanel"),
                               {QStringLiteral("StartupTimeout=2\nReconnectInterval=200\n"), freePort(), true, 0});
        QVERIFY2(waiting.process.waitForFinished(120000), "the panel kept waiting for the database");
        QCOMPARE(waiting.process.exitCode(), 1);
        QVERIFY(waiting.log().contains(QStringLiteral("la base de datos no respondió en 2 s")));
        QCOMPARE(waiting.log().count(QStringLiteral("Error al establecer conexión")), 1);
    }

    // What systemd hears from a unit of Type=notify: ready once the port is
    // open, a status line with the connections, the watchdog, the stop.
    void notifiesTheServiceManager()
    {
        QTemporaryDir dir;
        stage(dir.path());
        KTNotifySocket manager(dir.filePath(QStringLiteral("notify")));
        KTPanelProcess panel(dir.path(), appDir + QStringLiteral("/OmbrixServerPanel"),
                             {QStringLiteral("ReconnectInterval=200\n"), 0, true, 0, manager.path()});
        QTRY_VERIFY_WITH_TIMEOUT(manager.received().contains(QStringLiteral("READY=1")), 60000);
        QVERIFY(manager.received().contains(
            QStringLiteral("STATUS=Sirviendo en el puerto %1, 0 conexiones, BD conectada").arg(panel.port())));
        QTRY_VERIFY_WITH_TIMEOUT(manager.received().count(QStringLiteral("WATCHDOG=1")) >= 2, 30000);
        KTProtocolClient client;
        QVERIFY(client.connectToServer(QStringLiteral("127.0.0.1"), panel.port()));
        QCOMPARE(answer(client, KTTestServer::negotiation()), QStringLiteral("1"));
        QTRY_VERIFY_WITH_TIMEOUT(manager.received().contains(
            QStringLiteral("STATUS=Sirviendo en el puerto %1, 1 conexiones, BD conectada").arg(panel.port())), 30000);
        QVERIFY(panel.stop(SIGTERM, 10000));
        QCOMPARE(panel.process.exitCode(), 0);
        QVERIFY(manager.received().contains(QStringLiteral("STOPPING=1")));
    }

    // The status endpoint of a serving panel: health, Prometheus metrics and
    // the connections, with a logged-in client counted and listed; on the
    // loopback address only, read-only, and without a secret in sight.
    void statusEndpointReportsTheServer()
    {
        QTemporaryDir dir;
        stage(dir.path());
        const quint16 statusPort = freePort();
        KTPanelStart start;
        start.serverSettings = QStringLiteral("StatusPort=%1\n").arg(statusPort);
        KTPanelProcess panel(dir.path(), appDir + QStringLiteral("/OmbrixServerPanel"), start);
        QTRY_VERIFY_WITH_TIMEOUT(panel.ready(), 60000);
        // Told once it listens, after the tables are loaded.
        QTRY_VERIFY_WITH_TIMEOUT(
            panel.log().contains(QStringLiteral("Estado disponible en http://127.0.0.1:%1").arg(statusPort)), 20000);
        const auto get = [&](const QByteArray& path) { return httpRequest(QStringLiteral("127.0.0.1"), statusPort, path); };
        const KTHttpReply health = get("/health");
        QCOMPARE(health.status, 200);
        QVERIFY2(health.body.contains("BD conectada"), health.body.constData());

        KTProtocolClient client;
        QVERIFY(client.connectToServer(QStringLiteral("127.0.0.1"), panel.port()));
        QCOMPARE(answer(client, KTTestServer::negotiation()), QStringLiteral("1"));
        QCOMPARE(answer(client, KTTestServer::login("jefe", "clave-jefe")), QStringLiteral("1"));
        QTRY_VERIFY_WITH_TIMEOUT(get("/metrics").body.contains("\nombrix_logged_in_users 1\n"), 20000);
        const KTHttpReply metrics = get("/metrics");
        QCOMPARE(metrics.status, 200);
        QVERIFY(metrics.header("Content-Type").startsWith("text/plain; version=0.0.4"));
        for (const char* line : {"# TYPE ombrix_connections gauge\nombrix_connections 1\n",
                                 "# TYPE ombrix_request_duration_seconds histogram\n",
                                 "# TYPE ombrix_requests_total counter\n", "\nombrix_database_up 1\n",
                                 "\nombrix_database_reconnects_total 0\n", "\nombrix_scheduled_deliveries_total 0\n",
                                 "\nombrix_update_state 0\n"})
            QVERIFY2(metrics.body.contains(line), line);
        // Every sample belongs to a family announced before it.
        QSet<QString> families;
        for (const QString& line : QString::fromUtf8(metrics.body).split('\n', Qt::SkipEmptyParts)) {
            if (line.startsWith(QStringLiteral("# TYPE ")))
                families << line.section(' ', 2, 2);
            else if (!line.startsWith('#'))
                QVERIFY2(families.contains(line.section(QRegularExpression(QStringLiteral("[{ ]")), 0, 0)
                                               .remove(QRegularExpression(QStringLiteral("_(bucket|sum|count)$")))),
                         qPrintable(line));
        }
        // An action request for a component this installation does not
        // load: answered with a failure, and counted as one under its component.
        KTProtocolClient::Action action;
        action.component = QStringLiteral("DbSelectSercom");
        action.objectType = QStringLiteral("Component");
        action.objectName = QStringLiteral("ComponentUser");
        action.parameters = {{"Table", "accUser"}, {"Fields", "fldLogin"}, {"LineNumbers", "1"}};
        QCOMPARE(answer(client, KTProtocolClient::actionRequest({action})), QStringLiteral("0"));
        const auto total = [](const QString& counts, const QString& family) {
            const QRegularExpression sample(QStringLiteral("\n%1\\{component=\"[^\"]*\"\\} (\\d+)").arg(family));
            qint64 sum = 0;
            for (auto it = sample.globalMatch(counts); it.hasNext();)
                sum += it.next().captured(1).toLongLong();
            return sum;
        };
        // Counted once the reply is on its way: a moment after the client has it.
        QString counts;
        const auto countedOnce = [&] {
            counts = QString::fromUtf8(get("/metrics").body);
            return total(counts, QStringLiteral("ombrix_requests_total")) == 1
                && total(counts, QStringLiteral("ombrix_request_failures_total")) == 1
                && counts.contains(QStringLiteral("\nombrix_request_duration_seconds_count 1\n"));
        };
        QTRY_VERIFY2_WITH_TIMEOUT(countedOnce(), qPrintable(counts), 10000);

        // The monitor shows a connection's last frame within a moment: the
        // refused action request.
        KTHttpReply connections;
        QJsonArray list;
        const auto listed = [&] {
            connections = get("/connections");
            list = QJsonDocument::fromJson(connections.body).array();
            return list.size() == 1
                && list.first().toObject().value(QStringLiteral("lastAction")).toString().contains(
                    QStringLiteral("Solicitud de acción"));
        };
        QTRY_VERIFY2_WITH_TIMEOUT(listed(), connections.body.constData(), 10000);
        QCOMPARE(connections.status, 200);
        const QJsonObject entry = list.first().toObject();
        QVERIFY(entry.value(QStringLiteral("id")).toInt() > 0);
        QCOMPARE(entry.value(QStringLiteral("user")).toString(), QStringLiteral("jefe"));
        QCOMPARE(entry.value(QStringLiteral("address")).toString(), QStringLiteral("127.0.0.1"));
        QVERIFY(QDateTime::fromString(entry.value(QStringLiteral("since")).toString(), Qt::ISODate).isValid());
        for (const QByteArray& secret : {QByteArray("clave-jefe"), KTTestDatabase::password().toUtf8(),
                                         KTTestServer::companyPassword.toUtf8()})
            QVERIFY(!connections.body.contains(secret) && !metrics.body.contains(secret) && !health.body.contains(secret));

        QCOMPARE(get("/").status, 404);
        QCOMPARE(get("/health/more").status, 404);
        QCOMPARE(get("/OmbrixServer.cfg").status, 404);
        QCOMPARE(httpRequest(QStringLiteral("127.0.0.1"), statusPort, "/health", "POST").status, 405);
        // Bound to 127.0.0.1 itself: another loopback address finds nobody.
        QCOMPARE(httpRequest(QStringLiteral("127.0.0.2"), statusPort, "/health").status, 0);
        QCOMPARE(get("/health").status, 200);
    }

    // --help and --version answer and end; nothing starts, nothing is written.
    // A site that serves TLS only: the plain port stays closed, the private
    // key that others may read is warned about, and a renewed certificate is
    // taken up while the panel runs; a broken one leaves the one in force.
    void encryptedPortAloneWithARenewableCertificate()
    {
        KTTestCertificates certificates;
        QVERIFY2(certificates.isValid(), qPrintable(certificates.errorString()));
        QTemporaryDir dir;
        stage(dir.path());
        const QString certificate = dir.filePath(QStringLiteral("tls/server.pem"));
        const QString key = dir.filePath(QStringLiteral("tls/server.key"));
        QVERIFY(writeFile(certificate, readFile(certificates.certificate())));
        QVERIFY(writeFile(key, readFile(certificates.key())));
        QVERIFY(QFile::setPermissions(key, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        const quint16 tlsPort = freePort();
        const quint16 statusPort = freePort();
        KTPanelStart start;
        start.serverSettings = QStringLiteral("PlainPort=false\nTlsPort=%1\nTlsCertificate=tls/server.pem\n"
                                              "TlsPrivateKey=tls/server.key\nStatusPort=%2\n").arg(tlsPort).arg(statusPort);
        KTPanelProcess panel(dir.path(), appDir + QStringLiteral("/OmbrixServerPanel"), start);
        QTRY_VERIFY_WITH_TIMEOUT(panel.ready(), 60000);
        QTRY_VERIFY_WITH_TIMEOUT(panel.log().contains(
            QStringLiteral("El servidor está esperando conexiones cifradas (TLS) en el puerto %1").arg(tlsPort)), 20000);
        QVERIFY(panel.log().contains(QStringLiteral("Otros usuarios pueden leer el archivo %1, que guarda la clave "
                                                    "privada del puerto cifrado").arg(key)));
        QVERIFY(!panel.log().contains(QStringLiteral("esperando conexiones en el puerto")));
        KTProtocolClient plain;
        QVERIFY(!plain.connectToServer(QStringLiteral("127.0.0.1"), panel.port(), 2000));

        KTProtocolClient user;
        QVERIFY(user.setTls(true, certificates.authority()));
        QVERIFY2(user.connectToServer(QStringLiteral("127.0.0.1"), tlsPort), qPrintable(user.errorString()));
        QCOMPARE(answer(user, KTTestServer::negotiation()), QStringLiteral("1"));
        QCOMPARE(answer(user, KTTestServer::login("jefe", "clave-jefe")), QStringLiteral("1"));
        QVERIFY(panel.log().contains(QStringLiteral("está cifrada (TLS 1.")));
        QTRY_VERIFY_WITH_TIMEOUT(
            httpRequest(QStringLiteral("127.0.0.1"), statusPort, "/connections").body.contains("\"encrypted\":true"),
            20000);

        QVERIFY(writeFile(certificate, "-----BEGIN CERTIFICATE-----\nroto\n-----END CERTIFICATE-----\n"));
        QTRY_VERIFY_WITH_TIMEOUT(panel.log().contains(QStringLiteral("El certificado TLS renovado no puede usarse")),
                                 20000);
        KTProtocolClient kept;
        QVERIFY(kept.setTls(true, certificates.authority()));
        QVERIFY2(kept.connectToServer(QStringLiteral("127.0.0.1"), tlsPort), qPrintable(kept.errorString()));
        kept.disconnectFromServer();

        // Renewed for another name: a client checking the name now refuses it.
        QVERIFY(certificates.issue(certificates.path("renewed.pem"), certificates.path("renewed.key"), "otro.example"));
        QVERIFY(writeFile(key, readFile(certificates.path("renewed.key"))));
        QVERIFY(writeFile(certificate, readFile(certificates.path("renewed.pem"))));
        QTRY_VERIFY_WITH_TIMEOUT(panel.log().contains(QStringLiteral("Certificado TLS renovado")), 20000);
        KTProtocolClient renewed;
        QVERIFY(renewed.setTls(true, certificates.authority()));
        QVERIFY(!renewed.connectToServer(QStringLiteral("127.0.0.1"), tlsPort));
        // The connection open before goes on with the certificate it had.
        QString reply;
        QVERIFY(user.send(KTProtocolClient::keepAlive()) && user.waitForReply(&reply, 20000));
        QVERIFY2(reply.contains(QStringLiteral("KeepAlive")), qPrintable(reply));
    }

    void commandLineStartsNothing_data()
    {
        QTest::addColumn<QString>("program");
        for (const char* program : {"OmbrixServerPanel", "OmbrixServerRunner", "OmbrixClientConsole", "OmbrixHashKeys",
                                    "OmbrixUpgradeAdmin", "OmbrixBenchmark"})
            QTest::newRow(program) << QString::fromLatin1(program);
    }

    void commandLineStartsNothing()
    {
        QFETCH(QString, program);
        QTemporaryDir dir;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // As an operator's shell without a display would have it.
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        const auto run = [&](const QString& option) {
            QProcess process;
            process.setWorkingDirectory(dir.path());
            process.setProcessEnvironment(environment);
            process.start(appDir + QLatin1Char('/') + program, {option});
            if (!process.waitForFinished(30000)) {
                process.kill();
                process.waitForFinished();
            }
            return std::make_pair(process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()));
        };
        const auto help = run(QStringLiteral("--help"));
        QCOMPARE(help.first, 0);
        QVERIFY2(help.second.contains(QStringLiteral("--version")), qPrintable(help.second));
        const auto version = run(QStringLiteral("--version"));
        QCOMPARE(version.first, 0);
        QCOMPARE(version.second.trimmed(), program + QLatin1Char(' ') + KTVersion::ombrixServerVersion());
        QCOMPARE(run(QStringLiteral("--no-such-option")).first, 2);
        QVERIFY(QDir(dir.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    }

    // What the package installs, and a panel started from that tree.
    void debianPackage()
    {
        QTemporaryDir output;
        QProcess cpack;
        cpack.setWorkingDirectory(QStringLiteral(OMBRIX_BUILD_DIR));
        cpack.setProcessChannelMode(QProcess::MergedChannels);
        cpack.start(QStringLiteral(OMBRIX_CPACK), {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"),
                                                   output.path()});
        QVERIFY(cpack.waitForFinished(120000));
        QVERIFY2(cpack.exitCode() == 0, cpack.readAll().constData());
        const QStringList packages = QDir(output.path()).entryList({QStringLiteral("*.deb")});
        QCOMPARE(packages.size(), 1);
        const QString package = output.filePath(packages.first());

        QProcess dpkg;
        dpkg.start(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), package, QStringLiteral("Depends")});
        QVERIFY(dpkg.waitForFinished(30000));
        const QString depends = QString::fromUtf8(dpkg.readAll());
        for (const char* dependency : {"libqt6core6", "libqt6widgets6", "libqt6network6", "libqt6sql6",
                                       "libqt6sql6-mysql", "libqt6xml6", "libqt6gui6", "libsystemd0"})
            QVERIFY2(depends.contains(QLatin1String(dependency)), dependency);

        QTemporaryDir root;
        QCOMPARE(QProcess::execute(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), package, root.path()}), 0);
        QCOMPARE(QProcess::execute(QStringLiteral("dpkg-deb"),
                                   {QStringLiteral("-e"), package, root.filePath(QStringLiteral("DEBIAN"))}), 0);
        const QString tree = root.filePath(QStringLiteral("opt/ombrix"));
        for (const char* file : {"OmbrixServerPanel", "OmbrixServerRunner", "libOmbrixServerConnector.so",
                                 "OmbrixServerPanets/libLogPanet.so",
                                 "OmbrixServerComponents/OmbrixAuthenticate/libPasswordAuthcom.so",
                                 "OmbrixServerComponents/OmbrixDbMaps/libMySqlDialectMap.so",
                                 "OmbrixDbData/Tables/accUser.otd"})
            QVERIFY2(QFileInfo::exists(tree + QLatin1Char('/') + QLatin1String(file)), file);
        QVERIFY(QFileInfo(tree + QStringLiteral("/OmbrixServerPanel")).isExecutable());
        const QString postinst = QString::fromUtf8(readFile(root.filePath(QStringLiteral("DEBIAN/postinst"))));
        QVERIFY(postinst.contains(QStringLiteral("useradd --system")));
        checkDebianPlaces(root.path(), package);
        if (QTest::currentTestFailed())
            return;
        // The server's user may not write its own code: every program,
        // library, plug-in and folder is root's and writable by root only.
        const QStringList wrong = writableByOthers(package);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char('\n'))));
        QVERIFY(postinst.contains(QStringLiteral("-exec chown root:root {} + -exec chmod go-w {} +")));
        QVERIFY(!postinst.contains(QStringLiteral("-type d -exec chown ombrix")));

        const QString unitPath = root.filePath(QStringLiteral("lib/systemd/system/ombrix-server.service"));
        const QString unit = QString::fromUtf8(readFile(unitPath));
        for (const char* line : {"User=ombrix", "WorkingDirectory=/opt/ombrix", "Environment=QT_QPA_PLATFORM=offscreen",
                                 "ExecStart=/opt/ombrix/OmbrixServerPanel", "KillSignal=SIGTERM", "Restart=on-failure",
                                 "ExecStartPre=+/opt/ombrix/OmbrixServerRunner --install-only",
                                 "ExecStartPre=+/bin/chown -R ombrix:ombrix /var/lib/ombrix/Downloads",
                                 "StateDirectory=ombrix", "LogsDirectory=ombrix",
                                 "WantedBy=multi-user.target"})
            QVERIFY2(unit.contains(QLatin1String(line) + QLatin1Char('\n')), line);
        for (const char* line : {"Type=notify", "Wants=network-online.target mariadb.service"})
            QVERIFY2(unit.contains(QLatin1String(line) + QLatin1Char('\n')), line);
        QVERIFY(QRegularExpression(QStringLiteral("\nWatchdogSec=\\d+\n")).match(unit).hasMatch());
        const QString analyze = QStandardPaths::findExecutable(QStringLiteral("systemd-analyze"));
        if (analyze.isEmpty())
            qWarning("systemd-analyze is not installed: the unit is not verified");
        else {
            // Pointed at the extracted tree, so that its programs are found.
            const QString copy = root.filePath(QStringLiteral("ombrix-server.service"));
            QVERIFY(writeFile(copy, QString(unit).replace(QStringLiteral("/opt/ombrix"), tree).toUtf8()));
            QProcess verify;
            verify.setProcessChannelMode(QProcess::MergedChannels);
            // The manual page the unit names is in the package, not yet installed here.
            verify.start(analyze, {QStringLiteral("verify"), QStringLiteral("--man=no"), copy});
            QVERIFY(verify.waitForFinished(30000));
            QVERIFY2(verify.exitCode() == 0, verify.readAll().constData());
        }

        // The packaged programs keep their settings, state and log where the
        // packaged places say, here under the extracted tree's root.
        QSettings places(tree + QStringLiteral("/OmbrixPaths.cfg"), QSettings::IniFormat);
        for (const char* place : {"Settings", "State", "Logs"})
            places.setValue(QStringLiteral("Places/") + QLatin1String(place),
                            root.path() + places.value(QStringLiteral("Places/") + QLatin1String(place)).toString());
        places.sync();
        const QString settingsDir = root.filePath(QStringLiteral("etc/ombrix"));
        const QString stateDir = root.filePath(QStringLiteral("var/lib/ombrix"));
        for (const QString& dir : {settingsDir, stateDir})
            QVERIFY(QDir().mkpath(dir));
        KTPanelStart start;
        start.settingsDirectory = settingsDir;
        start.logDirectory = root.filePath(QStringLiteral("var/log/ombrix"));
        KTPanelProcess panel(tree, tree + QStringLiteral("/OmbrixServerPanel"), start);
        QTRY_VERIFY_WITH_TIMEOUT(panel.ready(), 60000);
        KTProtocolClient client;
        QVERIFY(client.connectToServer(QStringLiteral("127.0.0.1"), panel.port()));
        QCOMPARE(answer(client, KTTestServer::negotiation()), QStringLiteral("1"));
        QVERIFY(panel.stop(SIGTERM, 10000));
        QCOMPARE(panel.process.exitCode(), 0);
        QVERIFY(QFileInfo::exists(stateDir + QStringLiteral("/OmbrixServerUI.cfg")));
        for (const char* written : {"logs", "OmbrixServerUI.cfg"})
            QVERIFY2(!QFileInfo::exists(tree + QLatin1Char('/') + QLatin1String(written)), written);

        // Without a display the runner writes the object list as the wizard
        // does, where OMBRIX_CONFIG_DIR says rather than where the package does.
        QTemporaryDir configDir;
        const QString objects = configDir.filePath(QStringLiteral("OmbrixSystemObjects.cfg"));
        QProcess writer;
        writer.setProcessChannelMode(QProcess::MergedChannels);
        QProcessEnvironment headless = QProcessEnvironment::systemEnvironment();
        headless.remove(QStringLiteral("QT_QPA_PLATFORM"));
        headless.insert(QStringLiteral("OMBRIX_CONFIG_DIR"), configDir.path());
        writer.setProcessEnvironment(headless);
        writer.start(tree + QStringLiteral("/OmbrixServerRunner"), {QStringLiteral("--write-objects")});
        QVERIFY(writer.waitForFinished(30000));
        QVERIFY2(writer.exitCode() == 0, writer.readAll().constData());
        QSettings written(objects, QSettings::IniFormat);
        QCOMPARE(written.value(QStringLiteral("ServerFiles/LogPanet")).toString(), QStringLiteral("Ok"));
        QCOMPARE(written.value(QStringLiteral("ServerFiles/PasswordAuthcom")).toString(), QStringLiteral("Ok"));
        QCOMPARE(written.value(QStringLiteral("ClientFiles/ComponentUser")).toString(), QStringLiteral("Ok"));
        QVERIFY(!readFile(settingsDir + QStringLiteral("/OmbrixSystemObjects.cfg")).contains("=Ok"));

        // The unit's start-up step, run as it runs it, puts a downloaded
        // release in place: readable by the service's user, writable by the
        // step's user only.
        stageRelease(stateDir, "staged library");
        QProcess runner;
        runner.setWorkingDirectory(tree);
        runner.setProcessChannelMode(QProcess::MergedChannels);
        runner.start(tree + QStringLiteral("/OmbrixServerRunner"), {QStringLiteral("--install-only")});
        QVERIFY(runner.waitForFinished(60000));
        QVERIFY2(runner.exitCode() == 0, runner.readAll().constData());
        const QString promoted = tree + QStringLiteral("/OmbrixServerComponents/OmbrixDBManipulation/libKTStaged.so");
        QCOMPARE(readFile(promoted), QByteArray("staged library"));
        const QFileInfo info(promoted);
        QCOMPARE(info.ownerId(), QFileInfo(tree).ownerId());
        QVERIFY(info.permissions() & QFileDevice::ReadOther);
        QVERIFY(!(info.permissions() & (QFileDevice::WriteGroup | QFileDevice::WriteOther)));
        QVERIFY(!QFile::exists(stateDir + QStringLiteral("/Downloads/DownloadedServerVersion.txt")));
    }
};

QTEST_GUILESS_MAIN(tst_ServerProcess)
#include "tst_serverprocess.moc"
