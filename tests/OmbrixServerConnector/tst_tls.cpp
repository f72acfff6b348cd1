#include "KTRawFrames.h"
#include "KTSessionFixture.h"
#include "KTTestCertificates.h"
#include "KTTestEvents.h"

#include <KTServerConnector.h>
#include <KTTlsCredentials.h>

#include <QRandomGenerator>
#include <QSslSocket>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace {

using Action = KTProtocolClient::Action;

const QString dbName = QStringLiteral("ombrix_test_tls");
const QString categoryFields = QStringLiteral("pkyProductCategory,fldName,fldDescription,sysEnabled,sysEditable,"
                                              "sysAuthorized,sysVisible,sysContext,sysAuthorizationGroup");

Action insertCategory(const QString& name)
{
    return KTSessionFixture::action("DbInsertSercom",
                                    {{"Table", "invProductCategory"}, {"Fields", categoryFields},
                                     {"Values", QStringLiteral("NULL|'%1'|'cifrada'|1|2|1|2|0|1").arg(name)},
                                     {"LineNumbers", "1"}},
                                    "Component", "ComponentProductCategory");
}

QString browseCustomers()
{
    return KTProtocolClient::actionRequest({KTSessionFixture::action(
        "DbBrowseSercom", {{"Table", "salCustomer"}, {"Where", ""}, {"OrderBy", "1"}, {"Limit", "100"},
                           {"ResolveKeys", "0"}, {"Stats", ""}},
        "Component", "ComponentCustomer")});
}

QString status(const QString& reply)
{
    return KTProtocolClient::element(reply, "Status");
}

} // namespace

// The encrypted port: the whole protocol inside TLS, beside plain clients,
// and whatever does not speak TLS there, or expects it on the plain port,
// costs one closed connection.
class tst_Tls : public QObject
{
    Q_OBJECT

    KTSessionFixture _fixture;
    KTTestCertificates _certificates;
    std::unique_ptr<KTClientSession> _tls;

    KTServerConnector* connector() const { return _fixture.server().connector(); }
    quint16 tlsPort() const { return connector()->encryptedPort(); }
    QString adminPassword() const { return KTTestServer::password(_fixture.controller(), 2); }
    int warnings(const QString& text) const { return eventTexts(_fixture.server().events()).filter(text).size(); }

    bool useCertificate(const QString& certificate, const QString& key)
    {
        QString error;
        const QSslConfiguration configuration = KTTlsCredentials::load(certificate, key, QString(), &error);
        connector()->setTlsConfiguration(configuration);
        return error.isEmpty();
    }

    // Logs admin in over TLS as the client trusts.
    std::unique_ptr<KTClientSession> tlsSession(const QString& caFile, bool insecure, bool* loggedIn)
    {
        auto session = std::make_unique<KTClientSession>();
        *loggedIn = session->useTls(caFile, insecure) && session->logIn(tlsPort(), "admin", adminPassword());
        return session;
    }

    // Whether a client trusting as told gets through a negotiation over TLS.
    bool negotiates(const QString& caFile, bool insecure)
    {
        KTClientSession session;
        return session.useTls(caFile, insecure) && session.run([&](KTProtocolClient& client) {
            QString reply;
            return client.connectToServer(QStringLiteral("127.0.0.1"), tlsPort())
                && client.send(KTTestServer::negotiation()) && client.waitForReply(&reply, 15000)
                && status(reply) == QLatin1String("1");
        });
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(_certificates.isValid(), qPrintable(_certificates.errorString()));
        QVERIFY(_fixture.start(dbName, "PasswordAuthcom,DbInsertSercom,DbBrowseSercom"));
        QVERIFY(useCertificate(_certificates.certificate(), _certificates.key()));
        QVERIFY(connector()->listenEncrypted(QHostAddress::LocalHost, 0));
    }

    void init() { _fixture.drain(); }

    // Negotiation, login, browse, an insert pushed to a plain client, a
    // schedule: all over TLS, and the monitor and the log tell it.
    void theDemoSessionRunsOverTls()
    {
        bool loggedIn = false;
        _tls = tlsSession(_certificates.authority(), false, &loggedIn);
        QVERIFY(loggedIn);
        const int id = connector()->connectionIDs().last();
        QVERIFY(connector()->isEncrypted(id));
        QVERIFY(!connector()->isEncrypted(connector()->connectionIDs().first()));
        const QList<QStandardItem*> row = connector()->model()->findItems(QString::number(id));
        QCOMPARE(row.size(), 1);
        QTRY_VERIFY(connector()->model()->item(row.first()->row(), KTServerConnector::AddressColumn)->text()
                        .endsWith(QStringLiteral(" (TLS)")));
        QCOMPARE(warnings(QStringLiteral("La conexión : '%1' desde 127.0.0.1 está cifrada (TLS 1.").arg(id)), 1);

        const QString browsed = _tls->request(browseCustomers());
        QCOMPARE(status(browsed), QStringLiteral("1"));
        QVERIFY(KTProtocolClient::element(browsed, "RowCount").toInt() > 0);

        QCOMPARE(status(_tls->request(KTProtocolClient::actionRequest({insertCategory("Por TLS")}))),
                 QStringLiteral("1"));
        const QStringList pushed = _fixture.carla().replies();
        QCOMPARE(pushed.size(), 1);
        QCOMPARE(KTProtocolClient::element(pushed.first(), "Table"), QStringLiteral("invProductCategory"));
        QCOMPARE(_fixture.count("SELECT COUNT(*) FROM invProductCategory WHERE fldName = 'Por TLS'"), 1);

        QSignalSpy scheduled(connector(), &KTServerConnector::scheduleRequested);
        QVERIFY(_tls->send(KTProtocolClient::schedule({{"Users", "3"}, {"ID", "cifrada"}})));
        QTRY_COMPARE(scheduled.size(), 1);
    }

    // The certificate is checked by the client, not taken on trust.
    void onlyATrustedCertificateIsAccepted_data()
    {
        QTest::addColumn<QString>("authority");
        QTest::addColumn<bool>("insecure");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("another authority") << "other" << false << false;
        QTest::newRow("the system's authorities alone") << "" << false << false;
        QTest::newRow("any, when insecure is asked for") << "" << true << true;
    }

    void onlyATrustedCertificateIsAccepted()
    {
        QFETCH(QString, authority);
        QFETCH(bool, insecure);
        QFETCH(bool, accepted);
        KTTestCertificates other(QStringLiteral("Otra CA"));
        QVERIFY(other.isValid());
        const int before = warnings("no pudo cifrarse");
        const int connections = connector()->connectionIDs().size();
        QCOMPARE(negotiates(authority == "other" ? other.authority() : authority, insecure), accepted);
        // The server hears a refusing client give up, once.
        QTRY_COMPARE(warnings("no pudo cifrarse"), before + (accepted ? 0 : 1));
        QTRY_COMPARE(connector()->connectionIDs().size(), connections);
        QCOMPARE(status(_tls->request(browseCustomers())), QStringLiteral("1"));
    }

    // A plain client on the encrypted port, noise there, and a TLS client on
    // the plain port: each closed, once, and the others go on.
    void wrongSpeakersFailCleanly()
    {
        const int before = warnings("no pudo cifrarse");
        const int connections = connector()->connectionIDs().size();
        KTRawClient plain;
        KTRawClient noise;
        QVERIFY(plain.connectTo(tlsPort()) && noise.connectTo(tlsPort()));
        plain.sendText(KTTestServer::negotiation());
        noise.send(QByteArray(256 * 1024, '\xff'));
        QTRY_VERIFY(!plain.connected() && !noise.connected());
        QVERIFY(plain.nextReply(100).isEmpty());
        QTRY_COMPARE(warnings("no pudo cifrarse"), before + 2);

        KTClientSession encrypted;
        QVERIFY(encrypted.useTls(_certificates.authority()));
        QVERIFY(!encrypted.logIn(connector()->serverPort(), "admin", adminPassword()));
        QTRY_COMPARE(connector()->connectionIDs().size(), connections);

        QCOMPARE(status(_tls->request(browseCustomers())), QStringLiteral("1"));
        QCOMPARE(status(_fixture.carla().request(browseCustomers())), QStringLiteral("1"));
    }

    // A peer that opens the encrypted port and never finishes its handshake
    // is closed by the negotiation deadline, with one warning.
    void anUnfinishedHandshakeEndsAtTheDeadline()
    {
        const int deadline = connector()->limits().negotiationTimeoutMs;
        const int connections = connector()->connectionIDs().size();
        connector()->setNegotiationTimeout(500);
        KTRawClient silent;
        KTRawClient halfway;
        QVERIFY(silent.connectTo(tlsPort()) && halfway.connectTo(tlsPort()));
        // The start of a TLS record announcing a ClientHello, and no more.
        halfway.send(QByteArray::fromHex("160301020001"));
        QTRY_COMPARE(connector()->connectionIDs().size(), connections + 2);
        connector()->setNegotiationTimeout(deadline);
        QTRY_VERIFY_WITH_TIMEOUT(!silent.connected() && !halfway.connected(), 15000);
        QTRY_COMPARE(warnings("no completó el saludo TLS"), 2);
        QCOMPARE(status(_tls->request(browseCustomers())), QStringLiteral("1"));
    }

    // A new certificate serves the connections that arrive after it; the
    // ones already open keep theirs.
    void aNewCertificateServesOnlyNewConnections()
    {
        const QString certificate = _certificates.path("renewed.pem");
        const QString key = _certificates.path("renewed.key");
        QVERIFY(_certificates.issue(certificate, key, QStringLiteral("otro.example")));
        QVERIFY(useCertificate(certificate, key));

        // Signed by the trusted authority, but for another host.
        QVERIFY(!negotiates(_certificates.authority(), false));
        QVERIFY(negotiates(QString(), true));
        QCOMPARE(status(_tls->request(browseCustomers())), QStringLiteral("1"));

        QVERIFY(useCertificate(_certificates.certificate(), _certificates.key()));
        QVERIFY(negotiates(_certificates.authority(), false));
    }

    // What cannot serve is refused before it reaches a client.
    void unusableFilesAreRefused()
    {
        KTTestCertificates other(QStringLiteral("Otra CA"));
        QVERIFY(other.isValid());
        QString error;
        QVERIFY(KTTlsCredentials::load(_certificates.certificate(), other.key(), QString(), &error).isNull());
        QVERIFY2(error.contains("no corresponde"), qPrintable(error));
        QVERIFY(KTTlsCredentials::load(_certificates.key(), _certificates.key(), QString(), &error).isNull());
        QVERIFY2(error.contains("no contiene un certificado"), qPrintable(error));
        QVERIFY(KTTlsCredentials::load(_certificates.certificate(), _certificates.path("missing.key"), QString(), &error)
                    .isNull());
        QVERIFY2(error.contains("no se puede leer"), qPrintable(error));
        QVERIFY(KTTlsCredentials::load(_certificates.certificate(), _certificates.key(), _certificates.key(), &error)
                    .isNull());
        const QSslConfiguration chained = KTTlsCredentials::load(_certificates.certificate(), _certificates.key(),
                                                                 _certificates.authority(), &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(chained.localCertificateChain().size(), 2);
        QCOMPARE(chained.protocol(), QSsl::TlsV1_2OrLater);
        // A FIFO in the certificate's place would block the reload for good.
        const QString fifo = _certificates.path("fifo.pem");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(KTTlsCredentials::load(fifo, _certificates.key(), QString(), &error).isNull());
        QVERIFY2(error.contains("no es un archivo"), qPrintable(error));

        // Only suites whose recorded sessions a leaked key cannot open.
        QStringList offered;
        for (const QSslCipher& cipher : chained.ciphers())
            offered << cipher.name();
        for (const char* weak : {"AES128-SHA", "AES256-SHA", "AES128-GCM-SHA256", "AES256-SHA256", "ECDHE-RSA-AES128-SHA",
                                 "ECDHE-ECDSA-AES128-SHA", "DHE-RSA-AES128-SHA"})
            QVERIFY2(!offered.contains(QLatin1String(weak)), weak);
        for (const char* strong : {"TLS_AES_128_GCM_SHA256", "ECDHE-ECDSA-AES128-GCM-SHA256", "ECDHE-RSA-AES256-GCM-SHA384"})
            QVERIFY2(offered.contains(QLatin1String(strong)), strong);
    }

    // Once the session is up, bytes that do not decrypt end the connection
    // with one warning; and a TLS client that does not read its replies is
    // dropped like a plain one (what waits encrypted counts too).
    void aBrokenOrStalledSessionIsClosed()
    {
        const int connections = connector()->connectionIDs().size();
        QSslSocket garbled;
        garbled.setPeerVerifyMode(QSslSocket::VerifyNone);
        garbled.connectToHostEncrypted(QStringLiteral("127.0.0.1"), tlsPort());
        QTRY_VERIFY_WITH_TIMEOUT(garbled.isEncrypted(), 10000);
        const int before = warnings("datos TLS no válidos");
        const QByteArray record = QByteArray::fromHex("1703030040") + QByteArray(64, '\x5a');
        QCOMPARE(::write(int(garbled.socketDescriptor()), record.constData(), size_t(record.size())),
                 ssize_t(record.size()));
        QTRY_COMPARE(warnings("datos TLS no válidos"), before + 1);
        QTRY_COMPARE(connector()->connectionIDs().size(), connections);

        connector()->setMaxPendingBytes(256 * 1024);
        const QList<int> earlier = connector()->connectionIDs();
        QSslSocket stalled;
        stalled.setPeerVerifyMode(QSslSocket::VerifyNone);
        stalled.connectToHostEncrypted(QStringLiteral("127.0.0.1"), tlsPort());
        QTRY_VERIFY_WITH_TIMEOUT(stalled.isEncrypted(), 10000);
        QTRY_COMPARE(connector()->connectionIDs().size(), earlier.size() + 1);
        int id = 0;
        for (int candidate : connector()->connectionIDs())
            if (!earlier.contains(candidate))
                id = candidate;
        stalled.setReadBufferSize(1);
        QByteArray noise(64 * 1024, Qt::Uninitialized);
        for (char& byte : noise)
            byte = char(QRandomGenerator::global()->bounded(256));
        const QString reply = "<Ruido>" + QString::fromLatin1(noise.toBase64()) + "</Ruido>";
        for (int frame = 0; frame < 400 && connector()->connectionIDs().contains(id); ++frame) {
            connector()->sendResponse(id, reply, 0, "ruido", 3);
            QTest::qWait(5);
        }
        QTRY_VERIFY(!connector()->connectionIDs().contains(id));
        QTRY_VERIFY(warnings("no lee sus respuestas") >= 1);
        connector()->setMaxPendingBytes(KTConnectionLimits().maxPendingBytes);
        QCOMPARE(status(_tls->request(browseCustomers())), QStringLiteral("1"));
    }

    void cleanupTestCase() { _tls.reset(); }
};

QTEST_MAIN(tst_Tls)
#include "tst_tls.moc"
