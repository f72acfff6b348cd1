#include "KTSessionFixture.h"
#include "KTTestEvents.h"

#include <KT.h>
#include <KTConnectionLimits.h>
#include <KTDatabaseController.h>
#include <KTServerConnector.h>
#include <KTVersion.h>

#include <QDomDocument>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <QtTest>

namespace {

using Action = KTProtocolClient::Action;

const QString dbName = QStringLiteral("ombrix_test_actions");
const QString categoryFields = QStringLiteral("pkyProductCategory,fldName,fldDescription,sysEnabled,sysEditable,"
                                              "sysAuthorized,sysVisible,sysContext,sysAuthorizationGroup");

Action action(const QString& component, const KTProtocolClient::Parameters& params = {},
              const QString& objectType = QString(), const QString& objectName = QString())
{
    Action result;
    result.component = component;
    result.parameters = params;
    result.objectType = objectType;
    result.objectName = objectName;
    return result;
}

Action insertCategory(const QString& name)
{
    return action("DbInsertSercom",
                  {{"Table", "invProductCategory"}, {"Fields", categoryFields},
                   {"Values", QStringLiteral("NULL|'%1'|'prueba'|1|2|1|2|0|1").arg(name)}, {"LineNumbers", "1"}},
                  QString(), "ComponentProductCategory");
}

Action echo(const KTProtocolClient::Parameters& params = {})
{
    return action("EchoSercom", params, "Component", "ComponentEcho");
}

// Runs far longer than any limit a test sets.
const QString longStatement = QStringLiteral("SELECT SUM(a.seq * b.seq) FROM seq_1_to_1000000 a, seq_1_to_1000000 b");

Action readEcho(const QString& sql)
{
    return action("ReadEchoSercom", {{"Sql", sql}}, "Component", "ComponentRead");
}

QString sessionStatus(const char* name)
{
    return QStringLiteral("SELECT VARIABLE_VALUE FROM information_schema.SESSION_STATUS WHERE VARIABLE_NAME = '%1'")
        .arg(QLatin1String(name));
}

Action failingEcho()
{
    return echo({{"Fail", "1"}});
}

// The values an echo reply lists for key, in the order the component saw them.
QStringList echoed(const QString& reply, const QString& key)
{
    QDomDocument document;
    document.setContent(reply);
    QStringList values;
    for (QDomElement param = document.documentElement().firstChildElement(); !param.isNull();
         param = param.nextSiblingElement())
        if (param.attribute("Key") == key)
            values << param.text();
    return values;
}

} // namespace

// Action and lock requests through the wire: one transaction per request,
// replies only after the commit, statistics and schedules only for
// committed work.
class tst_ActionRequest : public QObject
{
    Q_OBJECT

    KTSessionFixture _fixture;

    int count(const QString& sql) { return _fixture.count(sql); }

    // The clients' long statements running on the test database now. Only
    // those: the server's own short statements (logins, kills, pings) come
    // and go and would make the count flicker.
    int runningStatements()
    {
        return count(QStringLiteral("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE DB = '%1' "
                                    "AND COMMAND = 'Query' AND INFO = '%2'").arg(dbName, longStatement));
    }

    int categories(const QString& name)
    {
        return count(QStringLiteral("SELECT COUNT(*) FROM invProductCategory WHERE fldName = '%1'").arg(name));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(_fixture.start(dbName, "PasswordAuthcom,DbInsertSercom,DbSelectSercom,EchoSercom,ReadEchoSercom",
                               {ECHO_SERCOM_PLUGIN, READ_ECHO_SERCOM_PLUGIN}));
    }

    void init() { _fixture.drain(); }

    void failingActionRollsBackTheEarlierOnes()
    {
        const QString reply = _fixture.admin().request(
            KTProtocolClient::actionRequest({insertCategory("Deshecha"), failingEcho()}));
        QCOMPARE(KTProtocolClient::rootTag(reply), QStringLiteral("Echo"));
        QVERIFY(_fixture.admin().replies().isEmpty());
        QVERIFY(_fixture.carla().replies().isEmpty());
        QCOMPARE(categories("Deshecha"), 0);

        // The connection goes on: the same insert alone commits and reaches both users.
        const QString committed = _fixture.admin().request(KTProtocolClient::actionRequest({insertCategory("Guardada")}));
        QCOMPARE(KTProtocolClient::element(committed, "Status"), QStringLiteral("1"));
        QCOMPARE(_fixture.carla().replies().size(), 1);
        QCOMPARE(categories("Guardada"), 1);
    }

    void emptyRequestSendsNothing()
    {
        QVERIFY(_fixture.admin().send("<ActionRequest/>"));
        QVERIFY(_fixture.admin().replies().isEmpty());
        QVERIFY(_fixture.carla().replies().isEmpty());
    }

    void broadcastUsersLimitsTheRecipients()
    {
        // Written after the actions, it still holds for the whole request.
        const QString reply = _fixture.admin().request(
            KTProtocolClient::actionRequest({insertCategory("Solo admin")}, {"admin"}));
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("1"));
        QVERIFY(_fixture.carla().replies().isEmpty());

        QVERIFY(_fixture.admin().send(KTProtocolClient::actionRequest({insertCategory("Para Carla")}, {"cmendez"})));
        const QStringList carla = _fixture.carla().replies();
        QCOMPARE(carla.size(), 1);
        QCOMPARE(KTProtocolClient::element(carla.first(), "Table"), QStringLiteral("invProductCategory"));
        // The requester gets its own reply all the same.
        QCOMPARE(_fixture.admin().replies().size(), 1);
    }

    void parametersCarryIdentityAndEveryValue()
    {
        const QString reply = _fixture.admin().request(
            "<ActionRequest><EchoSercom ObjectType=\"Component\" ObjectName=\"ComponentOrder\">"
            "<Line>uno</Line><Line>dos</Line></EchoSercom><EchoSercom/></ActionRequest>");
        QCOMPARE(echoed(reply, "_FirstTransaction"), QStringList{"1"});
        QCOMPARE(echoed(reply, "_UserLogin"), QStringList{"admin"});
        QCOMPARE(echoed(reply, "_UserType"), QStringList{"2"});
        QCOMPARE(echoed(reply, "_ObjectName"), QStringList{"ComponentOrder"});
        QCOMPARE(echoed(reply, "_ObjectNameEmbedded"), QStringList{""});
        QCOMPARE(echoed(reply, "Line"), QStringList({"dos", "uno"}));
        const QStringList rest = _fixture.admin().replies();
        QCOMPARE(rest.size(), 1);
        QCOMPARE(echoed(rest.first(), "_FirstTransaction"), QStringList{"0"});

        // Positions count every child: after a leading BroadcastUsers no action is the first.
        const QString later = _fixture.admin().request(
            "<ActionRequest><BroadcastUsers Logins=\"admin\"/><EchoSercom/></ActionRequest>");
        QCOMPARE(echoed(later, "_FirstTransaction"), QStringList{"0"});
    }

    void scheduleIsHandedOnOnlyAfterACommit()
    {
        QSignalSpy schedules(_fixture.server().connector(), &KTServerConnector::scheduleRequested);
        const Action schedule = action("Schedule", {{"Message", "Inventario mensual"}, {"Users", "cmendez"}});
        _fixture.admin().request(KTProtocolClient::actionRequest({schedule, failingEcho()}));
        QTest::qWait(200);
        QCOMPARE(schedules.size(), 0);

        _fixture.admin().request(KTProtocolClient::actionRequest({schedule, echo()}));
        QTRY_COMPARE(schedules.size(), 1);
        const QMap<QString, QVariant> task = schedules.first().first().value<QVariant>().toMap();
        QCOMPARE(task.value("Message").toString(), QStringLiteral("Inventario mensual"));
        QCOMPARE(task.value("Users").toString(), QStringLiteral("cmendez"));
        QVERIFY(!task.contains("_UserLogin"));
    }

    void statisticsMoveOncePerTableAfterTheCommit()
    {
        QSignalSpy deltas(_fixture.server().connector(), &KTServerConnector::updateTableRecordDataModelRequested);
        const QString inserts = "SELECT fldInserts FROM dbaTableRecordData WHERE fldTableName = 'invProductCategory'";
        const int before = count(inserts);
        const quint64 totalBefore = _fixture.window().tableMainStats("invProductCategory").value(0);

        _fixture.admin().request(KTProtocolClient::actionRequest({insertCategory("Uno"), insertCategory("Dos"), failingEcho()}));
        QTest::qWait(200);
        QCOMPARE(deltas.size(), 0);

        _fixture.admin().request(KTProtocolClient::actionRequest({insertCategory("Tres"), insertCategory("Cuatro")}));
        QTRY_COMPARE(deltas.size(), 1);
        QCOMPARE(deltas.first().at(0).toString(), QStringLiteral("invProductCategory"));
        const QList<int> modifiers = deltas.first().at(1).value<QList<int> >();
        QCOMPARE(modifiers, QList<int>({2, 0, 2, 0, 2, 0, 0, 2, 0, 0, 2, 2, 0, 0}));
        QTRY_COMPARE(count(inserts), before + 2);
        QCOMPARE(_fixture.window().tableMainStats("invProductCategory").value(0), totalBefore + 2);
    }

    void unknownActionIsAnsweredAndReported()
    {
        const QString reply = _fixture.admin().request(KTProtocolClient::actionRequest(
            {echo(), action("DbRenameSercom", {}, "Component", "ComponentProduct")}));
        QCOMPARE(KTProtocolClient::rootTag(reply), QStringLiteral("ActionRequest"));
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("0"));
        QCOMPARE(KTProtocolClient::element(reply, "Message"),
                 QStringLiteral("No se encontró la acción DbRenameSercom en el servidor"));
        QVERIFY(_fixture.admin().replies().isEmpty());
        QTRY_VERIFY(KTTestServer::eventsOfType(_fixture.server().events(), KT::WarningMessage)
                        .filter("solicitó acción 'DbRenameSercom' no existente").size() == 1);
    }

    void lockRequestRunsItsActionsAndRestoresAutocommit()
    {
        // The read-back names the table T0: both names are locked.
        const QString reply = _fixture.admin().request(KTProtocolClient::lockRequest(
            {"invProductCategory", "invProductCategory"}, {"", "T0"}, {"WRITE", "READ"},
            {insertCategory("Bajo llave")}));
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("1"));
        QCOMPARE(categories("Bajo llave"), 1);
        const QString autocommit = _fixture.admin().request(KTProtocolClient::actionRequest(
            {action("DbSelectSercom", {{"From", ""}, {"Fields", "@@autocommit"}})}));
        QCOMPARE(KTProtocolClient::element(autocommit, "Row"), QStringLiteral("1"));

        const QString refused = _fixture.admin().request(KTProtocolClient::lockRequest(
            {"tablaInexistente"}, {""}, {"WRITE"}, {insertCategory("Sin llave")}));
        QCOMPARE(KTProtocolClient::element(refused, "Status"), QStringLiteral("0"));
        QCOMPARE(categories("Sin llave"), 0);
    }

    // A request of components that only read costs no BEGIN and COMMIT when
    // it is one action, shares one read-only transaction otherwise, and
    // cannot write either way; a request that writes afterwards still can.
    void readOnlyRequestsNeedNoTransactionAndCannotWrite()
    {
        auto value = [this](const QList<Action>& actions) {
            return KTProtocolClient::element(_fixture.admin().request(KTProtocolClient::actionRequest(actions)), "Value");
        };
        value({readEcho("SELECT 1")});
        const int begins = value({readEcho(sessionStatus("COM_BEGIN"))}).toInt();
        const int commits = value({readEcho(sessionStatus("COM_COMMIT"))}).toInt();
        QCOMPARE(value({readEcho("SELECT @@in_transaction")}), QStringLiteral("0"));
        QCOMPARE(value({readEcho(sessionStatus("COM_BEGIN"))}).toInt(), begins);
        QCOMPARE(value({readEcho(sessionStatus("COM_COMMIT"))}).toInt(), commits);

        const QString insert = "INSERT INTO invProductCategory (fldName, fldDescription) VALUES ('Leida', 'x')";
        QString reply = _fixture.admin().request(KTProtocolClient::actionRequest({readEcho(insert)}));
        QCOMPARE(KTProtocolClient::element(reply, "Value"), QString());
        QCOMPARE(categories("Leida"), 0);

        // Two readers: one transaction, and the second's write is refused within it.
        QVERIFY(_fixture.admin().send(KTProtocolClient::actionRequest(
            {readEcho("SELECT @@in_transaction"), readEcho(insert)})));
        const QStringList replies = _fixture.admin().replies();
        QCOMPARE(replies.size(), 1);
        QCOMPARE(KTProtocolClient::rootTag(replies.first()), QStringLiteral("ReadEcho"));
        QCOMPARE(categories("Leida"), 0);
        QVERIFY(_fixture.admin().send(KTProtocolClient::actionRequest(
            {readEcho("SELECT @@in_transaction"), readEcho("SELECT @@tx_read_only")})));
        const QStringList values = _fixture.admin().replies();
        QCOMPARE(values.size(), 2);
        QCOMPARE(KTProtocolClient::element(values.at(0), "Value"), QStringLiteral("1"));
        QCOMPARE(KTProtocolClient::element(values.at(1), "Value"), QStringLiteral("1"));

        // A writer beside a reader, and a lock request after reads, write as before.
        QVERIFY(_fixture.admin().send(KTProtocolClient::actionRequest({readEcho("SELECT 1"), insertCategory("Escrita")})));
        QCOMPARE(_fixture.admin().replies().size(), 2);
        QCOMPARE(categories("Escrita"), 1);
        value({readEcho("SELECT 1")});
        reply = _fixture.admin().request(KTProtocolClient::lockRequest({"invProductCategory"}, {""}, {"WRITE"},
                                                                       {insertCategory("Bloqueada")}));
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("1"));
        QCOMPARE(categories("Bloqueada"), 1);

        // A login again on the connection after reads writes its login record.
        value({readEcho("SELECT 1")});
        const QString logins = "SELECT COUNT(*) FROM dbaUserLog WHERE codUser = 2 AND codComponentAction = 1";
        const int before = count(logins);
        reply = _fixture.admin().request(KTTestServer::login("admin", KTTestServer::password(_fixture.controller(), 2)));
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("1"));
        QCOMPARE(count(logins), before + 1);
    }

    // A statement of a client is bounded in time and in its wait for a lock,
    // and ended as soon as nobody waits for it: its client left, or its user
    // logged in elsewhere.
    void clientStatementsAreBoundedAndEnded()
    {
        QSignalSpy events(_fixture.server().connector(), &KTServerConnector::eventMessage);
        const quint16 port = _fixture.server().connector()->serverPort();
        QVERIFY(_fixture.controller()->customQuery("UPDATE accUser SET sysEnabled = 1 WHERE pkyUser = 1").isActive());
        _fixture.server().connector()->setStatementLimits(2, 1);
        auto support = std::make_unique<KTClientSession>();
        QVERIFY(support->logIn(port, "soporte", KTVersion::ombrixServerPassword()));
        QElapsedTimer timer;
        timer.start();
        QString reply = support->request(KTProtocolClient::actionRequest(
            {insertCategory("Lenta"), echo({{"Sql", longStatement}})}));
        QVERIFY(KTProtocolClient::element(reply, "Message").contains("superó el tiempo máximo de 2 s"));
        QVERIFY(timer.elapsed() < 5000);
        QCOMPARE(categories("Lenta"), 0);

        // A row another session holds: the wait ends after a second, and so does the request.
        QVERIFY(_fixture.controller()->beginTransaction());
        QVERIFY(_fixture.controller()->customQuery("SELECT * FROM invProductCategory WHERE pkyProductCategory = 1 FOR UPDATE")
                    .isActive());
        reply = support->request(KTProtocolClient::actionRequest(
            {echo({{"Sql", "UPDATE invProductCategory SET fldName = fldName WHERE pkyProductCategory = 1"}})}));
        QVERIFY(_fixture.controller()->rollback());
        QVERIFY2(KTProtocolClient::element(reply, "Message").contains("esperó más de 1 s"), qPrintable(reply));
        QTRY_COMPARE(eventTexts(events).filter("cancelada en la BD").size(), 2);

        // Without a limit that cuts it first, a client that leaves has its statement ended.
        _fixture.server().connector()->setStatementLimits(600, 600);
        QVERIFY(support->logIn(port, "soporte", KTVersion::ombrixServerPassword()));
        QVERIFY(support->send(KTProtocolClient::actionRequest({echo({{"Sql", longStatement}})})));
        QTRY_COMPARE(runningStatements(), 1);
        support.reset();
        // The connection's own report that its statement was cut: the
        // process list alone can miss a running statement for a moment.
        QTRY_COMPARE_WITH_TIMEOUT(eventTexts(events).filter("cancelada en la BD").size(), 3, 10000);
        QCOMPARE(runningStatements(), 0);
        QTRY_COMPARE(eventTexts(events).filter("el cliente cerró la conexión").size(), 1);
        QTRY_VERIFY(!_fixture.server().connector()->loggedUsers().contains("soporte"));

        // A user who logs in elsewhere ends what its first place was running.
        KTClientSession first;
        QVERIFY(first.logIn(port, "soporte", KTVersion::ombrixServerPassword()));
        QVERIFY(first.send(KTProtocolClient::actionRequest({echo({{"Sql", longStatement}})})));
        QTRY_COMPARE(runningStatements(), 1);
        KTClientSession second;
        QVERIFY(second.logIn(port, "soporte", KTVersion::ombrixServerPassword()));
        QTRY_COMPARE_WITH_TIMEOUT(eventTexts(events).filter("cancelada en la BD").size(), 4, 10000);
        QCOMPARE(runningStatements(), 0);
        QTRY_COMPARE(eventTexts(events).filter("se conectó desde otra ubicación").size(), 1);

        // A whole request is bounded too, however many statements it runs.
        _fixture.server().connector()->setRequestTimeLimit(1);
        timer.restart();
        reply = second.request(KTProtocolClient::actionRequest({insertCategory("Eterna"), echo({{"Sql", longStatement}})}));
        QVERIFY2(KTProtocolClient::element(reply, "Message").contains("cancelada por el servidor"), qPrintable(reply));
        QVERIFY(timer.elapsed() < 5000);
        QCOMPARE(categories("Eterna"), 0);
        QTRY_COMPARE(eventTexts(events).filter("la solicitud superó el tiempo máximo de 1 s").size(), 1);
        _fixture.server().connector()->setRequestTimeLimit(KTConnectionLimits::defaultRequestSeconds);
        _fixture.server().connector()->setStatementLimits(KTConnectionLimits::defaultStatementSeconds,
                                                          KTConnectionLimits::defaultLockWaitSeconds);
        _fixture.controller()->customQuery("UPDATE accUser SET sysEnabled = 0 WHERE pkyUser = 1");
    }

    // Last: it cuts the connections' database sessions.
    void lostTransactionIsAnswered()
    {
        QSqlQuery sessions = _fixture.controller()->customQuery(
            QStringLiteral("SELECT ID FROM information_schema.PROCESSLIST WHERE DB = '%1' AND ID <> CONNECTION_ID()")
                .arg(dbName));
        QStringList ids;
        while (sessions.next())
            ids << sessions.value(0).toString();
        QVERIFY(!ids.isEmpty());
        for (const QString& id : ids)
            _fixture.controller()->customQuery("KILL " + id);

        const QString reply = _fixture.admin().request(KTProtocolClient::actionRequest({insertCategory("Perdida")}));
        QCOMPARE(KTProtocolClient::rootTag(reply), QStringLiteral("ActionRequest"));
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("0"));
        QVERIFY(KTProtocolClient::element(reply, "Message").contains("transacción"));
        QTRY_VERIFY(!KTTestServer::eventsOfType(_fixture.server().events(), KT::BugMessage)
                         .filter("error al iniciar una transacción").isEmpty());
    }

    // The client leaves while the server is between the two actions of its request.
    void aClientGoneBeforeTheCommitLeavesNothing()
    {
        QSignalSpy events(_fixture.server().connector(), &KTServerConnector::eventMessage);
        // A third user, so that the fixture's two keep their connections: the support user, shipped disabled.
        QVERIFY(_fixture.controller()->customQuery("UPDATE accUser SET sysEnabled = 1 WHERE pkyUser = 1").isActive());
        {
            KTClientSession leaving;
            QVERIFY(leaving.logIn(_fixture.server().connector()->serverPort(), "soporte",
                                  KTVersion::ombrixServerPassword()));
            QVERIFY(leaving.send(KTProtocolClient::actionRequest({insertCategory("Abandonada"), echo({{"DelayMs", "400"}})})));
        }
        QTRY_VERIFY_WITH_TIMEOUT(!_fixture.server().connector()->loggedUsers().contains("soporte"), 10000);
        QCOMPARE(count("SELECT COUNT(*) FROM invProductCategory WHERE fldName = 'Abandonada'"), 0);
        _fixture.controller()->customQuery("UPDATE accUser SET sysEnabled = 0 WHERE pkyUser = 1");
        // Either the server finds the client gone before the commit, or its
        // watch does first and ends the statement running then.
        QTRY_VERIFY(eventTexts(events).filter("se cerró durante su solicitud").size()
                        + eventTexts(events).filter("el cliente cerró la conexión").size() >= 1);
        // The others go on as before.
        QVERIFY(_fixture.carla().replies().isEmpty());
        const QString reply = _fixture.admin().request(KTProtocolClient::actionRequest({echo({{"Nota", "sigue"}})}));
        QCOMPARE(echoed(reply, "Nota"), QStringList({"sigue"}));
    }

    // Stopping the server ends the statement a client is running, rather
    // than waiting for it. Last: the server is gone afterwards.
    void stoppingEndsRunningStatements()
    {
        _fixture.server().connector()->setStatementLimits(600, 600);
        QVERIFY(_fixture.admin().logIn(_fixture.server().connector()->serverPort(), "admin",
                                       KTTestServer::password(_fixture.controller(), 2)));
        QVERIFY(_fixture.admin().send(KTProtocolClient::actionRequest({echo({{"Sql", longStatement}})})));
        QTRY_COMPARE(runningStatements(), 1);
        QElapsedTimer timer;
        timer.start();
        _fixture.server().connector()->shutDown();
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        QTRY_COMPARE_WITH_TIMEOUT(runningStatements(), 0, 2000);
    }
};

QTEST_MAIN(tst_ActionRequest)
#include "tst_actionrequest.moc"
