#include <KTProtocolClient.h>

#include <QDomDocument>
#include <QMutex>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QWaitCondition>
#include <QtEndian>
#include <QtTest>

#include <functional>
#include <memory>

#include <zlib.h>

namespace {

// The frames of this test are built and taken apart with zlib by hand, not
// with the codec the client uses, so that a fault shared by both cannot hide.

QByteArray bigEndian64(quint64 value)
{
    QByteArray bytes(8, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

QByteArray bigEndian32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

QByteArray frameOfBlock(const QByteArray& block)
{
    return bigEndian64(quint64(block.size()) + 4) + bigEndian32(quint32(block.size())) + block;
}

QByteArray rawFrame(const QString& text, int level = 6)
{
    const QByteArray utf8 = text.toUtf8();
    uLongf size = compressBound(uLong(utf8.size()));
    QByteArray stream(qsizetype(size), '\0');
    compress2(reinterpret_cast<Bytef*>(stream.data()), &size, reinterpret_cast<const Bytef*>(utf8.constData()),
              uLong(utf8.size()), level);
    stream.resize(qsizetype(size));
    return frameOfBlock(bigEndian32(quint32(utf8.size())) + stream);
}

struct ReceivedFrame
{
    QString text;
    bool valid = false;
    int zlibLevel = -1; // FLEVEL of the zlib header: 0 fastest .. 3 best; -1 without a stream
};

// Takes one frame from the front of buffer, checking every length it announces.
bool takeFrame(QByteArray& buffer, ReceivedFrame* frame)
{
    if (buffer.size() < 8)
        return false;
    const quint64 count = qFromBigEndian<quint64>(buffer.constData());
    if (quint64(buffer.size() - 8) < count)
        return false;
    const QByteArray payload = buffer.mid(8, qsizetype(count));
    buffer.remove(0, qsizetype(8 + count));
    *frame = ReceivedFrame();
    if (payload.size() < 8 || qFromBigEndian<quint32>(payload.constData()) != quint32(payload.size() - 4))
        return true;
    const uLong textLength = qFromBigEndian<quint32>(payload.constData() + 4);
    const QByteArray stream = payload.mid(8);
    QByteArray text(qsizetype(textLength), '\0');
    if (!stream.isEmpty()) {
        frame->zlibLevel = (uchar(stream.at(1)) >> 6) & 3;
        uLongf size = textLength;
        if (uncompress(reinterpret_cast<Bytef*>(text.data()), &size,
                       reinterpret_cast<const Bytef*>(stream.constData()), uLong(stream.size())) != Z_OK
            || size != textLength)
            return true;
    } else if (textLength != 0) {
        return true;
    }
    frame->text = QString::fromUtf8(text);
    frame->valid = true;
    return true;
}

// A loopback server answering on a thread of its own, so that the blocking
// client can be driven from the test's thread. What it answers is up to the
// responder the test sets; it runs on the server's thread.
class RawServer
{
public:
    using Responder = std::function<void(QTcpSocket* socket, const QString& text)>;

    RawServer()
    {
        _thread.start();
        _context->moveToThread(&_thread);
        QMetaObject::invokeMethod(
            _context.get(),
            [this] {
                auto* server = new QTcpServer(_context.get());
                QObject::connect(server, &QTcpServer::newConnection, _context.get(), [this, server] {
                    while (QTcpSocket* socket = server->nextPendingConnection())
                        serve(socket);
                });
                server->listen(QHostAddress::LocalHost, 0);
                _port = server->serverPort();
            },
            Qt::BlockingQueuedConnection);
    }

    ~RawServer()
    {
        QMetaObject::invokeMethod(_context.get(), [this] { delete _context.release(); }, Qt::BlockingQueuedConnection);
        _thread.quit();
        _thread.wait();
    }

    quint16 port() const { return _port; }

    void setResponder(Responder responder)
    {
        QMutexLocker lock(&_mutex);
        _responder = std::move(responder);
    }

    // The frames received so far, once there are at least count of them.
    QList<ReceivedFrame> received(int count, int timeoutMs = 5000)
    {
        QMutexLocker lock(&_mutex);
        const QDeadlineTimer deadline(timeoutMs);
        while (_received.size() < count && _arrived.wait(&_mutex, deadline)) {
        }
        return _received;
    }

private:
    void serve(QTcpSocket* socket)
    {
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        auto buffer = std::make_shared<QByteArray>();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
            // What arrives while a responder waits for its reply to be written
            // raises no readyRead of its own: read on until nothing is left.
            while (socket->bytesAvailable() > 0) {
                buffer->append(socket->readAll());
                ReceivedFrame frame;
                while (takeFrame(*buffer, &frame)) {
                    Responder responder;
                    {
                        QMutexLocker lock(&_mutex);
                        _received << frame;
                        responder = _responder;
                    }
                    _arrived.wakeAll();
                    if (responder)
                        responder(socket, frame.text);
                }
            }
        });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }

    QThread _thread;
    std::unique_ptr<QObject> _context = std::make_unique<QObject>();
    quint16 _port = 0;
    QMutex _mutex;
    QWaitCondition _arrived;
    QList<ReceivedFrame> _received;
    Responder _responder;
};

void writeNow(QTcpSocket* socket, const QByteArray& bytes)
{
    socket->write(bytes);
    socket->waitForBytesWritten(5000);
}

void echo(QTcpSocket* socket, const QString& text)
{
    writeNow(socket, rawFrame(text));
}

// One line per child of the root: tag, sorted attributes, then its children
// as <tag>text, or its own text.
QStringList childElements(const QString& xml, QString* root)
{
    QDomDocument document;
    if (!document.setContent(xml))
        return {QStringLiteral("mal formado")};
    *root = document.documentElement().tagName();
    QStringList result;
    for (QDomElement child = document.documentElement().firstChildElement(); !child.isNull();
         child = child.nextSiblingElement()) {
        QStringList parts;
        for (int i = 0; i < child.attributes().count(); ++i)
            parts << child.attributes().item(i).nodeName() + '=' + child.attributes().item(i).nodeValue();
        parts.sort(); // a DOM keeps no attribute order
        parts.prepend(child.tagName());
        for (QDomElement item = child.firstChildElement(); !item.isNull(); item = item.nextSiblingElement())
            parts << '<' + item.tagName() + '>' + item.text();
        if (child.firstChildElement().isNull() && !child.text().isEmpty())
            parts << ": " + child.text();
        result << parts.join(' ');
    }
    return result;
}

} // namespace

class tst_KTProtocolClient : public QObject
{
    Q_OBJECT

    std::unique_ptr<RawServer> _server;
    std::unique_ptr<KTProtocolClient> _client;

private Q_SLOTS:
    void init()
    {
        _server = std::make_unique<RawServer>();
        _client = std::make_unique<KTProtocolClient>();
        QVERIFY(_client->connectToServer(QStringLiteral("127.0.0.1"), _server->port()));
    }

    void cleanup()
    {
        _client.reset();
        _server.reset();
    }

    void unicodeDocumentsTravelBothWaysAtTheLevelAsked()
    {
        _server->setResponder(echo);
        const QString text = QStringLiteral("<Saludo a=\"&amp;\">Añoranza, ñandú, 東京, 😀 ✓ &lt;fin&gt;</Saludo>");
        const QList<int> levels{0, 6, 9, -1};
        const QList<int> zlibLevels{0, 2, 3, 2};
        for (int level : levels) {
            QVERIFY(_client->send(text, level));
            QString reply;
            QVERIFY2(_client->waitForReply(&reply), qPrintable(_client->errorString()));
            QCOMPARE(reply, text);
        }
        const QList<ReceivedFrame> received = _server->received(levels.size());
        QCOMPARE(received.size(), levels.size());
        for (int i = 0; i < levels.size(); ++i) {
            QVERIFY(received.at(i).valid);
            QCOMPARE(received.at(i).text, text);
            QCOMPARE(received.at(i).zlibLevel, zlibLevels.at(i));
        }

        // Larger than any socket buffer, in both directions.
        QString large;
        for (int i = 0; large.size() < 400000; ++i)
            large += QStringLiteral("<Fila n=\"%1\">código ✓</Fila>").arg(i);
        large = QStringLiteral("<Filas>") + large + QStringLiteral("</Filas>");
        QVERIFY(_client->send(large, 1));
        QString reply;
        QVERIFY(_client->waitForReply(&reply, 20000));
        QCOMPARE(reply, large);
    }

    void framesSharingOrSplittingSegmentsAreEachTakenOnce()
    {
        _server->setResponder([](QTcpSocket* socket, const QString&) {
            const QByteArray third = rawFrame(QStringLiteral("<Tres/>"));
            writeNow(socket, rawFrame(QStringLiteral("<Uno/>")) + rawFrame(QStringLiteral("<Dos/>"))
                                 + third.left(5));
            QThread::msleep(100);
            writeNow(socket, third.mid(5));
        });
        const QStringList expected{"<Uno/>", "<Dos/>", "<Tres/>"};
        QSignalSpy spy(_client.get(), &KTProtocolClient::frameReceived);
        QVERIFY(_client->send(QStringLiteral("<Pide/>")));
        QStringList got;
        QString reply;
        while (got.size() < 3 && _client->waitForReply(&reply))
            got << reply;
        QCOMPARE(got, expected);
        QVERIFY(!_client->waitForReply(&reply, 200));
        QCOMPARE(spy.size(), 3);

        // With an event loop instead of waiting: every frame is announced as its last byte lands.
        spy.clear();
        QVERIFY(_client->send(QStringLiteral("<Pide/>")));
        QTRY_COMPARE(spy.size(), 3);
        QCOMPARE(QStringList({spy.at(0).at(0).toString(), spy.at(1).at(0).toString(), spy.at(2).at(0).toString()}),
                 expected);
        QCOMPARE(_client->replies(0), expected);
    }

    void replyDribbledByteByByteArrivesOnceWhole()
    {
        const QString text = QStringLiteral("<Goteo>despacio, muy despacio</Goteo>");
        _server->setResponder([text](QTcpSocket* socket, const QString&) {
            for (char byte : rawFrame(text)) {
                writeNow(socket, QByteArray(1, byte));
                QThread::msleep(3);
            }
        });
        QSignalSpy spy(_client.get(), &KTProtocolClient::frameReceived);
        QVERIFY(_client->send(QStringLiteral("<Pide/>")));
        QString reply;
        QVERIFY(_client->waitForReply(&reply));
        QCOMPARE(reply, text);
        QVERIFY(!_client->waitForReply(&reply, 200));
        QCOMPARE(spy.size(), 1);
    }

    void emptyTextIsAFrameLikeAnyOther()
    {
        // The server may send the empty text as a zlib stream of nothing or,
        // as qCompress does, as a bare zero length.
        _server->setResponder([](QTcpSocket* socket, const QString&) {
            writeNow(socket, rawFrame(QString()) + frameOfBlock(bigEndian32(0)) + rawFrame(QStringLiteral("<Luego/>")));
        });
        QVERIFY(_client->send(QString()));
        QCOMPARE(_client->replies(300), QStringList({QString(), QString(), QStringLiteral("<Luego/>")}));
        const QList<ReceivedFrame> received = _server->received(1);
        QCOMPARE(received.size(), 1);
        QVERIFY(received.first().valid);
        QCOMPARE(received.first().text, QString());
    }

    void repliesStopsAfterSilenceAndLosesNothing()
    {
        _server->setResponder([](QTcpSocket* socket, const QString&) {
            for (const char* text : {"<A/>", "<B/>", "<C/>", "<D/>", "<E/>"}) {
                writeNow(socket, rawFrame(QString::fromLatin1(text)));
                QThread::msleep(150);
            }
            QThread::msleep(2000);
            writeNow(socket, rawFrame(QStringLiteral("<Tarde/>")));
        });
        QVERIFY(_client->send(QStringLiteral("<Pide/>")));
        QElapsedTimer timer;
        timer.start();
        // The replies span longer than the silence that ends the collection.
        QCOMPARE(_client->replies(400), QStringList({"<A/>", "<B/>", "<C/>", "<D/>", "<E/>"}));
        QVERIFY(timer.elapsed() >= 1000);
        QString late;
        QVERIFY(_client->waitForReply(&late));
        QCOMPARE(late, QStringLiteral("<Tarde/>"));
    }

    void connectionLifecycle()
    {
        _server->setResponder([](QTcpSocket* socket, const QString& text) {
            echo(socket, text);
            socket->disconnectFromHost();
        });
        QVERIFY(_client->isConnected());
        QVERIFY(_client->send(QStringLiteral("<Adios/>")));
        QVERIFY(_client->waitForDisconnected(5000));
        QVERIFY(!_client->isConnected());
        // What came before the close is still there, and waiting for more ends at once.
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(_client->replies(5000), QStringList{QStringLiteral("<Adios/>")});
        QVERIFY(timer.elapsed() < 2000);
        QVERIFY(!_client->send(QStringLiteral("<Nada/>")));
        QVERIFY(!_client->errorString().isEmpty());

        quint16 closedPort = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            closedPort = probe.serverPort();
        }
        QVERIFY(!_client->connectToServer(QStringLiteral("127.0.0.1"), closedPort, 2000));
        QVERIFY(!_client->isConnected());
        QVERIFY(_client->errorString().contains(QString::number(closedPort)));

        _server->setResponder(echo);
        QVERIFY(_client->connectToServer(QStringLiteral("127.0.0.1"), _server->port()));
        QVERIFY(_client->errorString().isEmpty());
        QVERIFY(_client->send(QStringLiteral("<Otra/>")));
        QCOMPARE(_client->replies(300), QStringList{QStringLiteral("<Otra/>")});
        _client->disconnectFromServer();
        QVERIFY(!_client->isConnected());
    }

    void faultyFramesEndTheConnection_data()
    {
        QTest::addColumn<QByteArray>("fault");
        QByteArray corrupt = rawFrame(QStringLiteral("<Documento>texto que se corrompe</Documento>"));
        corrupt[22] = char(corrupt[22] ^ 0x5a);
        QByteArray lyingLength = rawFrame(QStringLiteral("<Documento/>"));
        qToBigEndian<quint32>(5, lyingLength.data() + 12);
        QTest::newRow("announces more than the limit") << bigEndian64(quint64(1) << 40) + QByteArray(64, 'x');
        QTest::newRow("stream does not inflate") << corrupt;
        QTest::newRow("text length lies") << lyingLength;
        QTest::newRow("block length differs") << bigEndian64(12) + bigEndian32(99) + QByteArray(8, '\0');
    }

    void faultyFramesEndTheConnection()
    {
        QFETCH(QByteArray, fault);
        _client->setMaxFrameSize(1 << 16);
        _server->setResponder([fault](QTcpSocket* socket, const QString&) {
            writeNow(socket, rawFrame(QStringLiteral("<Antes/>")) + fault);
        });
        QVERIFY(_client->send(QStringLiteral("<Pide/>")));
        QString reply;
        QVERIFY(_client->waitForReply(&reply));
        QCOMPARE(reply, QStringLiteral("<Antes/>"));
        QVERIFY(!_client->waitForReply(&reply, 1000));
        QVERIFY(!_client->isConnected());
        QVERIFY(!_client->errorString().isEmpty());
    }

    void documentBuilders()
    {
        QString root;
        QCOMPARE(childElements(
                     KTProtocolClient::negotiation({{"Company", "Ñandú & Cía <S.A.>"}, {"PackMaxCount", "1"}}), &root),
                 QStringList({"Company : Ñandú & Cía <S.A.>", "PackMaxCount : 1"}));
        QCOMPARE(root, QStringLiteral("NegotiateConnection"));
        QCOMPARE(childElements(KTProtocolClient::login("PasswordAuthcom", "ana", "cla\"ve<", {{"IconHash", "x="}}),
                               &root),
                 QStringList({"IdentifierType : PasswordAuthcom", "Login : ana", "Password : cla\"ve<",
                              "IconHash : x="}));
        QCOMPARE(root, QStringLiteral("Authenticate"));
        QCOMPARE(childElements(KTProtocolClient::keepAlive(), &root), QStringList());
        QCOMPARE(root, QStringLiteral("KeepAlive"));

        const QList<KTProtocolClient::Action> actions{
            {"DbInsertSercom", {{"Table", "accUser"}, {"Values", "'a'"}, {"Values", "'b'"}}, "2", "frmUsuarios",
             "grid"},
            {"Schedule", {{"Date", "2026-01-02"}}, {}, {}, {}},
        };
        const QString insert = QStringLiteral("DbInsertSercom ObjectName=frmUsuarios ObjectNameEmbedded=grid "
                                              "ObjectType=2 <Table>accUser <Values>'a' <Values>'b'");
        QCOMPARE(childElements(KTProtocolClient::actionRequest(actions, {"ana", "beto"}), &root),
                 QStringList({insert, "Schedule <Date>2026-01-02", "BroadcastUsers Logins=ana,beto"}));
        QCOMPARE(root, QStringLiteral("ActionRequest"));
        QCOMPARE(childElements(KTProtocolClient::actionRequest({}), &root), QStringList());

        QDomDocument document;
        QVERIFY(document.setContent(
            KTProtocolClient::lockRequest({"accUser", "srvBlob"}, {"T1", ""}, {"WRITE", "READ"}, {actions.first()})));
        const QDomElement lock = document.documentElement();
        QCOMPARE(QStringList({lock.tagName(), lock.attribute("Tables"), lock.attribute("Aliases"),
                              lock.attribute("Modes"), lock.firstChildElement().tagName()}),
                 QStringList({"LockRequest", "accUser,srvBlob", "T1,", "WRITE,READ", "DbInsertSercom"}));
        for (bool active : {true, false}) {
            QVERIFY(document.setContent(KTProtocolClient::objectStatus("frmUsuarios", active)));
            const QDomElement status = document.documentElement();
            QCOMPARE(QStringList({status.tagName(), status.attribute("ObjectName"), status.attribute("Active")}),
                     QStringList({"ObjectStatus", "frmUsuarios", active ? "1" : "0"}));
        }
    }

    void readingReplies()
    {
        const QString reply = QStringLiteral("<?xml version=\"1.0\"?>\n<Authenticate><Status>1</Status>"
                                             "<Component><Name>frmA</Name></Component><Name>frmB</Name>"
                                             "</Authenticate>");
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("1"));
        QCOMPARE(KTProtocolClient::element(reply, "Name"), QStringLiteral("frmA"));
        QCOMPARE(KTProtocolClient::element(reply, "Authenticate"), QStringLiteral("1frmAfrmB"));
        QCOMPARE(KTProtocolClient::element(reply, "Message"), QString());
        QCOMPARE(KTProtocolClient::element("<a><Status>1</Status>", "Status"), QString());
        QCOMPARE(KTProtocolClient::rootTag(reply), QStringLiteral("Authenticate"));
    }

    void consoleProgram()
    {
        _client.reset();
        _server->setResponder([](QTcpSocket* socket, const QString& text) {
            echo(socket, QStringLiteral("<Eco>%1</Eco>").arg(KTProtocolClient::rootTag(text)));
        });
        QTemporaryDir dir;
        const QString first = dir.filePath("uno.xml");
        const QString second = dir.filePath("dos.xml");
        for (const auto& [name, text] : {std::pair{first, QByteArray("\xEF\xBB\xBF<Uno/>")},
                                         std::pair{second, QByteArray("<Dos>ñ</Dos>")}}) {
            QFile file(name);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(text);
        }
        const QString port = QString::number(_server->port());
        auto run = [](const QStringList& arguments, const QByteArray& input = {}) {
            QProcess process;
            process.start(QStringLiteral(OMBRIX_CLIENT_CONSOLE), arguments);
            process.write(input);
            process.closeWriteChannel();
            process.waitForFinished(20000);
            return std::pair{process.exitCode(), QString::fromUtf8(process.readAllStandardOutput())};
        };

        QCOMPARE(run({"--port", port, "--wait", "300", first, "-", second}, "<Tres/>"),
                 std::pair(0, QStringLiteral("<Eco>Uno</Eco>\n\n<Eco>Tres</Eco>\n\n<Eco>Dos</Eco>\n")));
        QCOMPARE(run({"--port", port, "--wait", "300"}, "<Entrada/>"),
                 std::pair(0, QStringLiteral("<Eco>Entrada</Eco>\n")));
        const QList<ReceivedFrame> received = _server->received(4);
        QCOMPARE(received.size(), 4);
        QCOMPARE(received.at(2).text, QStringLiteral("<Dos>ñ</Dos>"));

        // Usage errors send nothing, not even the files that could be read.
        for (const QStringList& wrong : {QStringList{"--port", "70000", first}, {"--desconocida", first},
                                         {"--port", port, "--level", "10", first},
                                         {"--port", port, first, "no-existe.xml"},
                                         {"--port", port, "--insecure", first},
                                         {"--port", port, "--tls", "--ca", second, first}})
            QCOMPARE(run(wrong).first, 2);
        QCOMPARE(_server->received(5, 200).size(), 4);

        quint16 closedPort = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            closedPort = probe.serverPort();
        }
        QCOMPARE(run({"--port", QString::number(closedPort), first}).first, 1);
        // A server that does not speak TLS: no handshake, nothing sent.
        QCOMPARE(run({"--port", port, "--tls", "--insecure", first}).first, 1);
        QCOMPARE(_server->received(5, 200).size(), 4);
    }
};

QTEST_GUILESS_MAIN(tst_KTProtocolClient)
#include "tst_ktprotocolclient.moc"
