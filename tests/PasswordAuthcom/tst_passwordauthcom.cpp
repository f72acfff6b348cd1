#include "KTTestServer.h"
#include "KTTestEvents.h"

#include <KTDatabaseController.h>
#include <KTKeyHash.h>
#include <KTLoginThrottle.h>
#include <KTProtocolClient.h>
#include <KTServerConnector.h>
#include <KTVersion.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

namespace {

const QString dbName = QStringLiteral("ombrix_test_login");

struct Reply {
    QDomElement root;
    QDomDocument document;
    QString text(const QString& tag) const { return root.firstChildElement(tag).text(); }
    QStringList components() const
    {
        QStringList result;
        for (QDomElement c = root.firstChildElement("Component"); !c.isNull(); c = c.nextSiblingElement("Component"))
            result << QStringList{c.firstChildElement("Name").text(), c.firstChildElement("Module").text(),
                                  c.firstChildElement("ReadOnlyFields").text(), c.firstChildElement("Key").text(),
                                  c.firstChildElement("Read").text() + c.firstChildElement("Write").text()
                                      + c.firstChildElement("Disable").text()}.join('|');
        return result;
    }
    QString tables(const QString& component) const
    {
        for (QDomElement c = root.firstChildElement("Component"); !c.isNull(); c = c.nextSiblingElement("Component"))
            if (c.firstChildElement("Name").text() == component)
                return c.firstChildElement("Tables").text();
        return QString();
    }
    QStringList authorizations() const
    {
        QStringList result;
        const QDomElement list = root.firstChildElement("Authorization");
        for (QDomElement r = list.firstChildElement("Record"); !r.isNull(); r = r.nextSiblingElement("Record"))
            result << r.text();
        return result;
    }
};

} // namespace

class tst_PasswordAuthcom : public QObject
{
    Q_OBJECT

    KTDatabaseController* _controller = nullptr;
    std::unique_ptr<KTTestServer> _server;
    QString _adminPassword;

    bool run(const QString& sql)
    {
        return _controller->customQuery("SET FOREIGN_KEY_CHECKS = 0; " + sql + "; SET FOREIGN_KEY_CHECKS = 1;")
            .isActive();
    }

    Reply login(KTRawClient& client, const QString& user, const QString& password, const QString& hash = QString())
    {
        client.sendText(KTTestServer::login(user, password, hash));
        Reply reply;
        reply.document.setContent(client.nextReply());
        reply.root = reply.document.documentElement();
        return reply;
    }

    Reply loginOnce(const QString& user, const QString& password, const QString& hash = QString())
    {
        auto client = _server->negotiatedClient();
        return client ? login(*client, user, password, hash) : Reply();
    }

    int throttled() const { return eventTexts(_server->events()).filter("demorada").size(); }

    qint64 logRows(int action)
    {
        QSqlQuery query = _controller->customQuery(
            QStringLiteral("SELECT COUNT(*) FROM dbaUserLog WHERE codUser = 2 AND codObjectType = 1 AND "
                           "parComponent = 209001 AND codComponentAction = %1 AND cosRecordKey = 0").arg(action));
        return query.next() ? query.value(0).toLongLong() : -1;
    }

private Q_SLOTS:
    void initTestCase()
    {
        _controller = new KTDatabaseController(this);
        QVERIFY(KTTestServer::prepareDatabase(_controller, dbName));
        QSqlQuery key = _controller->customQuery("SELECT fldKey FROM accUserIdentifier WHERE codUser = 2 AND codType = 1");
        QVERIFY(key.next());
        _adminPassword = key.value(0).toString();
        // Enable the support and demo users, and give the demo user a password of its own.
        QVERIFY(run("UPDATE accUser SET sysEnabled = 1"));
        QVERIFY(run("UPDATE accUserIdentifier SET fldKey = 'carla' WHERE codUser = 3"));
        // A normal user with no grants, and one without any password row.
        QVERIFY(run("INSERT INTO accGroup (pkyGroup, fldName) VALUES (20, 'nuevo'), (21, 'sinclave')"));
        QVERIFY(run("INSERT INTO accUser (pkyUser, fldLogin, fldName, codType, blbIcon) VALUES "
                    "(20, 'nuevo', 'Nuevo', 3, 3), (21, 'sinclave', 'Sin clave', 3, 3)"));
        QVERIFY(run("INSERT INTO accUserIdentifier (pkyUserIdentifier, codUser, codType, fldKey) VALUES (20, 20, 1, 'n')"));
    }

    void init() { _server = std::make_unique<KTTestServer>(_controller, dbName); }
    void cleanup() { _server.reset(); }

    void administratorGetsEveryListedObject()
    {
        const Reply reply = loginOnce("admin", _adminPassword);
        QCOMPARE(reply.text("Status"), QStringLiteral("1"));
        QCOMPARE(reply.text("Message"), QStringLiteral("Autenticación exitosa"));
        QCOMPARE(reply.text("UserType"), QStringLiteral("2"));
        QCOMPARE(reply.text("UserKey"), QStringLiteral("2"));
        QCOMPARE(reply.text("UserWarehouse"), QStringLiteral("1"));
        QCOMPARE(reply.text("UserSeller"), QString());
        QCOMPARE(reply.text("UnreadMessages"), QStringLiteral("0"));
        QVERIFY(QByteArray::fromBase64(reply.text("UserIcon").toLatin1()).startsWith("\x89PNG"));
        QStringList names;
        for (const QString& component : reply.components())
            names << component.section('|', 0, 0);
        QStringList expected = KTTestServer::clientObjects();
        expected.sort();
        QCOMPARE(names, expected);
        QVERIFY(reply.components().contains("ComponentCustomer|Ventas||401001|111"));
        QStringList order;
        for (QDomNode n = reply.root.firstChild(); !n.isNull(); n = n.nextSibling())
            if (!order.contains(n.toElement().tagName()))
                order << n.toElement().tagName();
        QCOMPARE(order, QStringList({"Status", "Message", "UserType", "UserIcon", "UserKey", "UserWarehouse",
                                     "UserSalesPlace", "UserPriceList", "UserSeller", "UserPettyCash",
                                     "UnreadMessages", "Component", "Authorization"}));
    }

    void superUserUsesTheServerPassword()
    {
        QCOMPARE(loginOnce("soporte", KTVersion::ombrixServerPassword()).text("UserType"), QStringLiteral("1"));
        QCOMPARE(loginOnce("soporte", "otra").text("Message"), QStringLiteral("Password de usuario 'soporte' incorrecto"));
    }

    void normalUsersGetTheirGrants()
    {
        QVERIFY(run("INSERT INTO accAccessComponent VALUES (90, 3, 401001, 'fldDiscount', 1, 0, 0, 1, 1, 1, 1, 0, 1)"));
        const Reply reply = loginOnce("cmendez", "carla");
        QCOMPARE(reply.text("UserType"), QStringLiteral("3"));
        const QStringList components = reply.components();
        QVERIFY(components.contains("ComponentCustomer|Ventas||401001|110"));
        QVERIFY(components.contains("ComponentCustomer|Ventas|fldDiscount|401001|100"));
        QVERIFY(components.contains("ComponentOrderLine|Ventas|fldUnitPrice|401003|110"));
        QVERIFY(components.contains("ComponentProduct|Inventario||301002|100"));
        QCOMPARE(components.size(), 7);
        QVERIFY(run("DELETE FROM accAccessComponent WHERE pkyAccessComponent = 90"));
        // Each component's grant carries the tables it works on; a disabled binding binds nothing.
        QCOMPARE(reply.tables("ComponentCustomer"), QStringLiteral("salCustomer,salPriceList"));
        QCOMPARE(reply.tables("ComponentOrderLine"), QStringLiteral("invProduct,salOrderLine"));
        QVERIFY(run("UPDATE srvComponentTable SET sysEnabled = 0 WHERE fldTableName = 'salPriceList' "
                    "AND codComponent = 401001"));
        QCOMPARE(loginOnce("cmendez", "carla").tables("ComponentCustomer"), QStringLiteral("salCustomer"));
        QVERIFY(run("UPDATE srvComponentTable SET sysEnabled = 1"));

        const Reply none = loginOnce("nuevo", "n");
        QCOMPARE(none.text("Status"), QStringLiteral("1"));
        QVERIFY(none.components().isEmpty());
    }

    void theClientCannotChooseItsObjects()
    {
        auto client = _server->negotiatedClient();
        client->sendText("<Authenticate><IdentifierType>PasswordAuthcom</IdentifierType><Login>admin</Login><Password>"
                         + _adminPassword + "</Password><ClientObjects>ComponentSeller</ClientObjects></Authenticate>");
        Reply reply;
        reply.document.setContent(client->nextReply());
        reply.root = reply.document.documentElement();
        QCOMPARE(reply.text("Status"), QStringLiteral("1"));
        QCOMPARE(reply.components().filter("ComponentSeller").size(), 0);
        QCOMPARE(reply.components().size(), KTTestServer::clientObjects().size());
    }

    void storedIconHashSkipsTheIcon()
    {
        QCOMPARE(loginOnce("admin", _adminPassword, "Vf23HWowAanVBzr+eFou3pVTxIw=").text("UserIcon"), QString());
    }

    void messagesAndAuthorizationsWaitingForTheUser()
    {
        QVERIFY(run("INSERT INTO comMessageUser VALUES (70, 1, 2, 0, 1, 0, 1, 2, 0, 1), (71, 1, 2, 1, 1, 0, 1, 2, 0, 1), "
                    "(72, 1, 2, 0, 0, 0, 1, 2, 0, 1)"));
        QVERIFY(run("INSERT INTO accAuthorization VALUES (80, 401002, 4, 3, '2026-01-02', 'Descuento', 1, 0, 1, 2, 0, 1)"));
        QVERIFY(run("INSERT INTO accAuthorizationDetail VALUES (81, 80, '17', 'salOrder', 1, 0, 1, 2, 0, 1)"));
        QVERIFY(run("INSERT INTO accAuthorizationDetailUser VALUES (82, 81, 2, 1, 0, 1, 2, 0, 1)"));
        const Reply reply = loginOnce("admin", _adminPassword);
        QCOMPARE(reply.text("UnreadMessages"), QStringLiteral("1"));
        QCOMPARE(reply.authorizations(), QStringList{"4|17|ComponentOrder"});
    }

    void oneUserHasOneName_data()
    {
        QTest::addColumn<QString>("second");
        QTest::newRow("trailing blank") << "admin ";
        QTest::newRow("leading blank") << " admin";
        QTest::newRow("same name") << "admin";
    }

    // However the login is written, the user is registered by its stored
    // name, so a second place still closes the first.
    void oneUserHasOneName()
    {
        QFETCH(QString, second);
        auto first = _server->negotiatedClient();
        QCOMPARE(login(*first, "admin", _adminPassword).text("Status"), QStringLiteral("1"));
        auto other = _server->negotiatedClient();
        QCOMPARE(login(*other, second, _adminPassword).text("Status"), QStringLiteral("1"));
        QTRY_VERIFY(!first->connected());
        QVERIFY(_server->waitForConnections(1));
        QCOMPARE(_server->connector()->loggedUsers(), QStringList{"admin"});
        QCOMPARE(_server->connector()->model()->item(0, 1)->text(), QStringLiteral("admin"));
    }

    void aRefusedReloginEndsTheSessionAtOnce()
    {
        const qint64 logouts = logRows(2);
        auto client = _server->negotiatedClient();
        QCOMPARE(login(*client, "admin", _adminPassword).text("Status"), QStringLiteral("1"));
        client->sendText("<ObjectStatus Active=\"1\" ObjectName=\"ComponentOrder\"/>");
        QTRY_COMPARE(_server->connector()->activeComponents().value(1), QStringList{"ComponentOrder"});
        QCOMPARE(login(*client, "admin", "nada").text("Status"), QStringLiteral("0"));
        QTRY_VERIFY(_server->connector()->loggedUsers().isEmpty());
        QVERIFY(!_server->connector()->activeComponents().contains(1));
        QCOMPARE(logRows(2), logouts + 1);
        // Nothing is broadcast to it any more, and logging in elsewhere closes nothing.
        _server->connector()->broadcastAction({{"9", "Obj", "<Todos/>", "m", "1"}}, QString());
        auto elsewhere = _server->negotiatedClient();
        QCOMPARE(login(*elsewhere, "admin", _adminPassword).text("Status"), QStringLiteral("1"));
        QTest::qWait(100);
        QVERIFY(client->connected());
        QCOMPARE(client->replies(), 3);
        QCOMPARE(_server->connector()->loggedUsers(), QStringList{"admin"});
    }

    void keysExpire_data()
    {
        QTest::addColumn<QString>("expiration");
        QTest::addColumn<QString>("message");
        const QString expired = "Password de usuario 'cmendez' vencido. Solicite uno nuevo al administrador de sistemas.";
        QTest::newRow("never") << "NULL" << "Autenticación exitosa";
        QTest::newRow("today") << "CURDATE()" << "Autenticación exitosa";
        QTest::newRow("yesterday") << "CURDATE() - INTERVAL 1 DAY" << expired;
        QTest::newRow("long ago") << "'2020-01-01'" << expired;
    }

    void keysExpire()
    {
        QFETCH(QString, expiration);
        QFETCH(QString, message);
        QVERIFY(run("UPDATE accUserIdentifier SET fldExpirationDate = " + expiration + " WHERE codUser = 3"));
        const Reply reply = loginOnce("cmendez", "carla");
        QVERIFY(run("UPDATE accUserIdentifier SET fldExpirationDate = NULL WHERE codUser = 3"));
        QCOMPARE(reply.text("Message"), message);
        // A wrong key says so, expired or not: the expiry is no hint to a guesser.
        QCOMPARE(loginOnce("cmendez", "otra").text("Message"), QStringLiteral("Password de usuario 'cmendez' incorrecto"));
    }

    void refusalsSetTheUserBackAndRegisterNobody_data()
    {
        QTest::addColumn<QString>("login");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("message");
        QTest::newRow("wrong password") << "admin" << "nada" << "Password de usuario 'admin' incorrecto";
        QTest::newRow("unknown") << "nadie" << "x" << "Usuario 'nadie' no encontrado";
        QTest::newRow("no password row") << "sinclave" << "" << "Password de usuario 'sinclave' incorrecto";
        QTest::newRow("quote") << "admin'" << "x" << "Usuario 'admin'' no encontrado";
        QTest::newRow("or true") << "x' OR '1'='1" << "x" << "Usuario 'x' OR '1'='1' no encontrado";
        const QString forged = "x' UNION SELECT 2, 'admin', 2, 'hack', NULL, '', NULL, 2, NULL, NULL, NULL, NULL, "
                               "NULL -- ";
        QTest::newRow("union forges a key") << forged << "hack" << "Usuario '" + forged + "' no encontrado";
    }

    void refusalsSetTheUserBackAndRegisterNobody()
    {
        QFETCH(QString, login);
        QFETCH(QString, password);
        QFETCH(QString, message);
        auto client = _server->negotiatedClient();
        const Reply reply = this->login(*client, login, password);
        QCOMPARE(reply.text("Status"), QStringLiteral("0"));
        QCOMPARE(reply.text("Message"), message);
        QTest::qWait(50);
        QVERIFY(client->connected());
        QCOMPARE(_server->connector()->model()->item(0, 1)->text(), QStringLiteral("?"));
        QVERIFY(_server->connector()->loggedUsers().isEmpty());
        QCOMPARE(KTTestServer::eventsOfType(_server->events(), 2).filter("denegada").size(), 1);
        QCOMPARE(_controller->customQuery("SELECT 1 FROM accUser WHERE pkyUser = 2").size(), 1);
    }

    void loginAndLogoutAreLogged()
    {
        const qint64 logins = logRows(1);
        const qint64 logouts = logRows(2);
        auto first = _server->negotiatedClient();
        QCOMPARE(login(*first, "admin", _adminPassword).text("Status"), QStringLiteral("1"));
        QTRY_COMPARE(_server->connector()->loggedUsers(), QStringList{"admin"});
        QCOMPARE(logRows(1), logins + 1);

        // The same user from a second place closes the first.
        auto second = _server->negotiatedClient();
        QCOMPARE(login(*second, "admin", _adminPassword).text("Status"), QStringLiteral("1"));
        QTRY_VERIFY(!first->connected());
        QVERIFY(_server->waitForConnections(1));
        QTRY_COMPARE(logRows(2), logouts + 1);
        QCOMPARE(_server->connector()->loggedUsers(), QStringList{"admin"});
        second.reset();
        QVERIFY(_server->waitForConnections(0));
        QCOMPARE(logRows(2), logouts + 2);
        QVERIFY(_server->connector()->loggedUsers().isEmpty());
    }

    // A client from a given loopback address, negotiated.
    std::unique_ptr<KTRawClient> clientFrom(const QString& address)
    {
        auto client = std::make_unique<KTRawClient>();
        if (!client->socket->bind(QHostAddress(address)) || !client->connectTo(_server->connector()->serverPort()))
            return nullptr;
        client->sendText(KTTestServer::negotiation());
        if (KTTestServer::element(client->nextReply(), "Status") != QLatin1String("1"))
            return nullptr;
        return client;
    }

    // Guessing one name from one address slows down, whatever the number of
    // parallel connections; the same name from elsewhere and other names
    // from the same address are not slowed at all.
    void guessingIsSlowedNotUsers()
    {
        auto guesser = clientFrom("127.0.0.1");
        for (int attempt = 0; attempt < 3; ++attempt)
            QCOMPARE(login(*guesser, "admin", "nada").text("Status"), QStringLiteral("0"));
        QCOMPARE(throttled(), 0);
        QElapsedTimer waited;
        waited.start();
        QCOMPARE(login(*guesser, "admin", "nada").text("Status"), QStringLiteral("0"));
        QVERIFY(waited.elapsed() >= 1000);
        QCOMPARE(throttled(), 1);

        // Two more guesses at once on parallel connections are answered one
        // after the other, each after a longer wait: 2 and 4 s.
        std::vector<std::unique_ptr<KTRawClient>> parallel;
        for (int i = 0; i < 2; ++i) {
            parallel.push_back(clientFrom("127.0.0.1"));
            parallel.back()->sendText(KTTestServer::login("admin", "nada"));
        }
        waited.restart();
        // Meanwhile the administrator logs in from its own address, and another
        // user from the guesser's address, without any wait.
        auto owner = clientFrom("127.0.0.2");
        QCOMPARE(login(*owner, "admin", _adminPassword).text("Status"), QStringLiteral("1"));
        auto colleague = clientFrom("127.0.0.1");
        QCOMPARE(login(*colleague, "cmendez", "carla").text("Status"), QStringLiteral("1"));
        QVERIFY(waited.elapsed() < 1000);
        QCOMPARE(throttled(), 2);
        for (auto& client : parallel)
            QCOMPARE(KTTestServer::element(client->nextReply(20000), "Status"), QStringLiteral("0"));
        QVERIFY(waited.elapsed() >= 2000 + 4000);
        QCOMPARE(throttled(), 3);
        QVERIFY(eventTexts(_server->events()).filter("demorada").last().contains("tras 5 intentos fallidos"));
    }

    // A lookup that the database cannot answer in time says nothing of the
    // key: it is answered as such, and counts as no failed attempt.
    void aDatabaseThatDoesNotAnswerIsNoFailedLogin()
    {
        _server->connector()->setStatementLimits(10, 1);
        QVERIFY(_controller->customQuery("LOCK TABLES accUser WRITE").isActive());
        for (int attempt = 0; attempt < 4; ++attempt) {
            const Reply reply = loginOnce("admin", _adminPassword);
            QCOMPARE(reply.text("Status"), QStringLiteral("0"));
            QVERIFY2(reply.text("Message").contains("la base de datos no respondió"), qPrintable(reply.text("Message")));
        }
        QVERIFY(_controller->customQuery("UNLOCK TABLES").isActive());
        QElapsedTimer waited;
        waited.start();
        QCOMPARE(loginOnce("admin", _adminPassword).text("Status"), QStringLiteral("1"));
        QVERIFY(waited.elapsed() < 1000);
        QCOMPARE(throttled(), 0);
    }

    // Past the failures an office does not reach, an address is slowed as a
    // whole, and its guesses at many names are answered one at a time.
    void aSlowedAddressGuessesOneNameAtATime()
    {
        for (int name = 0; name < KTLoginThrottle::freeAddressFailures; ++name)
            QCOMPARE(login(*clientFrom("127.0.0.30"), QStringLiteral("nadie%1").arg(name), "nada").text("Status"),
                     QStringLiteral("0"));
        QCOMPARE(throttled(), 0);
        std::vector<std::unique_ptr<KTRawClient>> parallel;
        QElapsedTimer waited;
        waited.start();
        for (int name = 0; name < 3; ++name) {
            parallel.push_back(clientFrom("127.0.0.30"));
            parallel.back()->sendText(KTTestServer::login(QStringLiteral("otro%1").arg(name), "nada"));
        }
        for (auto& client : parallel)
            QCOMPARE(KTTestServer::element(client->nextReply(20000), "Status"), QStringLiteral("0"));
        // 1, 2 and 4 s one after the other, not 1 s for all at once.
        QVERIFY(waited.elapsed() >= 1000 + 2000 + 4000);
        QCOMPARE(throttled(), 3);
    }

    // A name that fails from many addresses is reported once, and its owner
    // still logs in without a wait.
    void aSprayIsReportedNotLockedOut()
    {
        for (int address = 3; address < 3 + KTLoginThrottle::sprayAddresses; ++address)
            QCOMPARE(login(*clientFrom(QStringLiteral("127.0.0.%1").arg(address)), "cmendez", "nada").text("Status"),
                     QStringLiteral("0"));
        QCOMPARE(login(*clientFrom("127.0.0.20"), "cmendez", "nada").text("Status"), QStringLiteral("0"));
        QCOMPARE(eventTexts(_server->events()).filter("acumula intentos fallidos").size(), 1);
        QElapsedTimer waited;
        waited.start();
        QCOMPARE(login(*clientFrom("127.0.0.21"), "cmendez", "carla").text("Status"), QStringLiteral("1"));
        QVERIFY(waited.elapsed() < 1000);
        QCOMPARE(throttled(), 0);
    }

    // An office behind one address: every user logs in at the same moment,
    // and a few typing mistakes on the way slow nobody down.
    void anOfficeBehindOneAddressLogsInAtOnce()
    {
        constexpr int users = 32;
        QStringList groups;
        QStringList rows;
        QStringList keys;
        for (int user = 0; user < users; ++user) {
            groups << QStringLiteral("(%1, 'oficina%2')").arg(100 + user).arg(user);
            rows << QStringLiteral("(%1, 'oficina%2', 'Oficina %2', 3, 3, 1)").arg(100 + user).arg(user);
            keys << QStringLiteral("(%1, %1, 1, 'k%1')").arg(100 + user);
        }
        QVERIFY(run("INSERT INTO accGroup (pkyGroup, fldName) VALUES " + groups.join(',')));
        QVERIFY(run("INSERT INTO accUser (pkyUser, fldLogin, fldName, codType, blbIcon, sysEnabled) VALUES "
                    + rows.join(',')));
        QVERIFY(run("INSERT INTO accUserIdentifier (pkyUserIdentifier, codUser, codType, fldKey) VALUES "
                    + keys.join(',')));
        for (int typo = 0; typo < 3; ++typo)
            QCOMPARE(login(*clientFrom("127.0.0.1"), QStringLiteral("oficina%1").arg(typo), "mal").text("Status"),
                     QStringLiteral("0"));
        std::vector<std::unique_ptr<KTRawClient>> office;
        for (int user = 0; user < users; ++user)
            office.push_back(clientFrom("127.0.0.1"));
        QElapsedTimer waited;
        waited.start();
        for (int user = 0; user < users; ++user)
            office[size_t(user)]->sendText(KTTestServer::login(QStringLiteral("oficina%1").arg(user),
                                                               QStringLiteral("k%1").arg(100 + user)));
        for (auto& client : office) {
            const QString reply = client->nextReply();
            QVERIFY2(KTTestServer::element(reply, "Status") == QLatin1String("1"), qPrintable(reply));
        }
        qInfo("%d logins from one address in %lld ms", users, waited.elapsed());
        QCOMPARE(throttled(), 0);
        QCOMPARE(_server->connector()->loggedUsers().size(), users);
        QVERIFY(run("DELETE FROM accUserIdentifier WHERE codUser >= 100"));
        QVERIFY(run("DELETE FROM accUser WHERE pkyUser >= 100"));
        QVERIFY(run("DELETE FROM accGroup WHERE pkyGroup >= 100"));
    }

    // Last, as it hashes every key of the database.
    void hashedKeysBesidePlainOnes()
    {
        QVERIFY(run("UPDATE accUserIdentifier SET fldKey = 'clave-plana' WHERE codUser = 20"));
        QProcess tool;
        const QStringList connection{"--host", qEnvironmentVariable("OMBRIX_TEST_DB_HOST"), "--port",
                                     qEnvironmentVariable("OMBRIX_TEST_DB_PORT"), "--password",
                                     qEnvironmentVariable("OMBRIX_TEST_DB_PASSWORD"), "--database", dbName,
                                     "--rounds", "1000"};
        tool.start(OMBRIX_HASH_KEYS, connection);
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitCode(), 0);
        QVERIFY(tool.readAllStandardOutput().startsWith("3 "));
        QSqlQuery keys = _controller->customQuery("SELECT fldKey FROM accUserIdentifier");
        QStringList stored;
        while (keys.next())
            stored << keys.value(0).toString();
        QCOMPARE(stored.filter(QRegularExpression("^pbkdf2-sha256\\$1000\\$[A-Za-z0-9+/]{22}\\$[A-Za-z0-9+/]{43}$")).size(), 3);
        // A second run finds nothing left to hash.
        tool.start(OMBRIX_HASH_KEYS, connection);
        QVERIFY(tool.waitForFinished(60000));
        QVERIFY(tool.readAllStandardOutput().startsWith("0 "));

        QCOMPARE(loginOnce("admin", _adminPassword).text("Status"), QStringLiteral("1"));
        QCOMPARE(loginOnce("nuevo", "clave-plana").text("Status"), QStringLiteral("1"));
        QCOMPARE(loginOnce("nuevo", "clave-plana ").text("Status"), QStringLiteral("0"));
        // A damaged hash lets nobody in, not even with the hash itself.
        const QString hash = KTTestServer::password(_controller, 20);
        QVERIFY(run("UPDATE accUserIdentifier SET fldKey = '" + hash.chopped(2) + "' WHERE codUser = 20"));
        QCOMPARE(loginOnce("nuevo", "clave-plana").text("Status"), QStringLiteral("0"));
        QCOMPARE(loginOnce("nuevo", hash.chopped(2)).text("Status"), QStringLiteral("0"));
        // Plain keys keep working beside hashed ones.
        QVERIFY(run("UPDATE accUserIdentifier SET fldKey = 'clave-plana' WHERE codUser = 20"));
        QCOMPARE(loginOnce("nuevo", "clave-plana").text("Status"), QStringLiteral("1"));
        // So does a hashed server password given by the deployment.
        qputenv("OMBRIX_SERVER_PASSWORD", KTKeyHash::hash("del-despliegue", 1000).toUtf8());
        QCOMPARE(loginOnce("soporte", "del-despliegue").text("UserType"), QStringLiteral("1"));
        QCOMPARE(loginOnce("soporte", "qvm482tel59").text("Status"), QStringLiteral("0"));
        qunsetenv("OMBRIX_SERVER_PASSWORD");
    }
};

QTEST_GUILESS_MAIN(tst_PasswordAuthcom)
#include "tst_passwordauthcom.moc"
