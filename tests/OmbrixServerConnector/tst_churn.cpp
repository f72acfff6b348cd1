#include "KTTestDatabase.h"
#include "KTTestServer.h"

#include <KTDatabaseController.h>
#include <KTProtocolClient.h>
#include <KTServerConnector.h>

#include <QDir>
#include <QSqlQuery>
#include <QtTest>

#include <memory>

namespace {

const QString dbName = QStringLiteral("ombrix_test_churn");

int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

QString selectRequest()
{
    KTProtocolClient::Action action;
    action.component = QStringLiteral("DbSelectSercom");
    action.objectType = QStringLiteral("Object");
    action.objectName = QStringLiteral("ComponentProduct");
    action.parameters = {{"RequestNumber", "1"}, {"RequestName", "Producto"}, {"From", "invProduct"},
                         {"Fields", "pkyProduct,fldName"}, {"Where", "pkyProduct = 1"}, {"OrderBy", ""},
                         {"GroupBy", ""}};
    return KTProtocolClient::actionRequest({action});
}

} // namespace

// Clients that come, log in, ask once and leave, over and over: the server
// ends where it started, in threads, database connections and memory.
class tst_Churn : public QObject
{
    Q_OBJECT

    KTDatabaseController* _controller = nullptr;
    std::unique_ptr<KTTestServer> _server;
    QStringList _passwords;

    int databaseConnections()
    {
        QSqlQuery query = _controller->customQuery("SHOW STATUS LIKE 'Threads_connected'");
        return query.next() ? query.value(1).toInt() : -1;
    }

    qint64 logouts()
    {
        QSqlQuery query = _controller->customQuery("SELECT COUNT(*) FROM dbaUserLog WHERE codComponentAction = 2");
        return query.next() ? query.value(0).toLongLong() : -1;
    }

    // Both demo users at once, each through a whole visit; false on any wrong answer.
    bool round()
    {
        // A user's earlier visit has left before the next one logs in.
        if (!_server->waitForConnections(0))
            return false;
        const QStringList logins{QStringLiteral("admin"), QStringLiteral("cmendez")};
        std::vector<std::unique_ptr<KTRawClient>> clients;
        for (int user = 0; user < 2; ++user) {
            clients.push_back(_server->negotiatedClient());
            if (!clients.back())
                return false;
            clients.back()->sendText(KTTestServer::login(logins.at(user), _passwords.at(user)));
        }
        for (auto& client : clients) {
            const QString reply = client->nextReply();
            if (KTTestServer::element(reply, QStringLiteral("Status")) != QLatin1String("1")) {
                qWarning("%s", qPrintable(reply));
                return false;
            }
        }
        for (auto& client : clients)
            client->sendText(selectRequest());
        for (auto& client : clients) {
            const QString reply = client->nextReply();
            if (KTProtocolClient::element(reply, QStringLiteral("Status")) != QLatin1String("1")) {
                qWarning("%s", qPrintable(reply));
                return false;
            }
        }
        return true;
    }

    std::unique_ptr<KTRawClient> loggedIn(int user)
    {
        const QStringList logins{QStringLiteral("admin"), QStringLiteral("cmendez")};
        auto client = _server->negotiatedClient();
        if (!client)
            return nullptr;
        client->sendText(KTTestServer::login(logins.at(user), _passwords.at(user)));
        if (KTTestServer::element(client->nextReply(), QStringLiteral("Status")) != QLatin1String("1"))
            return nullptr;
        return client;
    }

private Q_SLOTS:
    void initTestCase()
    {
        KT_REQUIRE_DATABASE();
        _controller = new KTDatabaseController(this);
        QVERIFY(KTTestServer::prepareDatabase(_controller, dbName));
        // The demo data ships the normal user disabled.
        QVERIFY(_controller->customQuery("UPDATE accUser SET sysEnabled = 1 WHERE pkyUser = 3").isActive());
        _passwords = {KTTestServer::password(_controller, 2), KTTestServer::password(_controller, 3)};
        _server = std::make_unique<KTTestServer>(_controller, dbName, QStringLiteral("PasswordAuthcom,DbSelectSercom"));
    }

    void cleanupTestCase() { _server.reset(); }

    // The reply to a large request goes to a client that is already gone.
    void aClientGoneWhileItsReplyIsWrittenDisturbsNobody()
    {
        QVERIFY(_server->waitForConnections(0));
        auto other = loggedIn(1);
        QVERIFY(other);
        const qint64 loggedOut = logouts();
        {
            auto leaving = loggedIn(0);
            QVERIFY(leaving);
            KTProtocolClient::Action browse;
            browse.component = QStringLiteral("DbSelectSercom");
            browse.objectType = QStringLiteral("Object");
            browse.objectName = QStringLiteral("ComponentProduct");
            browse.parameters = {{"RequestNumber", "1"}, {"RequestName", "Todo"}, {"From", "invProduct, invProduct B"},
                                 {"Fields", "B.fldName"}, {"Where", ""}, {"OrderBy", ""}, {"GroupBy", ""}};
            leaving->sendText(KTProtocolClient::actionRequest({browse}));
            leaving->socket->abort();
        }
        QVERIFY(_server->waitForConnections(1));
        QCOMPARE(_server->connector()->loggedUsers(), QStringList({QStringLiteral("cmendez")}));
        QTRY_COMPARE(logouts(), loggedOut + 1);
        other->sendText(selectRequest());
        QCOMPARE(KTProtocolClient::element(other->nextReply(), QStringLiteral("Status")), QStringLiteral("1"));
    }

    void twoHundredVisitsLeaveNothingBehind()
    {
        // The first visits load what every later one shares.
        for (int warmUp = 0; warmUp < 5; ++warmUp)
            QVERIFY(round());
        QVERIFY(_server->waitForConnections(0));
        const int threads = threadCount();
        QTRY_VERIFY(databaseConnections() <= 2);
        const int connections = databaseConnections();
        const qint64 memory = residentKiB();
        const qint64 loggedOut = logouts();

        for (int visit = 0; visit < 100; ++visit)
            QVERIFY2(round(), qPrintable(QStringLiteral("round %1").arg(visit)));

        QVERIFY(_server->waitForConnections(0));
        QCOMPARE(_server->connector()->loggedUsers(), QStringList());
        QTRY_COMPARE(threadCount(), threads);
        QTRY_COMPARE(databaseConnections(), connections);
        QTRY_COMPARE(logouts(), loggedOut + 200);
        // Allocators keep some of what they were given; a leak of a few KiB a visit would show.
        QVERIFY2(residentKiB() - memory < 8 * 1024,
                 qPrintable(QStringLiteral("%1 KiB before, %2 KiB after").arg(memory).arg(residentKiB())));
    }
};

QTEST_GUILESS_MAIN(tst_Churn)
#include "tst_churn.moc"
