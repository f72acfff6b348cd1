#include "KTTestServer.h"

#include <KTDatabaseController.h>
#include <KTProtocolClient.h>
#include <KTServerConnector.h>

#include <QProcess>
#include <QTemporaryFile>
#include <QThread>
#include <QtTest>

#include <memory>

namespace {

const QString dbName = QStringLiteral("ombrix_test_client");

} // namespace

// The protocol client and its command line against the real server. The
// client blocks, so it runs on a thread of its own while the server's
// connector keeps the test's event loop.
class tst_ClientAgainstServer : public QObject
{
    Q_OBJECT

    KTDatabaseController* _controller = nullptr;
    std::unique_ptr<KTTestServer> _server;

private Q_SLOTS:
    void initTestCase()
    {
        _controller = new KTDatabaseController(this);
        QVERIFY(KTTestServer::prepareDatabase(_controller, dbName));
        _server = std::make_unique<KTTestServer>(_controller, dbName);
    }

    void cleanupTestCase() { _server.reset(); }

    void negotiatesLogsInAndKeepsAlive()
    {
        QSqlQuery key = _controller->customQuery("SELECT fldKey FROM accUserIdentifier WHERE codUser = 2");
        QVERIFY(key.next());
        const QString password = key.value(0).toString();
        const quint16 port = _server->connector()->serverPort();
        QStringList replies;
        QThread* worker = QThread::create([&] {
            KTProtocolClient client;
            if (!client.connectToServer("127.0.0.1", port))
                return;
            QString reply;
            client.send(KTProtocolClient::negotiation({{"ClientIP", "10.1.1.1"}, {"ClientVersion", "2.8.1"},
                                                       {"CompressionFactor", "9"}, {"PackMaxCount", "5"},
                                                       {"OperatingSystem", "Linux64"},
                                                       {"Company", KTTestServer::companyName},
                                                       {"CompanyPassword", KTTestServer::companyPassword}}));
            client.waitForReply(&reply, 10000);
            replies << reply;
            client.send(KTProtocolClient::keepAlive());
            client.waitForReply(&reply, 10000);
            replies << reply;
            client.send(KTProtocolClient::login("PasswordAuthcom", "admin", password));
            client.waitForReply(&reply, 10000);
            replies << reply;
        });
        worker->start();
        QTRY_VERIFY_WITH_TIMEOUT(worker->isFinished(), 30000);
        delete worker;
        QCOMPARE(replies.size(), 3);
        QCOMPARE(KTProtocolClient::element(replies.at(0), "Status"), QStringLiteral("1"));
        QCOMPARE(KTProtocolClient::rootTag(replies.at(1)), QStringLiteral("KeepAliveAnswer"));
        QCOMPARE(KTProtocolClient::element(replies.at(2), "UserKey"), QStringLiteral("2"));
    }

    void commandLineSendsFilesAndPrintsReplies()
    {
        QTemporaryFile request;
        QVERIFY(request.open());
        request.write(KTTestServer::negotiation().toUtf8());
        request.close();
        QProcess console;
        console.start(OMBRIX_CLIENT_CONSOLE, {"--host", "127.0.0.1", "--port",
                                              QString::number(_server->connector()->serverPort()), "--wait", "1500",
                                              request.fileName()});
        QTRY_VERIFY_WITH_TIMEOUT(console.state() == QProcess::NotRunning, 30000);
        QCOMPARE(console.exitCode(), 0);
        const QString output = QString::fromUtf8(console.readAllStandardOutput());
        QVERIFY2(output.contains("<Message>Negociación Exitosa !</Message>"), qPrintable(output));
    }
};

QTEST_GUILESS_MAIN(tst_ClientAgainstServer)
#include "tst_clientagainstserver.moc"
