#include "KTTestServer.h"

#include <KTDatabaseController.h>
#include <KTServerConnector.h>
#include <KTVersion.h>

#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString dbName = QStringLiteral("ombrix_test_negotiation");

QStringList logins(const QString& reply)
{
    QDomDocument document;
    document.setContent(reply);
    QStringList result;
    const QDomElement list = document.documentElement().firstChildElement("UserList");
    for (QDomElement user = list.firstChildElement("User"); !user.isNull(); user = user.nextSiblingElement("User"))
        result << user.firstChildElement("Key").text() + ":" + user.firstChildElement("Login").text() + ":"
                + user.firstChildElement("IconSha1").text();
    return result;
}

} // namespace

class tst_Negotiation : public QObject
{
    Q_OBJECT

    KTDatabaseController* _controller = nullptr;
    std::unique_ptr<KTTestServer> _server;

    // Sends a negotiation on a fresh connection and returns the reply.
    QString negotiate(const QString& request, std::unique_ptr<KTRawClient>* keep = nullptr)
    {
        auto raw = _server->client();
        raw->sendText(request);
        const QString reply = raw->nextReply();
        if (keep)
            *keep = std::move(raw);
        return reply;
    }

private Q_SLOTS:
    void initTestCase()
    {
        _controller = new KTDatabaseController(this);
        QVERIFY(KTTestServer::prepareDatabase(_controller, dbName));
    }

    void init() { _server = std::make_unique<KTTestServer>(_controller, dbName); }
    void cleanup() { _server.reset(); }

    void successListsEnabledUsersWithAnIcon()
    {
        // cmendez becomes enabled; a user without icon blob never shows.
        QVERIFY(_controller->customQuery("UPDATE accUser SET sysEnabled = 1 WHERE pkyUser = 3").isActive());
        QVERIFY(_controller->customQuery("SET FOREIGN_KEY_CHECKS = 0; INSERT INTO accUser (pkyUser, fldLogin, fldName, "
                                         "codType, blbIcon) VALUES (9, 'aaa', 'Sin icono', 3, NULL); "
                                         "SET FOREIGN_KEY_CHECKS = 1;").isActive());
        // Changed behind the server's back: the connector reads its list again every 30 s, or now.
        _server->connector()->refreshUserList();
        std::unique_ptr<KTRawClient> raw;
        const QString reply = negotiate(KTTestServer::negotiation(), &raw);
        QCOMPARE(KTTestServer::element(reply, "Status"), QStringLiteral("1"));
        QCOMPARE(KTTestServer::element(reply, "ServerVersion"), KTVersion::ombrixServerVersionSimplified());
        QCOMPARE(KTTestServer::element(reply, "Message"), QStringLiteral("Negociación Exitosa !"));
        QCOMPARE(logins(reply), QStringList({"2:admin:Vf23HWowAanVBzr+eFou3pVTxIw=",
                                             "3:cmendez:c/NNG+MOf0/Sfnjm4o4RHaa6LEk="}));
        QVERIFY(_controller->customQuery("UPDATE accUser SET sysEnabled = 0 WHERE pkyUser = 3").isActive());

        // Negotiated: keep-alive is answered, and the monitor shows the client's addresses.
        raw->sendText("<KeepAlive/>");
        QCOMPARE(raw->nextReply().contains("<KeepAliveAnswer/>"), true);
        QTRY_COMPARE(_server->connector()->model()->item(0, 3)->text(), QStringLiteral("127.0.0.1 / 10.0.0.7"));
        QCOMPARE(_server->connector()->model()->item(0, 3)->toolTip(),
                 QStringLiteral("MAC : 00:11:22:33:44:55\nIP6 : fe80::1"));
        QTRY_VERIFY(_server->connector()->model()->item(0, 4)->toolTip().endsWith("Narajas"));
    }

    void companyNameIsSimplifiedButThePasswordIsExact()
    {
        const QString spaced = "  Comercial    Andina ";
        QCOMPARE(KTTestServer::element(negotiate(KTTestServer::negotiation("2.8.1", 6, 1, spaced)), "Status"),
                 QStringLiteral("1"));

        std::unique_ptr<KTRawClient> raw;
        const QString reply = negotiate(KTTestServer::negotiation("2.8.1", 6, 1, KTTestServer::companyName,
                                                                  "Clave-empresa"), &raw);
        QCOMPARE(KTTestServer::element(reply, "Status"), QStringLiteral("0"));
        QCOMPARE(KTTestServer::element(reply, "Message"),
                 QStringLiteral("Password de empresa incorrecto! Contáctese con el administrador de sistemas."));
        QVERIFY(KTTestServer::element(reply, "UserList").isEmpty());
        QTRY_VERIFY(!raw->connected());
        const QStringList errors = KTTestServer::eventsOfType(_server->events(), 0);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().startsWith("Negociación iniciada por la conexión '2' no tuvo éxito. SO: 'Linux64', "
                                           "Empresa : 'Comercial Andina'. Password : '"), qPrintable(errors.first()));
        QVERIFY2(!errors.first().contains("Clave-empresa"), "the password a client sent is never logged");
    }

    void connectionParametersAreChecked_data()
    {
        QTest::addColumn<int>("compression");
        QTest::addColumn<int>("packMaxCount");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("factor 9") << 9 << 1 << true;
        QTest::newRow("factor 0") << 0 << 5 << true;
        QTest::newRow("factor 10") << 10 << 1 << false;
        QTest::newRow("factor -1") << -1 << 1 << false;
        QTest::newRow("pack count 0") << 6 << 0 << false;
    }

    void connectionParametersAreChecked()
    {
        QFETCH(int, compression);
        QFETCH(int, packMaxCount);
        QFETCH(bool, accepted);
        std::unique_ptr<KTRawClient> raw;
        const QString reply = negotiate(KTTestServer::negotiation("2.8.1", compression, packMaxCount), &raw);
        QCOMPARE(KTTestServer::element(reply, "Status"), accepted ? QStringLiteral("1") : QStringLiteral("0"));
        if (accepted)
            return;
        QCOMPARE(KTTestServer::element(reply, "Message"), QStringLiteral("Parámetros de conexión incorrectos !"));
        QTRY_VERIFY(!raw->connected());
        QCOMPARE(KTTestServer::eventsOfType(_server->events(), 1).size(), 1);
    }

    void releaseRules()
    {
        // Without a minimum, the release ordering applies and a refusal closes.
        std::unique_ptr<KTRawClient> old;
        QString reply = negotiate(KTTestServer::negotiation("2.8.0"), &old);
        QCOMPARE(KTTestServer::element(reply, "Status"), QStringLiteral("0"));
        QCOMPARE(KTTestServer::element(reply, "Message"),
                 QStringLiteral("Servidor requiere mínimo la versión '2.8.1' de OmbrixClient."));
        QVERIFY(KTTestServer::element(reply, "MessageBox").isEmpty());
        QTRY_VERIFY(!old->connected());
        QCOMPARE(KTTestServer::element(negotiate(KTTestServer::negotiation("2.10.0")), "Status"), QStringLiteral("1"));

        // With a minimum, the text ordering applies and the refusal offers an update.
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath("Downloads")));
        QFile file(dir.filePath("Downloads/ClientVersion.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[ClientValues]\nClientVersion=02.10.00\n");
        file.close();
        _server->connector()->setApplicationDirectory(dir.path());
        QCOMPARE(KTTestServer::element(negotiate(KTTestServer::negotiation("2.9.5")), "Status"), QStringLiteral("1"));
        std::unique_ptr<KTRawClient> behind;
        reply = negotiate(KTTestServer::negotiation("2.1.0"), &behind);
        QCOMPARE(KTTestServer::element(reply, "Status"), QStringLiteral("0"));
        QVERIFY(KTTestServer::element(reply, "MessageBox")
                    .startsWith("Servidor requiere mínimo la versión '2.10.0' de OmbrixClient.\nDesea actualizar"));
        QVERIFY(KTTestServer::element(reply, "MessageBox").endsWith(" " + KTVersion::vendorWebAddress()));
        // Still open but not negotiated: keep-alive stays unanswered, login is refused.
        behind->sendText("<KeepAlive/>");
        QTest::qWait(200);
        QVERIFY(behind->connected());
        QCOMPARE(behind->replies(), 1);
        behind->sendText(KTTestServer::login("admin", "x"));
        QCOMPARE(KTTestServer::element(behind->nextReply(), "Message"),
                 QStringLiteral("Conexión no fue negociada exitosamente."));
    }

    void aRepeatedNegotiationIsHandledInFull()
    {
        auto raw = _server->negotiatedClient();
        QVERIFY(raw);
        raw->sendText(KTTestServer::negotiation("2.8.1", 6, 1, "Otra empresa"));
        QCOMPARE(KTTestServer::element(raw->nextReply(), "Status"), QStringLiteral("0"));
        QTRY_VERIFY(!raw->connected());
    }
};

QTEST_GUILESS_MAIN(tst_Negotiation)
#include "tst_negotiation.moc"
