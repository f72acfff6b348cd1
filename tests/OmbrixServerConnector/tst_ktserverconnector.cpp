#include "KTRawFrames.h"
#include "KTTestDatabase.h"
#include "KTTestEvents.h"
#include "KTTestServer.h"

#include <KTConnectorThread.h>
#include <KTFrame.h>
#include <KTDatabaseController.h>
#include <KTServerConnector.h>
#include <KTServerMetrics.h>
#include <KTTcpSocket.h>
#include <KTXmlGuard.h>

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QThread>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

namespace {

const QString dbName = QStringLiteral("ombrix_test_connector");

using RawClient = KTRawClient;

QString refusalOf(const QString& xml)
{
    QDomDocument document;
    document.setContent(xml);
    const QDomElement root = document.documentElement();
    return root.tagName() + "|" + root.firstChildElement("Status").text() + "|"
        + root.firstChildElement("Message").text();
}

} // namespace

class tst_KTServerConnector : public QObject
{
    Q_OBJECT

    KTDatabaseController* _controller = nullptr;
    std::unique_ptr<KTTestServer> _server;
    KTServerConnector* _connector = nullptr;
    QSignalSpy* _events = nullptr;

    std::unique_ptr<RawClient> client() { return _server->client(); }
    bool waitForConnections(int count) { return _server->waitForConnections(count); }
    bool waitForEmptyRegistry() { return waitForConnections(0); }

    qint64 logoutRows()
    {
        QSqlQuery query = _controller->customQuery("SELECT COUNT(*) FROM dbaUserLog WHERE codComponentAction = 2");
        return query.next() ? query.value(0).toLongLong() : -1;
    }

    // The resident memory the process has had at most since resetPeak(), in KiB.
    static qint64 procStatus(const char* key)
    {
        QFile status("/proc/self/status");
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith(key))
                return line.mid(int(qstrlen(key))).trimmed().split(' ').first().toLongLong();
        return -1;
    }
    static bool resetPeak()
    {
        QFile clear("/proc/self/clear_refs");
        return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
    }

    // The database connections open on the test database, the panel's own among them.
    int databaseSessions()
    {
        QSqlQuery query = _controller->customQuery(
            QStringLiteral("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE DB = '%1'").arg(dbName));
        return query.next() ? query.value(0).toInt() : -1;
    }

    std::unique_ptr<RawClient> loggedInClient(const QString& login = QStringLiteral("admin"))
    {
        auto raw = _server->negotiatedClient();
        if (!raw)
            return nullptr;
        raw->sendText(KTTestServer::login(login, KTTestServer::password(_controller, 2)));
        if (KTTestServer::element(raw->nextReply(), "Status") != QLatin1String("1"))
            return nullptr;
        return raw;
    }

    int serverThreads()
    {
        QSqlQuery query = _controller->customQuery("SHOW STATUS LIKE 'Threads_connected'");
        return query.next() ? query.value(1).toInt() : -1;
    }

private Q_SLOTS:
    void initTestCase()
    {
        KT_REQUIRE_DATABASE();
        _controller = new KTDatabaseController(this);
        QVERIFY(KTTestServer::prepareDatabase(_controller, dbName));
    }

    void init()
    {
        _server = std::make_unique<KTTestServer>(_controller, dbName);
        _connector = _server->connector();
        _connector->setMaxFrameSize(1 << 20);
        _events = &_server->events();
        QVERIFY(_connector->isListening());
    }

    void cleanup()
    {
        _server.reset();
    }

    void firstConnectionIsOneWithAnUnknownUser()
    {
        auto raw = client();
        QVERIFY(raw);
        QVERIFY(waitForConnections(1));
        QCOMPARE(_connector->connectionIDs(), QList<int>{1});
        QStandardItemModel* model = _connector->model();
        QCOMPARE(model->columnCount(), 5);
        QCOMPARE(model->horizontalHeaderItem(4)->text(), QStringLiteral("Última acción"));
        QCOMPARE(model->item(0, 0)->text(), QStringLiteral("1"));
        QCOMPARE(model->item(0, 1)->text(), QStringLiteral("?"));
        QCOMPARE(model->item(0, 3)->text(), QStringLiteral(" --- "));
        QCOMPARE(model->item(0, 4)->text(), QStringLiteral("Conexion Entrante ..."));
        QCOMPARE(model->item(0, 4)->foreground().color(), QColor(200, 154, 113));
        QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d , \\d\\d:\\d\\d:\\d\\d$").match(model->item(0, 2)->text()).hasMatch());

        auto second = client();
        QVERIFY(waitForConnections(2));
        QCOMPARE(_connector->connectionIDs(), QList<int>({1, 2}));
    }

    void framesInOneSegmentAndByteByByte()
    {
        auto raw = client();
        QVERIFY(waitForConnections(1));
        raw->send(KTRawFrames::frame("<Hello/>") + KTRawFrames::frame("<Hola/>"));
        QTRY_COMPARE(KTTestServer::eventsOfType(*_events, 0).size(), 2);
        QCOMPARE(KTTestServer::eventsOfType(*_events, 0), QStringList(2, "XML recibido por la conexión : '1' no contiene protocolo OMX"));

        const QByteArray dribble = KTRawFrames::frame("<Bonjour/>");
        for (char byte : dribble) {
            raw->send(QByteArray(1, byte));
            QTest::qWait(1);
        }
        QTRY_COMPARE(KTTestServer::eventsOfType(*_events, 0).size(), 3);
        QTest::qWait(100);
        QCOMPARE(KTTestServer::eventsOfType(*_events, 0).size(), 3);
        QCOMPARE(raw->replies(), 0);
        QVERIFY(raw->connected());
    }

    void stateRules()
    {
        auto keepAlive = client();
        QVERIFY(waitForConnections(1));
        keepAlive->sendText("<KeepAlive/>");
        QTest::qWait(50);
        QCOMPARE(keepAlive->replies(), 0);
        QVERIFY(keepAlive->connected());

        for (const QString& root : QStringList{"Authenticate", "Schedule"}) {
            auto early = client();
            early->sendText("<" + root + "><IdentifierType>PasswordAuthcom</IdentifierType></" + root + ">");
            QTRY_COMPARE(early->replies(), 1);
            QCOMPARE(refusalOf(early->received.first()), root + "|0|Conexión no fue negociada exitosamente.");
            QVERIFY(early->received.first().startsWith("<?xml"));
            QTRY_VERIFY(!early->connected());
        }
        for (const QString& root : QStringList{"ActionRequest", "LockRequest"}) {
            auto early = client();
            early->sendText("<" + root + "/>");
            QTRY_COMPARE(early->replies(), 1);
            QCOMPARE(refusalOf(early->received.first()), "ActionRequest|0|Conexión no fue autenticada exitosamente.");
            QTRY_VERIFY(!early->connected());
        }
        QVERIFY(keepAlive->connected());
    }

    void badInputDropsTheConnection_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("malformed xml") << KTRawFrames::frame("<ActionRequest><Action></ActionRequest>");
        QTest::newRow("empty text") << KTRawFrames::frame(QString());
        QTest::newRow("not zlib") << KTRawFrames::frameOfBlock(KTRawFrames::bigEndian32(8) + "12345678");
        QTest::newRow("oversized header") << KTRawFrames::bigEndian64(quint64(1) << 40);
        QTest::newRow("just above the limit") << KTRawFrames::bigEndian64((1 << 20) + 1) + QByteArray(64, 'x');
        QTest::newRow("expands beyond the limit") << KTRawFrames::frame(QString(2 << 20, QLatin1Char(' ')), 9);
        QString laughs = "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">";
        for (int i = 1; i <= 9; ++i)
            laughs += QStringLiteral("<!ENTITY lol%1 \"%2\">").arg(i).arg(QStringLiteral("&lol%1;").arg(i == 1 ? QString() : QString::number(i - 1)).repeated(10));
        laughs += "]><KeepAlive>&lol9;</KeepAlive>";
        QTest::newRow("billion laughs") << KTRawFrames::frame(laughs);
        QString deep;
        for (int i = 0; i < 5000; ++i)
            deep += "<Action>";
        QTest::newRow("deep nesting") << KTRawFrames::frame("<ActionRequest>" + deep);
        QTest::newRow("nesting behind empty-element ends")
            << KTRawFrames::frame("<ActionRequest>" + QString("/>").repeated(5000) + deep);
        QTest::newRow("many siblings") << KTRawFrames::frame("<ActionRequest>" + QString("<a/>").repeated(200000)
                                                             + "</ActionRequest>", 9);
        QTest::newRow("entities") << KTRawFrames::frame("<!DOCTYPE KeepAlive [<!ENTITY e \"x\">]><KeepAlive/>");
    }

    void badInputDropsTheConnection()
    {
        QFETCH(QByteArray, bytes);
        auto bystander = _server->negotiatedClient();
        QVERIFY(bystander);
        auto raw = client();
        QVERIFY(waitForConnections(2));
        raw->send(bytes);
        QVERIFY(waitForConnections(1));
        QTRY_VERIFY(!raw->connected());
        QCOMPARE(KTTestServer::eventsOfType(*_events, 0).size(), 1);
        QCOMPARE(raw->replies(), 0);
        // The others are served on.
        bystander->sendText("<KeepAlive/>");
        QVERIFY(bystander->nextReply().contains("KeepAliveAnswer"));
    }

    void aClientThatDoesNotReadIsDropped()
    {
        _connector->setMaxPendingBytes(256 * 1024);
        auto reader = client();
        auto stalled = client();
        QVERIFY(waitForConnections(2));
        stalled->socket->setReadBufferSize(1);
        // Random text barely compresses; the kernel buffers fill, then the server's.
        QByteArray noise(64 * 1024, Qt::Uninitialized);
        for (char& byte : noise)
            byte = char(QRandomGenerator::global()->bounded(256));
        const QString reply = "<Ruido>" + QString::fromLatin1(noise.toBase64()) + "</Ruido>";
        for (int frame = 0; frame < 1000 && _connector->connectionIDs().contains(2); ++frame) {
            _connector->sendResponse(2, reply, 0, "ruido", 3);
            _connector->sendResponse(1, "<Poco/>", 0, "poco", 3);
            QTest::qWait(2);
            reader->replies();
        }
        QVERIFY(waitForConnections(1));
        QCOMPARE(eventTexts(*_events).filter("no lee sus respuestas").size(), 1);
        QCOMPARE(KTTestServer::eventsOfType(*_events, 2).filter("no lee sus respuestas").size(), 1);
        QCOMPARE(_connector->connectionIDs(), QList<int>{1});
        QTRY_VERIFY(reader->replies() > 0);
        QVERIFY(reader->connected());
    }

    void aConnectionThatNeverLoggedInWritesNoLog()
    {
        const qint64 before = logoutRows();
        {
            auto raw = client();
            QVERIFY(waitForConnections(1));
        }
        QVERIFY(waitForEmptyRegistry());
        QTRY_VERIFY(eventTexts(*_events).contains("Se desconectó conexión con ID : '1'"));
        QCOMPARE(logoutRows(), before);
    }

    void aLoggedInUserLeavesALogoutRecord()
    {
        const qint64 before = logoutRows();
        auto raw = client();
        QVERIFY(waitForConnections(1));
        _connector->registerUser(1, "admin");
        QCOMPARE(_connector->loggedUsers(), QStringList{"admin"});
        raw.reset();
        QVERIFY(waitForEmptyRegistry());
        QVERIFY(eventTexts(*_events).contains("Usuario : 'admin' desconectado. ID de conexión : 1"));
        QCOMPARE(logoutRows(), before + 1);
        QSqlQuery row = _controller->customQuery("SELECT codUser, codObjectType, parComponent FROM dbaUserLog "
                                                 "ORDER BY pkyUserLog DESC LIMIT 1");
        QVERIFY(row.next());
        QCOMPARE(row.value(0).toInt(), 2);
        QCOMPARE(row.value(2).toString(), QStringLiteral("209001"));
        QVERIFY(_connector->loggedUsers().isEmpty());
    }

    void theSameUserElsewhereClosesTheOlderConnection()
    {
        auto first = client();
        QVERIFY(waitForConnections(1));
        auto second = client();
        QVERIFY(waitForConnections(2));
        _connector->registerUser(1, "ana");
        _connector->registerUser(2, "ana");
        QTRY_VERIFY(!first->connected() || first->socket->waitForDisconnected(50));
        QVERIFY(waitForConnections(1));
        QVERIFY(eventTexts(*_events).contains("Usuario : 'ana' estaba conectado desde otra ubicación. "
                                              "ID de conexión anterior: 1. ID de conexión nueva: 2"));
        QCOMPARE(_connector->loggedUsers(), QStringList{"ana"});
        QVERIFY(second->connected());

        // Logging in again on the same connection is not "elsewhere".
        _connector->registerUser(2, "ana");
        QTest::qWait(100);
        QVERIFY(second->connected());
        QCOMPARE(_connector->loggedUsers(), QStringList{"ana"});
        second.reset();
        QVERIFY(waitForEmptyRegistry());
        QVERIFY(_connector->loggedUsers().isEmpty());
    }

    void broadcastsReachTheNamedUsers()
    {
        std::vector<std::unique_ptr<RawClient>> clients;
        for (int i = 0; i < 4; ++i)
            clients.push_back(client());
        QVERIFY(waitForConnections(4));
        _connector->registerUser(1, "ana");
        _connector->registerUser(2, "luis");
        _connector->registerUser(3, "eva");
        for (int id = 1; id <= 3; ++id)
            _connector->setAccessList(id, KTAccessList::fromLogin(2, QString()));
        _connector->setActiveComponent(4, "Clientes", true); // no user, but listening
        const auto receivedBy = [&](int expectedTotal) {
            QElapsedTimer timer;
            timer.start();
            QList<int> counts;
            while (timer.elapsed() < 5000) {
                counts.clear();
                int total = 0;
                for (auto& c : clients)
                    total += (counts << c->replies(), counts.last());
                if (total >= expectedTotal)
                    break;
                QTest::qWait(10);
            }
            QTest::qWait(50);
            counts.clear();
            for (auto& c : clients) {
                counts << c->replies();
                c->received.clear();
            }
            return counts;
        };

        _connector->broadcastAction({{"2", "Obj", "<Solo/>", "m", "0"}}, "");
        QCOMPARE(receivedBy(1), QList<int>({0, 1, 0, 0}));
        _connector->broadcastAction({{"1", "Obj", "<Dos/>", "m", "1"}}, "ana,eva");
        QCOMPARE(receivedBy(2), QList<int>({1, 0, 1, 0}));
        _connector->broadcastAction({{"1", "Obj", "<Todos/>", "m", "1"}, {"3", "Obj", "<Otro/>", "m", "0"}}, "");
        // The connection without a login gets nothing pushed.
        QCOMPARE(receivedBy(4), QList<int>({1, 1, 2, 0}));
    }

    // A pushed reply is encoded once per compression level: the receivers
    // of one level get the very same bytes, and every receiver reads the text.
    void oneBroadcastGivesEveryReceiverOfALevelTheSameFrame()
    {
        const QList<int> levels{1, 9, 9, 1, 9};
        std::vector<std::unique_ptr<RawClient>> clients;
        for (int level : levels) {
            clients.push_back(client());
            clients.back()->sendText(KTTestServer::negotiation("2.8.1", level));
            QCOMPARE(KTTestServer::element(clients.back()->nextReply(), "Status"), QStringLiteral("1"));
        }
        QVERIFY(waitForConnections(int(levels.size())));
        for (int id = 1; id <= int(levels.size()); ++id) {
            _connector->setAccessList(id, KTAccessList::fromLogin(2, QString()));
            _connector->setActiveComponent(id, "Clientes", true);
        }
        QString text = "<Todos>";
        for (int row = 0; row < 2000; ++row)
            text += QStringLiteral("<Row>%1|Cliente %1|Añoranza</Row>").arg(row);
        text += "</Todos>";

        _connector->broadcastAction({{"1", "Obj", text, "m", "1"}}, "");
        QList<QByteArray> frames;
        for (auto& c : clients) {
            const auto whole = [&c] {
                c->buffer += c->socket->readAll();
                return c->buffer.size() >= 8
                    && quint64(c->buffer.size()) == 8 + qFromBigEndian<quint64>(c->buffer.constData());
            };
            QTRY_VERIFY(whole());
            frames << c->buffer;
            QCOMPARE(KTRawFrames::takeTexts(c->buffer), QStringList{text});
        }
        QCOMPARE(frames.at(3), frames.at(0));
        QCOMPARE(frames.at(2), frames.at(1));
        QCOMPARE(frames.at(4), frames.at(1));
        QVERIFY(frames.at(1).size() < frames.at(0).size());
    }

    void repliesAreWrittenOnTheConnectionsOwnThread()
    {
        auto raw = client();
        QVERIFY(waitForConnections(1));
        auto* thread = _connector->findChild<KTConnectorThread*>();
        QVERIFY(thread);
        QTRY_VERIFY(thread->socket());
        QThread* writer = nullptr;
        connect(thread->socket(), &QAbstractSocket::bytesWritten, thread->socket(),
                [&] { writer = QThread::currentThread(); }, Qt::DirectConnection);
        QList<QByteArray> order;
        connect(thread, &KTConnectorThread::connectionEnded, this, [&] { order << "ended"; });
        connect(thread, &QThread::finished, this, [&] { order << "finished"; });

        _connector->sendResponse(1, "<Respuesta/>", -1, "panel", 3);
        QTRY_COMPARE(raw->replies(), 1);
        QCOMPARE(writer, thread);
        QTRY_VERIFY(_connector->model()->item(0, 4)->text().endsWith("   Solicitud de acción"));
        QCOMPARE(_connector->model()->item(0, 4)->toolTip().contains(" -  panel"), true);

        raw.reset();
        QVERIFY(waitForEmptyRegistry());
        QCOMPARE(order, QList<QByteArray>({"ended", "finished"}));
    }

    // A full server closes the connection that has waited longest without
    // logging in to serve a newcomer; when everybody is logged in, the
    // newcomer is refused.
    void connectionsPastTheBoundTakeAnIdlePlaceOrAreRefused()
    {
        _connector->setMaxConnections(2);
        auto first = client();
        auto second = loggedInClient();
        QVERIFY(first && second);
        QVERIFY(waitForConnections(2));
        auto third = client();
        QVERIFY(third);
        QTRY_VERIFY(!first->connected());
        QVERIFY(waitForConnections(2));
        QCOMPARE(_connector->connectionIDs(), QList<int>({2, 3}));
        QCOMPARE(eventTexts(*_events).filter("Servidor lleno").size(), 1);
        QVERIFY(_controller->customQuery("UPDATE accUser SET sysEnabled = 1 WHERE pkyUser = 3").isActive());
        third->sendText(KTTestServer::negotiation());
        QCOMPARE(KTTestServer::element(third->nextReply(), "Status"), QStringLiteral("1"));
        third->sendText(KTTestServer::login("cmendez", KTTestServer::password(_controller, 3)));
        const QString login = third->nextReply();
        _controller->customQuery("UPDATE accUser SET sysEnabled = 0 WHERE pkyUser = 3");
        QCOMPARE(KTTestServer::element(login, "Status"), QStringLiteral("1"));
        QVERIFY(second->connected());

        // Only logged-in places left: the next one is refused.
        auto fourth = client();
        QVERIFY(fourth);
        QTRY_VERIFY(!fourth->connected());
        QCOMPARE(eventTexts(*_events).filter("Conexión rechazada").size(), 1);
        QVERIFY(second->connected() && third->connected());
    }

    void manyClientsLeaveNothingBehind()
    {
        const int baseline = serverThreads();
        for (int round = 0; round < 50; ++round) {
            auto raw = client();
            QVERIFY(raw);
            if (round % 2)
                raw->send(KTRawFrames::frame("<KeepAlive/>").left(10)); // leaves in the middle of a frame
        }
        QVERIFY(waitForEmptyRegistry());
        QCOMPARE(_connector->model()->rowCount(), 0);
        QTRY_COMPARE(serverThreads(), baseline);
        QStringList names = QSqlDatabase::connectionNames();
        names.removeAll("main");
        QCOMPARE(names, QStringList());
    }
    // A frame of a few KiB whose text inflates to 63 MiB, in every state of a
    // connection: refused while it inflates, before the text is ever held.
    void compressedBombsCostLittleInEveryState_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<qint64>("maxFrameSize");
        QTest::addColumn<qint64>("peakKiB");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("closes");
        // Random text that does not compress, in the largest frame and in
        // nearly the largest document a connection may send before its
        // login: the most it can make the server hold, parse and answer.
        for (const int size : {1 << 20, 1 << 19}) {
            QString document = "<RequestUpdate>";
            QByteArray noise(384, Qt::Uninitialized);
            for (int node = 0; document.size() < size - 1024; ++node) {
                for (char& byte : noise)
                    byte = char(QRandomGenerator::global()->bounded(256));
                document += QStringLiteral("<f%1>%2</f%1>").arg(node).arg(QString::fromLatin1(noise.toBase64()));
            }
            QTest::newRow(qPrintable(QStringLiteral("%1 KiB document before login").arg(size >> 10)))
                << 1 << qint64(64) << qint64(8 * 1024) << KTRawFrames::frame(document + "</RequestUpdate>", 1)
                << (size > KTXmlGuard::beforeLogin.characters);
        }
        const QByteArray bomb = KTRawFrames::frame("<KeepAlive>" + QString(63 << 20, QLatin1Char(' ')) + "</KeepAlive>", 9);
        QVERIFY(bomb.size() < 64 * 1024);
        QTest::newRow("before negotiation") << 0 << qint64(64) << qint64(8 * 1024) << bomb << true;
        QTest::newRow("before login") << 1 << qint64(64) << qint64(8 * 1024) << bomb << true;
        QTest::newRow("logged in, small limit") << 2 << qint64(1) << qint64(8 * 1024) << bomb << true;
    }

    void compressedBombsCostLittleInEveryState()
    {
        QFETCH(int, state);
        QFETCH(qint64, maxFrameSize);
        QFETCH(qint64, peakKiB);
        QFETCH(QByteArray, frame);
        QFETCH(bool, closes);
        _connector->setMaxFrameSize(maxFrameSize << 20);
        auto bystander = _server->negotiatedClient();
        auto raw = state == 0 ? client() : state == 1 ? _server->negotiatedClient() : loggedInClient();
        QVERIFY(raw);
        QVERIFY(waitForConnections(2));
        QTest::qWait(50);
        const qint64 before = procStatus("VmRSS:");
        QVERIFY(resetPeak());
        raw->send(frame);
        if (closes) {
            QTRY_VERIFY(!raw->connected());
        } else {
            raw->sendText("<KeepAlive/>");
            QTRY_VERIFY2(raw->replies() > 0 && raw->received.last().contains("KeepAliveAnswer"),
                         qPrintable(eventTexts(*_events).join('\n') + raw->received.join('\n').left(2000)));
        }
        const qint64 grown = procStatus("VmHWM:") - before;
        qInfo("peak growth %lld KiB", grown);
        QVERIFY2(grown < peakKiB, qPrintable(QString::number(grown)));
        bystander->sendText("<KeepAlive/>");
        QVERIFY(bystander->nextReply().contains("KeepAliveAnswer"));
    }

    // A text that claims to be small but inflates further is cut where its
    // claim ends, and one that claims much but holds little costs little.
    void inflationFollowsTheBytesNotTheClaim()
    {
        const QByteArray text = "<KeepAlive>" + QByteArray(3 << 20, ' ') + "</KeepAlive>";
        QByteArray block = KTRawFrames::block(text, 9);
        qToBigEndian<quint32>(quint32(2 << 20), block.data());
        bool ok = true;
        QVERIFY(KTFrame::decode(KTRawFrames::bigEndian32(quint32(block.size())) + block, 64 << 20, &ok).isEmpty());
        QVERIFY(!ok);
        qToBigEndian<quint32>(quint32(60 << 20), block.data());
        QVERIFY(KTFrame::decode(KTRawFrames::bigEndian32(quint32(block.size())) + block, 64 << 20, &ok).isEmpty());
        QVERIFY(!ok);
        qToBigEndian<quint32>(quint32(text.size()), block.data());
        QCOMPARE(KTFrame::decode(KTRawFrames::bigEndian32(quint32(block.size())) + block, 64 << 20, &ok).size(),
                 text.size());
        QVERIFY(ok);
    }

    // Silent sockets and a sender that trickles a frame are closed by their
    // deadlines, while a client that does its part logs in meanwhile and a
    // negotiated one waits at the login screen as long as it likes.
    void deadlinesCloseSilentAndTricklingConnections()
    {
        _connector->setNegotiationTimeout(600);
        _connector->setFrameTimeout(600);
        auto silent = client();
        auto waiting = _server->negotiatedClient();
        auto trickling = _server->negotiatedClient();
        QVERIFY(silent && waiting && trickling);
        const QByteArray frame = KTRawFrames::frame("<KeepAlive/>");
        auto user = loggedInClient();
        QVERIFY(user);
        for (int byte = 0; byte < frame.size() - 1 && trickling->connected(); ++byte) {
            trickling->send(frame.mid(byte, 1));
            QTest::qWait(100);
        }
        QTRY_VERIFY(!silent->connected());
        QVERIFY(!trickling->connected());
        QVERIFY(waitForConnections(2));
        QCOMPARE(eventTexts(*_events).filter("no negoció en").size(), 1);
        QCOMPARE(eventTexts(*_events).filter("no completó un mensaje").size(), 1);
        QVERIFY(waiting->connected());
        user->sendText("<KeepAlive/>");
        QVERIFY(user->nextReply().contains("KeepAliveAnswer"));
    }

    // One address may keep only so many connections that have not logged in;
    // logged-in ones do not count, and another address is not affected.
    void unauthenticatedConnectionsAreBoundedPerAddress()
    {
        _connector->setMaxUnauthenticatedPerAddress(3);
        auto first = loggedInClient();
        auto second = client();
        auto third = _server->negotiatedClient();
        auto fourth = client();
        QVERIFY(first && second && third && fourth);
        QVERIFY(waitForConnections(4));
        auto fifth = client();
        QVERIFY(fifth);
        QTRY_VERIFY(!fifth->connected());
        QCOMPARE(eventTexts(*_events).filter("conexiones sin autenticar").size(), 1);
        RawClient elsewhere;
        QVERIFY(elsewhere.socket->bind(QHostAddress("127.0.0.2")));
        QVERIFY(elsewhere.connectTo(_connector->serverPort()));
        QVERIFY(waitForConnections(5));
        second.reset();
        QVERIFY(waitForConnections(4));
        auto sixth = client();
        QVERIFY(waitForConnections(5));
        QVERIFY(sixth->connected());
    }

    // Only a login opens a client's own database connection; a refused one
    // closes it again, and so does leaving.
    void onlyLoggedInClientsHoldADatabaseConnection()
    {
        // The test's own connection; those of earlier tests' clients close as they leave.
        const int baseline = 1;
        QTRY_COMPARE(databaseSessions(), baseline);
        std::vector<std::unique_ptr<RawClient>> idle;
        for (int i = 0; i < 5; ++i)
            idle.push_back(_server->negotiatedClient());
        idle.push_back(client());
        QVERIFY(waitForConnections(6));
        // Every negotiation still lists the users.
        QVERIFY(idle.front()->received.first().contains("<Login>admin</Login>"));
        QCOMPARE(databaseSessions(), baseline);
        auto refused = _server->negotiatedClient();
        refused->sendText(KTTestServer::login("admin", "nada"));
        QCOMPARE(KTTestServer::element(refused->nextReply(), "Status"), QStringLiteral("0"));
        QTRY_COMPARE(databaseSessions(), baseline);
        auto user = loggedInClient();
        QVERIFY(user);
        QCOMPARE(databaseSessions(), baseline + 1);
        user.reset();
        QTRY_COMPARE(databaseSessions(), baseline);
    }

    // Requests recorded at once from many connection threads are each
    // counted once, in the buckets at or above their time; component names,
    // which clients choose, cannot grow the counts without bound.
    void metricsCountEveryRequestOnce()
    {
        KTServerMetrics metrics;
        std::vector<std::unique_ptr<QThread>> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back(QThread::create([&metrics] {
                for (int i = 0; i < 1000; ++i)
                    metrics.recordRequest(QStringLiteral("DbSelectSercom"), i % 10 != 0, 100, 1000 + (i % 2));
            }));
        for (auto& thread : threads)
            thread->start();
        for (auto& thread : threads)
            QVERIFY(thread->wait(30000));
        KTServerMetrics::Snapshot counts = metrics.snapshot();
        QCOMPARE(counts.requests, quint64(4000));
        QCOMPARE(counts.components.value(QStringLiteral("DbSelectSercom")).failures, quint64(400));
        QCOMPARE(counts.replyBytes, quint64(400000));
        // 1000 µs is the first bound: half of them in it, all in the next.
        QCOMPARE(counts.latencyBuckets.value(0), quint64(2000));
        QCOMPARE(counts.latencyBuckets.value(1), quint64(4000));
        QCOMPARE(counts.latencyBuckets.last(), quint64(4000));
        QCOMPARE(counts.latencySumMicros, qint64(4000) * 1000 + 2000);

        for (int i = 0; i < KTServerMetrics::maxComponents + 10; ++i)
            metrics.recordRequest(QStringLiteral("Nombre%1").arg(i), true, 0, 0);
        counts = metrics.snapshot();
        QCOMPARE(int(counts.components.size()), KTServerMetrics::maxComponents + 1);
        QCOMPARE(counts.components.value(KTServerMetrics::otherComponents).requests, quint64(11));
        QCOMPARE(counts.components.value(QStringLiteral("DbSelectSercom")).requests, quint64(4000));
    }
};

QTEST_GUILESS_MAIN(tst_KTServerConnector)
#include "tst_ktserverconnector.moc"
