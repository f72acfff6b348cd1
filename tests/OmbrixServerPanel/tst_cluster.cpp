#include "KTPanelProcess.h"
#include "KTTestDatabase.h"
#include "KTTestHttp.h"
#include "KTTestRedis.h"

#include <KTProtocolClient.h>
#include <KTVersion.h>

#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const QString dbName = QStringLiteral("ombrix_test_cluster");
const QString appDir = qEnvironmentVariable("OMBRIX_APP_DIR");
const QString categoryFields = QStringLiteral("pkyProductCategory,fldName,fldDescription,sysEnabled,sysEditable,"
                                              "sysAuthorized,sysVisible,sysContext,sysAuthorizationGroup");
constexpr int waitMs = 30000;

KTProtocolClient::Action insertCategory(const QString& name, const QString& objectName)
{
    return {QStringLiteral("DbInsertSercom"),
            {{"Table", "invProductCategory"}, {"Fields", categoryFields},
             {"Values", QStringLiteral("NULL|'%1'|'cluster'|1|2|1|2|0|1").arg(name)}, {"LineNumbers", "1"}},
            QStringLiteral("Component"), objectName, QString()};
}

KTProtocolClient::Action browseCategories(const QString& stats)
{
    return {QStringLiteral("DbBrowseSercom"),
            {{"Table", "invProductCategory"}, {"Where", ""}, {"OrderBy", "1"}, {"Limit", "500"}, {"ResolveKeys", "0"},
             {"Stats", stats}},
            QStringLiteral("Component"), QStringLiteral("ComponentProductCategory"), QString()};
}

QString status(const QString& reply)
{
    return KTProtocolClient::element(reply, QStringLiteral("Status"));
}

// The next frame that carries the given text, skipping others; empty when none came in time.
QString replyWith(KTProtocolClient& client, const QString& text, int timeoutMs = waitMs)
{
    QDeadlineTimer deadline(timeoutMs);
    QString reply;
    while (client.waitForReply(&reply, int(qMax<qint64>(1, deadline.remainingTime()))))
        if (reply.contains(text))
            return reply;
    return QString();
}

} // namespace

// Two panel processes on one database, linked by a throwaway Redis: what
// one instance's users do reaches the other's as it would on one server.
class tst_Cluster : public QObject
{
    Q_OBJECT

    KTTestRedis _redis;
    QTemporaryDir _north;
    QTemporaryDir _south;
    std::unique_ptr<KTPanelProcess> _a;
    std::unique_ptr<KTPanelProcess> _b;
    quint16 _statusPort = 0;

    static int linked(const KTPanelProcess& panel)
    {
        return panel.log().count(QStringLiteral("Conectado con el intermediario"));
    }

    std::unique_ptr<KTPanelProcess> startPanel(const QTemporaryDir& dir, const QString& name, quint16 statusPort)
    {
        KTPanelStart start;
        start.dbName = dbName;
        start.serverSettings = QStringLiteral("StatusPort=%1\n[Cluster]\nBroker=%2\nInstanceName=%3\n")
                                   .arg(statusPort).arg(_redis.url(), name);
        start.serverFiles = QStringLiteral("DbInsertSercom\nDbBrowseSercom\n");
        start.clientFiles = QStringLiteral("ComponentMessage\nComponentProductCategory\nComponentWarehouse\n");
        return std::make_unique<KTPanelProcess>(dir.path(), appDir + QStringLiteral("/OmbrixServerPanel"), start);
    }

    static bool logIn(KTProtocolClient& client, const KTPanelProcess& panel, const QString& login,
                      const QString& password)
    {
        QString reply;
        return client.connectToServer(QStringLiteral("127.0.0.1"), panel.port())
            && client.send(KTTestServer::negotiation()) && client.waitForReply(&reply, waitMs) && status(reply) == "1"
            && client.send(KTTestServer::login(login, password)) && client.waitForReply(&reply, waitMs)
            && status(reply) == "1";
    }

    static QString value(const QString& sql)
    {
        QSqlDatabase db = KTTestDatabase::open(QStringLiteral("cluster"), dbName);
        QSqlQuery query(db);
        return query.exec(sql) && query.next() ? query.value(0).toString() : QString();
    }

    QString carlaPassword() const { return value(QStringLiteral("SELECT fldKey FROM accUserIdentifier WHERE codUser = 3")); }

    bool logInSupport(KTProtocolClient& client, const KTPanelProcess& panel)
    {
        return logIn(client, panel, QStringLiteral("soporte"), KTVersion::ombrixServerPassword());
    }

private Q_SLOTS:
    void initTestCase()
    {
        KT_REQUIRE_DATABASE();
        QVERIFY(KTTestDatabase::dropDatabase(dbName));
        QVERIFY2(_redis.start(), "redis-server did not start");
        QVERIFY(linkStagedFolders(_north.path()));
        QVERIFY(linkStagedFolders(_south.path()));
        _statusPort = freePort();
        // The first creates the database; the second finds it made.
        _a = startPanel(_north, QStringLiteral("norte"), _statusPort);
        QTRY_VERIFY_WITH_TIMEOUT(_a->ready(), 120000);
        {
            QSqlDatabase db = KTTestDatabase::open(QStringLiteral("cluster"), dbName);
            // The demo installation ships the support user and cmendez disabled.
            QVERIFY(QSqlQuery(db).exec(QStringLiteral("UPDATE accUser SET sysEnabled = 1 WHERE pkyUser IN (1, 3)")));
        }
        _b = startPanel(_south, QStringLiteral("sur"), freePort());
        QTRY_VERIFY_WITH_TIMEOUT(_b->ready(), 120000);
        QTRY_COMPARE_WITH_TIMEOUT(linked(*_a), 1, waitMs);
        QTRY_COMPARE_WITH_TIMEOUT(linked(*_b), 1, waitMs);
    }

    // An insert on one instance reaches a reader on the other, and a
    // restricted user there only for a client object she may read.
    void pushReachesReadersOnTheOtherInstance()
    {
        KTProtocolClient writer, reader, restricted;
        QVERIFY(logIn(writer, *_a, QStringLiteral("jefe"), QStringLiteral("clave-jefe")));
        QVERIFY(logInSupport(reader, *_b));
        QVERIFY(logIn(restricted, *_b, QStringLiteral("cmendez"), carlaPassword()));

        QVERIFY(writer.send(KTProtocolClient::actionRequest({insertCategory("Norte almacén", "ComponentWarehouse")})));
        QCOMPARE(status(replyWith(writer, "AppendRecords")), QStringLiteral("1"));
        QVERIFY(!replyWith(reader, "Norte almacén").isEmpty());
        QVERIFY(writer.send(KTProtocolClient::actionRequest({insertCategory("Norte categoría", "ComponentProductCategory")})));
        QCOMPARE(status(replyWith(writer, "AppendRecords")), QStringLiteral("1"));
        QVERIFY(!replyWith(reader, "Norte categoría").isEmpty());
        // Pushes of one instance arrive in commit order: her first is the second insert.
        QString first;
        QVERIFY(restricted.waitForReply(&first, waitMs));
        QVERIFY2(first.contains("Norte categoría"), qPrintable(first.left(300)));
        // The requester's own reply came once, on its own connection.
        QVERIFY(writer.replies(300).isEmpty());
    }

    // A user that logs in on the second instance loses the session on the first.
    void loginOnOneInstanceClosesTheOther()
    {
        KTProtocolClient first, second;
        QVERIFY(logIn(first, *_a, QStringLiteral("cmendez"), carlaPassword()));
        QVERIFY(logIn(second, *_b, QStringLiteral("cmendez"), carlaPassword()));
        QVERIFY(first.waitForDisconnected(waitMs));
        QTRY_VERIFY_WITH_TIMEOUT(_a->log().contains(QStringLiteral("Usuario : 'cmendez' se conectó en otra instancia")),
                                 waitMs);
        QString reply;
        QVERIFY(second.send(KTProtocolClient::keepAlive()));
        QVERIFY(second.waitForReply(&reply, waitMs));
        QVERIFY(second.isConnected());
    }

    // A browse on one instance after an insert on the other sends the rows:
    // the statistics it compares came from both.
    void browseSeesChangesOfTheOtherInstance()
    {
        KTProtocolClient browser, writer;
        QVERIFY(logIn(browser, *_a, QStringLiteral("jefe"), QStringLiteral("clave-jefe")));
        QVERIFY(logInSupport(writer, *_b));
        QVERIFY(browser.send(KTProtocolClient::actionRequest({browseCategories(QString())})));
        const QString rows = replyWith(browser, "FillSetModel");
        QCOMPARE(status(rows), QStringLiteral("1"));
        const QStringList stats = KTProtocolClient::element(rows, QStringLiteral("Stats")).split(',');
        QCOMPARE(stats.size(), 5);
        const QString seen = stats.mid(1, 3).join(',');
        QVERIFY(browser.send(KTProtocolClient::actionRequest({browseCategories(seen)})));
        QCOMPARE(status(replyWith(browser, "FillSetModel")), QStringLiteral("0"));

        QVERIFY(writer.send(KTProtocolClient::actionRequest({insertCategory("Sur nueva", "ComponentProductCategory")})));
        QCOMPARE(status(replyWith(writer, "AppendRecords")), QStringLiteral("1"));
        // The push travels behind the statistics: once it is here, so are they.
        QVERIFY(!replyWith(browser, "Sur nueva").isEmpty());
        QVERIFY(browser.send(KTProtocolClient::actionRequest({browseCategories(seen)})));
        const QString again = replyWith(browser, "FillSetModel");
        QCOMPARE(status(again), QStringLiteral("1"));
        QVERIFY(again.contains("Sur nueva"));
    }

    // A message due in a minute's time fires once, on whichever instance
    // ticks first, and reaches its targets on both.
    void scheduledMessageReachesTargetsOnBothInstances()
    {
        KTProtocolClient sender, onA, onB;
        QVERIFY(logIn(sender, *_a, QStringLiteral("jefe"), QStringLiteral("clave-jefe")));
        QVERIFY(logInSupport(onA, *_a));
        QVERIFY(logIn(onB, *_b, QStringLiteral("cmendez"), carlaPassword()));
        // Far enough ahead that the request is stored before the minute begins.
        QDateTime due = QDateTime::currentDateTime().addSecs(60);
        if (due.time().second() > 45)
            due = due.addSecs(60);
        const QString text = QStringLiteral("Aviso del clúster");
        const QMap<QString, QString> schedule{
            {"SourceUser", "2"}, {"TargetGroup", "1"}, {"TaskType", "3"},
            {"Year", QString::number(due.date().year())}, {"Month", QString::number(due.date().month())},
            {"Day", QString::number(due.date().day())}, {"Weekday", "0"},
            {"Hour", QString::number(due.time().hour())}, {"Minute", QString::number(due.time().minute())},
            {"Period", "0"}, {"RequestDate", due.date().toString(Qt::ISODate)}, {"ID", "cluster-1"},
            {"Command", QStringLiteral("NULL,2,1,%1,%2,Aviso,Ref-1,%3,1,2,1,2,0,1")
                            .arg(due.date().toString(Qt::ISODate), due.time().toString(QStringLiteral("hh:mm:00")),
                                 QString::fromLatin1(text.toUtf8().toBase64()))},
            {"Users", "1,3"}};
        QVERIFY(sender.send(KTProtocolClient::schedule(schedule)));
        const QString base64 = QString::fromLatin1(text.toUtf8().toBase64());
        // Two ticks of each instance fall within the minute.
        QVERIFY(!replyWith(onA, base64, 180000).isEmpty());
        QVERIFY(!replyWith(onB, base64, 180000).isEmpty());
        // Once the minute is over no instance fires it again.
        const QDateTime over = QDateTime(due.date(), QTime(due.time().hour(), due.time().minute())).addSecs(100);
        QTRY_VERIFY_WITH_TIMEOUT(QDateTime::currentDateTime() > over, 240000);
        QCOMPARE(value(QStringLiteral("SELECT COUNT(*) FROM comMessage WHERE fldText = '%1'").arg(text)),
                 QStringLiteral("1"));
        for (KTProtocolClient* client : {&onA, &onB})
            for (const QString& reply : client->replies(300))
                QVERIFY(!reply.contains(base64));
    }

    // Garbage on the channel is dropped and said; the instance goes on.
    void malformedMessagesAreDropped()
    {
        const QString channel = QStringLiteral("ombrix:%1:%2").arg(KTTestDatabase::host(), dbName);
        for (const char* junk : {"no es json", "{\"k\":\"push\",\"o\":\"x\",\"s\":\"1\",\"u\":\"\",\"e\":[[1,2]]}",
                                 "{\"k\":\"stats\",\"o\":\"x\",\"s\":\"2\",\"t\":\"invProductCategory\",\"m\":[1e300]}",
                                 "{\"k\":\"close\",\"o\":\"x\",\"s\":\"3\",\"target\":\"y\",\"u\":\"a\",\"c\":-4}"})
            QCOMPARE(_redis.command({QStringLiteral("PUBLISH"), channel, QLatin1String(junk)}).trimmed(),
                     QStringLiteral("2"));
        QTRY_COMPARE_WITH_TIMEOUT(_a->log().count(QStringLiteral("Se descartó un mensaje no válido")), 4, waitMs);
        QCOMPARE(_a->process.state(), QProcess::Running);
        QCOMPARE(_b->process.state(), QProcess::Running);
    }

    // A broker that goes away and comes back: both instances say so, the
    // status endpoint shows it, and pushes made after its return all arrive.
    void brokerRestartLosesNoLaterPush()
    {
        const auto metrics = [this] { return httpRequest(QStringLiteral("127.0.0.1"), _statusPort, "/metrics").body; };
        QVERIFY(metrics().contains("\nombrix_broker_up 1\n"));
        _redis.stop();
        QTRY_VERIFY_WITH_TIMEOUT(_a->log().contains(QStringLiteral("Se perdió la conexión con el intermediario")), waitMs);
        QTRY_VERIFY_WITH_TIMEOUT(_b->log().contains(QStringLiteral("Se perdió la conexión con el intermediario")), waitMs);
        QTRY_VERIFY_WITH_TIMEOUT(metrics().contains("\nombrix_broker_up 0\n"), waitMs);
        const KTHttpReply health = httpRequest(QStringLiteral("127.0.0.1"), _statusPort, "/health");
        QCOMPARE(health.status, 200);
        QVERIFY2(health.body.contains("intermediario sin conexión"), health.body.constData());

        QVERIFY(_redis.start());
        QTRY_COMPARE_WITH_TIMEOUT(linked(*_a), 2, waitMs);
        QTRY_COMPARE_WITH_TIMEOUT(linked(*_b), 2, waitMs);
        QTRY_VERIFY_WITH_TIMEOUT(metrics().contains("\nombrix_broker_up 1\n"), waitMs);
        KTProtocolClient writer, reader;
        QVERIFY(logIn(writer, *_a, QStringLiteral("jefe"), QStringLiteral("clave-jefe")));
        QVERIFY(logInSupport(reader, *_b));
        for (int i = 1; i <= 5; ++i) {
            QVERIFY(writer.send(KTProtocolClient::actionRequest(
                {insertCategory(QStringLiteral("Tras reinicio %1").arg(i), "ComponentProductCategory")})));
            QCOMPARE(status(replyWith(writer, "AppendRecords")), QStringLiteral("1"));
        }
        for (int i = 1; i <= 5; ++i)
            QVERIFY2(!replyWith(reader, QStringLiteral("Tras reinicio %1").arg(i)).isEmpty(), qPrintable(QString::number(i)));
    }

    void cleanupTestCase()
    {
        _a.reset();
        _b.reset();
        _redis.stop();
    }
};

QTEST_GUILESS_MAIN(tst_Cluster)
#include "tst_cluster.moc"
