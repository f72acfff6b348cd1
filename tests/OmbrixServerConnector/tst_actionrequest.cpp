#include "KTClientSession.h"
#include "KTStatisticsWindow.h"
#include "KTTestServer.h"

#include <KT.h>
#include <KTDatabaseController.h>
#include <KTServerConnector.h>

#include <QDomDocument>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

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

    std::unique_ptr<KTStatisticsWindow> _window;
    KTDatabaseController* _controller = nullptr;
    QTemporaryDir _app;
    std::unique_ptr<KTTestServer> _server;
    std::unique_ptr<KTClientSession> _admin;
    std::unique_ptr<KTClientSession> _carla;

    int count(const QString& sql)
    {
        QSqlQuery query = _controller->customQuery(sql);
        return query.next() ? query.value(0).toInt() : -1;
    }

    int categories(const QString& name)
    {
        return count(QStringLiteral("SELECT COUNT(*) FROM invProductCategory WHERE fldName = '%1'").arg(name));
    }

    void drain()
    {
        _admin->replies(50);
        _carla->replies(50);
    }

private Q_SLOTS:
    void initTestCase()
    {
        _window = std::make_unique<KTStatisticsWindow>();
        _controller = new KTDatabaseController(this);
        QVERIFY(KTTestServer::prepareDatabase(_controller, dbName));
        _controller->fillSystemTables();
        _controller->loadTableRecordData();
        // The demo installation ships cmendez disabled; these tests need a second, type-3 user.
        QVERIFY(_controller->customQuery("UPDATE accUser SET sysEnabled = 1 WHERE pkyUser = 3").isActive());
        QVERIFY(KTTestServer::stageComponents(_app.path(), {ECHO_SERCOM_PLUGIN}));
        _server = std::make_unique<KTTestServer>(_controller, dbName,
                                                 "PasswordAuthcom,DbInsertSercom,DbSelectSercom,EchoSercom");
        _server->connector()->setApplicationDirectory(_app.path());
        connect(_server->connector(), &KTServerConnector::updateTableRecordDataModelRequested, _controller,
                &KTDatabaseController::updateTableRecordDataModel);
        const quint16 port = _server->connector()->serverPort();
        _admin = std::make_unique<KTClientSession>();
        _carla = std::make_unique<KTClientSession>();
        QVERIFY(_admin->logIn(port, "admin", KTTestServer::password(_controller, 2)));
        QVERIFY(_carla->logIn(port, "cmendez", KTTestServer::password(_controller, 3)));
        QTRY_COMPARE(_server->connector()->loggedUsers().size(), 2);
    }

    void cleanupTestCase()
    {
        _admin.reset();
        _carla.reset();
        _server.reset();
    }

    void init() { drain(); }

    void failingActionRollsBackTheEarlierOnes()
    {
        const QString reply = _admin->request(
            KTProtocolClient::actionRequest({insertCategory("Deshecha"), failingEcho()}));
        QCOMPARE(KTProtocolClient::rootTag(reply), QStringLiteral("Echo"));
        QVERIFY(_admin->replies().isEmpty());
        QVERIFY(_carla->replies().isEmpty());
        QCOMPARE(categories("Deshecha"), 0);

        // The connection goes on: the same insert alone commits and reaches both users.
        const QString committed = _admin->request(KTProtocolClient::actionRequest({insertCategory("Guardada")}));
        QCOMPARE(KTProtocolClient::element(committed, "Status"), QStringLiteral("1"));
        QCOMPARE(_carla->replies().size(), 1);
        QCOMPARE(categories("Guardada"), 1);
    }

    void emptyRequestSendsNothing()
    {
        QVERIFY(_admin->send("<ActionRequest/>"));
        QVERIFY(_admin->replies().isEmpty());
        QVERIFY(_carla->replies().isEmpty());
    }

    void broadcastUsersLimitsTheRecipients()
    {
        // Written after the actions, it still holds for the whole request.
        const QString reply = _admin->request(
            KTProtocolClient::actionRequest({insertCategory("Solo admin")}, {"admin"}));
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("1"));
        QVERIFY(_carla->replies().isEmpty());

        QVERIFY(_admin->send(KTProtocolClient::actionRequest({insertCategory("Para Carla")}, {"cmendez"})));
        const QStringList carla = _carla->replies();
        QCOMPARE(carla.size(), 1);
        QCOMPARE(KTProtocolClient::element(carla.first(), "Table"), QStringLiteral("invProductCategory"));
        QVERIFY(_admin->replies().isEmpty());
    }

    void parametersCarryIdentityAndEveryValue()
    {
        const QString reply = _admin->request(
            "<ActionRequest><EchoSercom ObjectType=\"Component\" ObjectName=\"ComponentOrder\">"
            "<Line>uno</Line><Line>dos</Line></EchoSercom><EchoSercom/></ActionRequest>");
        QCOMPARE(echoed(reply, "_FirstTransaction"), QStringList{"1"});
        QCOMPARE(echoed(reply, "_UserLogin"), QStringList{"admin"});
        QCOMPARE(echoed(reply, "_UserType"), QStringList{"2"});
        QCOMPARE(echoed(reply, "_ObjectName"), QStringList{"ComponentOrder"});
        QCOMPARE(echoed(reply, "_ObjectNameEmbedded"), QStringList{""});
        QCOMPARE(echoed(reply, "Line"), QStringList({"dos", "uno"}));
        const QStringList rest = _admin->replies();
        QCOMPARE(rest.size(), 1);
        QCOMPARE(echoed(rest.first(), "_FirstTransaction"), QStringList{"0"});

        // Positions count every child: after a leading BroadcastUsers no action is the first.
        const QString later = _admin->request(
            "<ActionRequest><BroadcastUsers Logins=\"admin\"/><EchoSercom/></ActionRequest>");
        QCOMPARE(echoed(later, "_FirstTransaction"), QStringList{"0"});
    }

    void scheduleIsHandedOnOnlyAfterACommit()
    {
        QSignalSpy schedules(_server->connector(), &KTServerConnector::scheduleRequested);
        const Action schedule = action("Schedule", {{"Message", "Inventario mensual"}, {"Users", "cmendez"}});
        _admin->request(KTProtocolClient::actionRequest({schedule, failingEcho()}));
        QTest::qWait(200);
        QCOMPARE(schedules.size(), 0);

        _admin->request(KTProtocolClient::actionRequest({schedule, echo()}));
        QTRY_COMPARE(schedules.size(), 1);
        const QMap<QString, QVariant> task = schedules.first().first().value<QVariant>().toMap();
        QCOMPARE(task.value("Message").toString(), QStringLiteral("Inventario mensual"));
        QCOMPARE(task.value("Users").toString(), QStringLiteral("cmendez"));
        QVERIFY(!task.contains("_UserLogin"));
    }

    void statisticsMoveOncePerTableAfterTheCommit()
    {
        QSignalSpy deltas(_server->connector(), &KTServerConnector::updateTableRecordDataModelRequested);
        const QString inserts = "SELECT fldInserts FROM dbaTableRecordData WHERE fldTableName = 'invProductCategory'";
        const int before = count(inserts);
        const quint64 totalBefore = _window->tableMainStats("invProductCategory").value(0);

        _admin->request(KTProtocolClient::actionRequest({insertCategory("Uno"), insertCategory("Dos"), failingEcho()}));
        QTest::qWait(200);
        QCOMPARE(deltas.size(), 0);

        _admin->request(KTProtocolClient::actionRequest({insertCategory("Tres"), insertCategory("Cuatro")}));
        QTRY_COMPARE(deltas.size(), 1);
        QCOMPARE(deltas.first().at(0).toString(), QStringLiteral("invProductCategory"));
        const QList<int> modifiers = deltas.first().at(1).value<QList<int> >();
        QCOMPARE(modifiers, QList<int>({2, 0, 2, 0, 2, 0, 0, 2, 0, 0, 2, 2, 0, 0}));
        QTRY_COMPARE(count(inserts), before + 2);
        QCOMPARE(_window->tableMainStats("invProductCategory").value(0), totalBefore + 2);
    }

    void unknownActionIsAnsweredAndReported()
    {
        const QString reply = _admin->request(KTProtocolClient::actionRequest(
            {echo(), action("DbRenameSercom", {}, "Component", "ComponentProduct")}));
        QCOMPARE(KTProtocolClient::rootTag(reply), QStringLiteral("ActionRequest"));
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("0"));
        QCOMPARE(KTProtocolClient::element(reply, "Message"),
                 QStringLiteral("No se encontró la acción DbRenameSercom en el servidor"));
        QVERIFY(_admin->replies().isEmpty());
        QTRY_VERIFY(KTTestServer::eventsOfType(_server->events(), KT::WarningMessage)
                        .filter("solicitó acción 'DbRenameSercom' no existente").size() == 1);
    }

    void lockRequestRunsItsActionsAndRestoresAutocommit()
    {
        // The read-back names the table T0: both names are locked.
        const QString reply = _admin->request(KTProtocolClient::lockRequest(
            {"invProductCategory", "invProductCategory"}, {"", "T0"}, {"WRITE", "READ"},
            {insertCategory("Bajo llave")}));
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("1"));
        QCOMPARE(categories("Bajo llave"), 1);
        const QString autocommit = _admin->request(KTProtocolClient::actionRequest(
            {action("DbSelectSercom", {{"From", ""}, {"Fields", "@@autocommit"}})}));
        QCOMPARE(KTProtocolClient::element(autocommit, "Row"), QStringLiteral("1"));

        const QString refused = _admin->request(KTProtocolClient::lockRequest(
            {"tablaInexistente"}, {""}, {"WRITE"}, {insertCategory("Sin llave")}));
        QCOMPARE(KTProtocolClient::element(refused, "Status"), QStringLiteral("0"));
        QCOMPARE(categories("Sin llave"), 0);
    }

    // Last: it cuts the connections' database sessions.
    void lostTransactionIsAnswered()
    {
        QSqlQuery sessions = _controller->customQuery(
            QStringLiteral("SELECT ID FROM information_schema.PROCESSLIST WHERE DB = '%1' AND ID <> CONNECTION_ID()")
                .arg(dbName));
        QStringList ids;
        while (sessions.next())
            ids << sessions.value(0).toString();
        QVERIFY(!ids.isEmpty());
        for (const QString& id : ids)
            _controller->customQuery("KILL " + id);

        const QString reply = _admin->request(KTProtocolClient::actionRequest({insertCategory("Perdida")}));
        QCOMPARE(KTProtocolClient::rootTag(reply), QStringLiteral("ActionRequest"));
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("0"));
        QVERIFY(KTProtocolClient::element(reply, "Message").contains("transacción"));
        QTRY_VERIFY(!KTTestServer::eventsOfType(_server->events(), KT::BugMessage)
                         .filter("error al iniciar una transacción").isEmpty());
    }
};

QTEST_MAIN(tst_ActionRequest)
#include "tst_actionrequest.moc"
