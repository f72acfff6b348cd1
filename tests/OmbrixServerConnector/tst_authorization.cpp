#include "KTSessionFixture.h"
#include "KTTestEvents.h"

#include <KTDatabaseController.h>
#include <KTServerConnector.h>
#include <KTVersion.h>

#include <QtTest>

#include <memory>
#include <tuple>

namespace {

using Action = KTProtocolClient::Action;
using Parameters = KTProtocolClient::Parameters;

const QString dbName = QStringLiteral("ombrix_test_authorization");
// A database beside the server's on the same MariaDB, which no client text may reach.
const QString otherDb = QStringLiteral("ombrix_test_authorization_other");
const QString outfile = QDir::temp().filePath(QStringLiteral("ombrix_test_outfile_%1").arg(QCoreApplication::applicationPid()));
const QString components = QStringLiteral("PasswordAuthcom,DbInsertSercom,DbUpdateSercom,DbDeleteSercom,"
                                          "DbModifiersSercom,DbSelectSercom,DbBrowseSercom,DbSearchSercom,"
                                          "DbMetadataSercom");
const QString categoryFields = QStringLiteral("pkyProductCategory,fldName,fldDescription,sysEnabled,sysEditable,"
                                              "sysAuthorized,sysVisible,sysContext,sysAuthorizationGroup");
const QString customerFields = QStringLiteral("pkyCustomer,fldName,fldNIT,codPriceList,fldAddress,fldPhone,fldEmail,"
                                              "sysEnabled,sysEditable,sysAuthorized,sysVisible,sysContext,"
                                              "sysAuthorizationGroup");

Action action(const QString& component, const Parameters& params, const QString& objectName)
{
    return KTSessionFixture::action(component, params, QStringLiteral("Component"), objectName);
}

Action insertCategory(const QString& name, const QString& objectName = QStringLiteral("ComponentProductCategory"))
{
    return action("DbInsertSercom",
                  {{"Table", "invProductCategory"}, {"Fields", categoryFields},
                   {"Values", QStringLiteral("NULL|'%1'|'prueba'|1|2|1|2|0|1").arg(name)}, {"LineNumbers", "1"}},
                  objectName);
}

Action insertCustomer(const QString& name)
{
    return action("DbInsertSercom",
                  {{"Table", "salCustomer"}, {"Fields", customerFields},
                   {"Values", QStringLiteral("NULL|'%1'|'99'|1|'Calle 1'|NULL|NULL|1|2|1|2|0|1").arg(name)},
                   {"LineNumbers", "1"}},
                  "ComponentCustomer");
}

Action select(const QString& from, const QString& fields, const QString& where,
              const QString& objectName = QStringLiteral("ComponentCustomer"))
{
    return action("DbSelectSercom", {{"RequestNumber", "1"}, {"RequestName", "Prueba"}, {"From", from},
                                     {"Fields", fields}, {"Where", where}}, objectName);
}

Action selectBy(const QString& key, const QString& text)
{
    Parameters params{{"RequestNumber", "1"}, {"RequestName", "Prueba"}, {"From", "salCustomer"},
                      {"Fields", "pkyCustomer"}, {"Where", ""}, {"OrderBy", ""}, {"GroupBy", ""}};
    for (auto& param : params)
        if (param.first == key)
            param.second = text;
    return action("DbSelectSercom", params, "ComponentCustomer");
}

Action browse(const QString& table, const QString& where, const QString& objectName,
              const QString& limit = QStringLiteral("100"))
{
    return action("DbBrowseSercom", {{"Table", table}, {"Where", where}, {"OrderBy", "1"}, {"Limit", limit},
                                     {"ResolveKeys", "0"}, {"Stats", ""}}, objectName);
}

Action search(const QString& table, const QString& key, const QString& objectName = QStringLiteral("ComponentCustomer"))
{
    return action("DbSearchSercom", {{"Key", key}, {"Table", table}, {"SenderWidget", "Edit"}, {"Role", "Complete"}},
                  objectName);
}

Action message(const QString& sender)
{
    return action("DbInsertSercom",
                  {{"Table", "comMessage"},
                   {"Fields", "pkyMessage,codSourceUser,codTargetGroup,fldDate,fldTime,fldSubject,fldReference,fldText,"
                              "sysEnabled,sysEditable,sysAuthorized,sysVisible,sysContext,sysAuthorizationGroup"},
                   {"Values", QStringLiteral("NULL|%1|1|'2025-03-03'|'10:00:00'|'Suplantado'|''|'Hola'|1|2|1|2|0|1")
                                  .arg(sender)},
                   {"LineNumbers", "1"}},
                  "ComponentMessage");
}

QString request(const Action& one)
{
    return KTProtocolClient::actionRequest({one});
}

QString status(const QString& reply)
{
    return KTProtocolClient::element(reply, "Status");
}

// What would reach the host, hold the server or read another database,
// in the spellings MariaDB accepts; refused alike to an administrator
// (type 2) and a restricted user (type 3).
void addHostReachingRows()
{
    const QString other = otherDb + ".secreto";
    const QList<std::tuple<const char*, QString, QString>> rows{
        {"into outfile", request(selectBy("OrderBy", "pkyCustomer INTO OUTFILE '" + outfile + "'")), "'OrderBy' usa INTO"},
        {"into dumpfile", request(selectBy("Where", "1 = 1 INTO DUMPFILE '" + outfile + "'")), "'Where' usa INTO"},
        {"into a variable", request(selectBy("GroupBy", "pkyCustomer INTO@x")), "'GroupBy' usa INTO"},
        {"load_file", request(selectBy("Fields", "LOAD_FILE('/etc/hostname')")), "función LOAD_FILE"},
        {"load_file quoted", request(selectBy("Fields", "`load_file`('OmbrixServer.cfg')")), "función LOAD_FILE"},
        {"load_file spaced", request(selectBy("Where", "Load_File\n ('/etc/hostname') IS NOT NULL")), "LOAD_FILE"},
        {"load_file of hex", request(selectBy("Fields", "LOAD_FILE(0x2f6574632f686f73746e616d65)")), "LOAD_FILE"},
        {"load_file of char()", request(selectBy("Fields", "LOAD_FILE(CHAR(47..101..116..99))")), "LOAD_FILE"},
        {"load data", request(selectBy("Where", "1 = 1 LOAD DATA INFILE '/etc/hostname'")), "usa LOAD DATA"},
        {"load xml", request(selectBy("OrderBy", "1 LOAD  xml INFILE '/etc/hostname'")), "usa LOAD XML"},
        {"executable comment", request(selectBy("Where", "/*!50000 SLEEP(5)*/ 1 = 1")), "contiene un comentario"},
        {"sleep", request(selectBy("Where", "SLEEP(20) = 0")), "'Where' usa la función SLEEP"},
        {"sleep quoted", request(selectBy("Where", "`SLEEP`(20) = 0")), "función SLEEP"},
        {"sleep double-quoted", request(selectBy("Where", "\"sleep\"(20) = 0")), "función SLEEP"},
        {"sleep in a key", request(search("salCustomer", "1 + sleep(20)")), "'Key' usa la función SLEEP"},
        {"benchmark", request(selectBy("Fields", "BENCHMARK(100000000..MD5('x'))")), "función BENCHMARK"},
        {"get_lock", request(selectBy("Where", "GET_LOCK('ombrix'..10) = 1")), "función GET_LOCK"},
        {"release_all_locks", request(selectBy("Fields", "release_all_locks()")), "función RELEASE_ALL_LOCKS"},
        {"is_used_lock", request(selectBy("Where", "IS_USED_LOCK('x') IS NULL")), "función IS_USED_LOCK"},
        {"assigning a user variable", request(selectBy("Fields", "@x := 1")), "asigna un valor con ':='"},
        {"assignment", request(selectBy("Where", "(fldName := 'x') IS NULL")), "asigna un valor con ':='"},
        {"setting a system variable", request(selectBy("OrderBy", "1 SET @@global.general_log = 1")),
         "asigna un valor a la variable '@@global'"},
        {"setting a global", request(selectBy("OrderBy", "1 set global general_log = 1")), "variable 'global'"},
        {"another database", request(selectBy("From", other)), "nombra la base de datos '" + otherDb + "'"},
        {"another database quoted", request(selectBy("From", "`" + otherDb + "`.`secreto`")), "base de datos"},
        {"another database spaced", request(selectBy("From", "salCustomer, " + otherDb + " . secreto")),
         "base de datos"},
        {"another database joined", request(selectBy("From", "salCustomer T1 JOIN " + other + " T2 ON 1 = 1")),
         "base de datos"},
        {"another database in a subquery", request(selectBy("Where", "(SELECT COUNT(*) FROM " + other + ") > 0")),
         "'Where' nombra la base de datos"},
        {"another database's column", request(selectBy("Fields", other + ".valor")), "base de datos"},
        {"a field list's '..'",
         request(selectBy("Fields", "(SELECT MAX(valor) FROM salCustomer.." + other + ")")), "base de datos"},
        {"another database's function", request(selectBy("Fields", "sys.format_bytes(1)")),
         "nombra la base de datos 'sys'"},
        {"the mysql schema", request(selectBy("From", "mysql.user")), "nombra la base de datos 'mysql'"},
        {"information_schema", request(selectBy("From", "information_schema.TABLES")), "base de datos"},
        {"values split by '|'",
         request(action("DbUpdateSercom", {{"Table", "salCustomer"}, {"Fields", "pkyCustomer,fldName"},
                                           {"Values", "1|(SELECT MAX(valor) FROM salCustomer|" + other + ")"}},
                        "ComponentCustomer")),
         "'Values' nombra la base de datos"},
        {"another database's table", request(action("DbInsertSercom", {{"Table", other}, {"Fields", "valor"},
                                                                        {"Values", "'x'"}, {"LineNumbers", "1"}},
                                                    "ComponentCustomer")),
         "'Table' nombra la base de datos"},
        {"a lock in another database", KTProtocolClient::lockRequest({other}, {""}, {"READ"}, {selectBy("Where", "")}),
         "El bloqueo de la tabla"},
        {"the request rolls back",
         KTProtocolClient::actionRequest({insertCustomer("Antes del rechazo"), selectBy("Where", "SLEEP(1) = 0")}),
         "función SLEEP"}};
    for (const auto& [name, document, refusal] : rows) {
        QTest::addRow("%s (type 2)", name) << false << document << refusal;
        QTest::addRow("%s (type 3)", name) << true << document << refusal;
    }
}

} // namespace

// What the server lets each connection do and receive, through the wire:
// before and after a login, for administrators and for a restricted user
// (cmendez, type 3: read and write on customers, orders and order lines with
// the unit price read-only, read on products and their categories, messages).
class tst_Authorization : public QObject
{
    Q_OBJECT

    KTSessionFixture _fixture;
    std::unique_ptr<KTClientSession> _support;

    quint16 port() const { return _fixture.server().connector()->serverPort(); }
    QString value(const QString& sql) const { return _fixture.value(sql); }
    int count(const QString& sql) const { return _fixture.count(sql); }
    QStringList events() const { return eventTexts(_fixture.server().events()); }

    static void refusalColumns()
    {
        QTest::addColumn<QList<Action> >("actions");
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<QString>("unchanged");
        QTest::addColumn<QString>("expected");
    }

    // Refused to cmendez as a whole, reported, and the database as it was.
    void checkRefused(const QString& document)
    {
        QFETCH(QString, refusal);
        QFETCH(QString, unchanged);
        QFETCH(QString, expected);
        const QString reply = _fixture.carla().request(document);
        QCOMPARE(status(reply), QStringLiteral("0"));
        QVERIFY2(KTProtocolClient::element(reply, "Message").contains(refusal), qPrintable(reply));
        QCOMPARE(value(unchanged), expected);
        QTRY_VERIFY(!events().filter("'cmendez'").filter(refusal).isEmpty());
        _fixture.drain();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(_fixture.start(dbName, components));
        // An object embedded in one cmendez may read, granted nothing itself;
        // her login reads it, so she logs in again.
        QVERIFY(_fixture.controller()->customQuery(
            "INSERT INTO srvComponent VALUES (401090, 'ComponentCustomerNotes', 'Notas', 'Ventas', 2, "
            "'ComponentCustomer', NULL, 1, 0, 1, 1, 0, 1)").isActive());
        QVERIFY(_fixture.carla().logIn(port(), "cmendez", KTTestServer::password(_fixture.controller(), 3)));
        // The support user (type 1) ships disabled.
        QVERIFY(_fixture.controller()->customQuery("UPDATE accUser SET sysEnabled = 1 WHERE pkyUser = 1").isActive());
        _support = std::make_unique<KTClientSession>();
        QVERIFY(_support->logIn(port(), "soporte", KTVersion::ombrixServerPassword()));
        QTRY_COMPARE(_fixture.server().connector()->loggedUsers().size(), 3);
        QVERIFY(_fixture.controller()->customQuery("DROP DATABASE IF EXISTS " + otherDb).isActive());
        QVERIFY(_fixture.controller()->customQuery("CREATE DATABASE " + otherDb).isActive());
        QVERIFY(_fixture.controller()->customQuery("CREATE TABLE " + otherDb + ".secreto (valor VARCHAR(20))").isActive());
        QVERIFY(_fixture.controller()->customQuery("INSERT INTO " + otherDb + ".secreto VALUES ('oculto')").isActive());
        QFile::remove(outfile);
    }

    void init()
    {
        _fixture.drain();
        _support->replies(50);
        _fixture.server().events().clear();
    }

    void cleanupTestCase()
    {
        _support.reset();
        _fixture.controller()->customQuery("DROP DATABASE IF EXISTS " + otherDb);
        QFile::remove(outfile);
    }

    // Before a login only negotiation, the client download and the login are
    // served; anything else is refused and the connection closed.
    void stateRulesBeforeLogin_data()
    {
        QTest::addColumn<bool>("negotiate");
        QTest::addColumn<QString>("document");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("object status") << true << KTProtocolClient::objectStatus("ComponentCustomer", true)
                                       << "ObjectStatus|0|Conexión no fue autenticada exitosamente.";
        QTest::newRow("schedule") << true << KTProtocolClient::schedule({{"Users", "3"}, {"Command", "x"}})
                                  << "Schedule|0|Conexión no fue autenticada exitosamente.";
        QTest::newRow("client download") << false << KTProtocolClient::requestUpdate({})
                                         << "UpdateEnd|0|Conexión no fue negociada exitosamente.";
        QTest::newRow("lock") << true << KTProtocolClient::lockRequest({"salCustomer"}, {""}, {"WRITE"}, {})
                              << "ActionRequest|0|Conexión no fue autenticada exitosamente.";
    }

    void stateRulesBeforeLogin()
    {
        QFETCH(bool, negotiate);
        QFETCH(QString, document);
        QFETCH(QString, refusal);
        const int tasks = count("SELECT COUNT(*) FROM srvTaskScheduler");
        auto raw = negotiate ? _fixture.server().negotiatedClient() : _fixture.server().client();
        QVERIFY(raw);
        raw->sendText(document);
        const QString reply = raw->nextReply();
        QCOMPARE(QStringList({KTProtocolClient::rootTag(reply), status(reply), KTProtocolClient::element(reply, "Message")})
                     .join('|'), refusal);
        QTRY_VERIFY(!raw->connected());
        QCOMPARE(count("SELECT COUNT(*) FROM srvTaskScheduler"), tasks);
    }

    // A pushed row reaches the logged-in users that may read the client
    // object it is for, and nobody else; the requester always gets its own.
    void pushedRowsReachOnlyReaders_data()
    {
        QTest::addColumn<QString>("objectName");
        QTest::addColumn<QStringList>("logins");
        QTest::addColumn<bool>("carlaReceives");
        QTest::addColumn<bool>("hidden");
        QTest::newRow("granted read") << "ComponentProductCategory" << QStringList() << true << false;
        QTest::newRow("not granted") << "ComponentWarehouse" << QStringList() << false << false;
        QTest::newRow("embedded in a granted object") << "ComponentCustomerNotes" << QStringList() << true << false;
        QTest::newRow("named, but not granted") << "ComponentWarehouse" << QStringList{"cmendez"} << false << false;
        QTest::newRow("the requester left out") << "ComponentProductCategory" << QStringList{"cmendez"} << true
                                                << false;
        // A record normal users may not see is not pushed to them either.
        QTest::newRow("granted, record hidden") << "ComponentProductCategory" << QStringList() << false << true;
    }

    void pushedRowsReachOnlyReaders()
    {
        QFETCH(QString, objectName);
        QFETCH(QStringList, logins);
        QFETCH(bool, carlaReceives);
        QFETCH(bool, hidden);
        auto stranger = _fixture.server().negotiatedClient();
        QVERIFY(stranger);
        const QString name = QStringLiteral("Difundida %1").arg(QTest::currentDataTag());
        Action insert = insertCategory(name, objectName);
        if (hidden)
            for (auto& parameter : insert.parameters)
                if (parameter.first == "Values")
                    parameter.second.replace("|1|2|1|2|0|1", "|1|2|1|1|0|1");
        QVERIFY(_fixture.admin().send(KTProtocolClient::actionRequest({insert}, logins)));
        const QStringList admin = _fixture.admin().replies();
        QCOMPARE(admin.size(), 1);
        QCOMPARE(status(admin.first()), QStringLiteral("1"));
        QCOMPARE(_fixture.carla().replies().size(), carlaReceives ? 1 : 0);
        QCOMPARE(_support->replies().size(), logins.isEmpty() ? 1 : 0);
        // The negotiation's reply and nothing after it.
        QCOMPARE(stranger->replies(), 1);
        QVERIFY(stranger->connected());
    }

    // Another instance's pushes follow the same rules here; the
    // connection number they carry is the other instance's, and a
    // connection here with the same number is no requester.
    void pushesFromAnotherInstanceFollowTheRules()
    {
        QVERIFY(_fixture.admin().send(KTProtocolClient::actionRequest({insertCategory("Remota")})));
        const QStringList own = _fixture.admin().replies();
        QCOMPARE(own.size(), 1);
        _fixture.drain();
        _support->replies(50);
        const QStandardItemModel* monitor = _fixture.server().connector()->model();
        const QList<QStandardItem*> carla = monitor->findItems("cmendez", Qt::MatchExactly, KTServerConnector::UserColumn);
        QCOMPARE(carla.size(), 1);
        const QString carlaID = monitor->item(carla.first()->row(), KTServerConnector::IdColumn)->text();
        KTServerConnector* connector = _fixture.server().connector();
        connector->deliverRemotePush({{carlaID, "ComponentWarehouse", own.first(), "Remota", "1"}}, QString());
        QCOMPARE(_fixture.admin().replies().size(), 1);
        QCOMPARE(_support->replies().size(), 1);
        QCOMPARE(_fixture.carla().replies().size(), 0);
        connector->deliverRemotePush({{carlaID, "ComponentProductCategory", own.first(), "Remota", "1"}}, "soporte,cmendez");
        QCOMPARE(_fixture.carla().replies().size(), 1);
        QCOMPARE(_support->replies().size(), 1);
        QCOMPARE(_fixture.admin().replies().size(), 0);
    }

    // A restricted user's rights are the server's to enforce: a refused
    // action rolls its whole request back and is reported.
    void rightsAreEnforced_data()
    {
        QTest::addColumn<QList<Action> >("actions");
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<QString>("unchanged");
        QTest::addColumn<QString>("expected");
        QTest::newRow("write without the right")
            << QList<Action>{insertCategory("Sin permiso")} << "permiso de escritura sobre el componente 'ComponentProductCategory'"
            << "SELECT COUNT(*) FROM invProductCategory WHERE fldName = 'Sin permiso'" << "0";
        QTest::newRow("read without the right")
            << QList<Action>{browse("invWarehouse", "", "ComponentWarehouse")}
            << "permiso de lectura sobre el componente 'ComponentWarehouse'" << "SELECT 0" << "0";
        QTest::newRow("disable without the right")
            << QList<Action>{action("DbModifiersSercom", {{"Table", "salCustomer"}, {"Key", "1"},
                                                          {"Modifiers", "0,-1,-1,-1,-1,-1"}, {"Log", "1"}},
                                    "ComponentCustomer")}
            << "deshabilitar registros del componente 'ComponentCustomer'"
            << "SELECT sysEnabled FROM salCustomer WHERE pkyCustomer = 1" << "1";
        QTest::newRow("read-only field")
            << QList<Action>{action("DbUpdateSercom", {{"Table", "salOrderLine"}, {"Fields", "pkyOrderLine,fldUnitPrice"},
                                                       {"Values", "1|1.00"}, {"Log", "1"}},
                                    "ComponentOrderLine")}
            << "El campo 'fldUnitPrice' es de solo lectura"
            << "SELECT fldUnitPrice FROM salOrderLine WHERE pkyOrderLine = 1" << "38.00";
        QTest::newRow("the whole request rolls back")
            << QList<Action>{insertCustomer("Antes del rechazo"), insertCategory("Después")}
            << "permiso de escritura" << "SELECT COUNT(*) FROM salCustomer WHERE fldName = 'Antes del rechazo'" << "0";
        QTest::newRow("a lock to write needs the right")
            << QList<Action>() << "permiso de escritura sobre el componente 'ComponentProduct'" << "SELECT 0" << "0";
    }

    void rightsAreEnforced()
    {
        QFETCH(QList<Action>, actions);
        QFETCH(QString, refusal);
        QFETCH(QString, unchanged);
        QFETCH(QString, expected);
        const QString document = actions.isEmpty()
            ? KTProtocolClient::lockRequest({"invProduct"}, {""}, {"WRITE"},
                                            {select("invProduct", "pkyProduct", "", "ComponentProduct")})
            : KTProtocolClient::actionRequest(actions);
        const QString reply = _fixture.carla().request(document);
        QCOMPARE(status(reply), QStringLiteral("0"));
        QVERIFY2(KTProtocolClient::element(reply, "Message").contains(refusal), qPrintable(reply));
        QVERIFY(_fixture.carla().replies().isEmpty());
        QVERIFY(_fixture.admin().replies().isEmpty());
        QCOMPARE(value(unchanged), expected);
        QTRY_VERIFY(!events().filter("al usuario 'cmendez' con ID de Conexión").filter(refusal).isEmpty());
    }

    // No text of a restricted user reaches the user-administration and
    // server tables or the database's own schemas, whatever it says it is for.
    void systemTablesOutOfReach_data()
    {
        QTest::addColumn<QString>("document");
        QTest::newRow("select from") << request(select("accUserIdentifier", "fldKey", ""));
        QTest::newRow("select joined") << request(select("salCustomer T1,accUser T2", "T2.fldLogin", ""));
        QTest::newRow("select subquery")
            << request(select("salCustomer", "pkyCustomer", "pkyCustomer IN (SELECT codUser FROM accUserIdentifier)"));
        QTest::newRow("select column subquery")
            << request(select("salCustomer", "(SELECT MAX(fldKey) FROM accUserIdentifier)", ""));
        QTest::newRow("select quoted name") << request(select("`accUserIdentifier`", "fldKey", ""));
        QTest::newRow("select other case") << request(select("ACCUSERIDENTIFIER", "fldKey", ""));
        QTest::newRow("select qualified") << request(select(dbName + ".accUser", "fldLogin", ""));
        QTest::newRow("browse table") << request(browse("accUser", "", "ComponentCustomer"));
        QTest::newRow("browse subquery")
            << request(browse("salCustomer", "1 = (SELECT COUNT(*) FROM srvComponent)", "ComponentCustomer"));
        QTest::newRow("search table") << request(search("accUserIdentifier", "1"));
        QTest::newRow("search key") << request(search("salCustomer", "(SELECT MAX(codType) FROM accUser)"));
        QTest::newRow("metadata") << request(action("DbMetadataSercom", {{"Table", "accUser"}}, "ComponentCustomer"));
        QTest::newRow("insert a grant")
            << request(action("DbInsertSercom", {{"Table", "accAccessComponent"},
                                                 {"Fields", "pkyAccessComponent,codUser,codComponent,fldReadOnlyFields,"
                                                            "fldRead,fldWrite,fldDisable,sysEnabled,sysEditable,"
                                                            "sysAuthorized,sysVisible,sysContext,sysAuthorizationGroup"},
                                                 {"Values", "NULL|3|301003|''|1|1|1|1|2|1|2|0|1"}, {"LineNumbers", "1"}},
                              "ComponentCustomer"));
        QTest::newRow("update a user's type")
            << request(action("DbUpdateSercom", {{"Table", "accUser"}, {"Fields", "pkyUser,codType"}, {"Values", "3|2"}},
                              "ComponentCustomer"));
        QTest::newRow("update with a key read")
            << request(action("DbUpdateSercom", {{"Table", "salCustomer"}, {"Fields", "pkyCustomer,fldEmail"},
                                                 {"Values", "1|(SELECT fldKey FROM accUserIdentifier WHERE codUser = 2)"}},
                              "ComponentCustomer"));
        QTest::newRow("delete a key")
            << request(action("DbDeleteSercom", {{"Table", "accUserIdentifier"}, {"Values", "1,1,2,1,2"}},
                              "ComponentCustomer"));
        QTest::newRow("change a user's modifiers")
            << request(action("DbModifiersSercom", {{"Table", "accUser"}, {"Key", "1"}, {"Modifiers", "0,-1,-1,-1,-1,-1"}},
                              "ComponentCustomer"));
        QTest::newRow("lock") << KTProtocolClient::lockRequest({"accUser"}, {""}, {"WRITE"},
                                                               {insertCustomer("Bajo llave")});
    }

    void systemTablesOutOfReach()
    {
        QFETCH(QString, document);
        const QString adminKey = KTTestServer::password(_fixture.controller(), 2);
        const QString reply = _fixture.carla().request(document);
        QCOMPARE(status(reply), QStringLiteral("0"));
        QVERIFY2(KTProtocolClient::element(reply, "Message").contains("tablas del sistema"), qPrintable(reply));
        QVERIFY(!reply.contains(adminKey));
        QCOMPARE(value("SELECT codType FROM accUser WHERE pkyUser = 3"), QStringLiteral("3"));
        QCOMPARE(value("SELECT sysEnabled FROM accUser WHERE pkyUser = 1"), QStringLiteral("1"));
        QCOMPARE(count("SELECT COUNT(*) FROM accAccessComponent WHERE codUser = 3"), 6);
        QCOMPARE(count("SELECT COUNT(*) FROM accUserIdentifier"), 2);
        QCOMPARE(value("SELECT COALESCE(fldEmail, '') FROM salCustomer WHERE pkyCustomer = 1"), QString(""));
        QCOMPARE(count("SELECT COUNT(*) FROM salCustomer WHERE fldName = 'Bajo llave'"), 0);
    }

    // Every user's clauses stay one part of one statement; a restricted user
    // cannot step out of the rows it may see.
    void clausesAreChecked_data()
    {
        QTest::addColumn<bool>("restricted");
        QTest::addColumn<QString>("document");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("separator") << false << request(select("salCustomer", "pkyCustomer", "1 = 1; DELETE FROM salOrder"))
                                   << "'Where' contiene un separador de sentencias";
        QTest::newRow("line comment") << false << request(select("salCustomer", "pkyCustomer", "1 = 1 -- resto"))
                                      << "'Where' contiene un comentario";
        QTest::newRow("hash comment") << false << request(select("salCustomer", "pkyCustomer # resto", ""))
                                      << "'Fields' contiene un comentario";
        QTest::newRow("block comment") << false << request(select("salCustomer /*", "pkyCustomer", ""))
                                       << "'From' contiene un comentario";
        QTest::newRow("open quote") << false << request(select("salCustomer", "pkyCustomer", "fldName = 'O\\'"))
                                    << "'Where' tiene comillas sin cerrar";
        QTest::newRow("open bracket") << false << request(select("salCustomer", "pkyCustomer", "(1 = 1"))
                                      << "'Where' deja paréntesis sin cerrar";
        QTest::newRow("limit not a number") << false << request(browse("salCustomer", "", "ComponentCustomer", "1 UNION SELECT 1"))
                                            << "'Limit' debe ser un número";
        QTest::newRow("separator in the key") << false << request(search("salCustomer", "1; DROP TABLE salOrder"))
                                              << "'Key' contiene un separador";
        QTest::newRow("lock mode") << false
                                   << KTProtocolClient::lockRequest({"salCustomer"}, {""}, {"WRITE; DROP TABLE salOrder"}, {})
                                   << "modo de bloqueo";
        QTest::newRow("escaping the visible rows") << true
                                                   << request(browse("salCustomer", "1 = 1) OR (1 = 1", "ComponentCustomer"))
                                                   << "'Where' cierra un paréntesis que no abrió";
        addHostReachingRows();
    }

    void clausesAreChecked()
    {
        QFETCH(bool, restricted);
        QFETCH(QString, document);
        QFETCH(QString, refusal);
        KTClientSession& user = restricted ? _fixture.carla() : _fixture.admin();
        const int orders = count("SELECT COUNT(*) FROM salOrder");
        const int customers = count("SELECT COUNT(*) FROM salCustomer");
        const QString reply = user.request(document);
        QCOMPARE(status(reply), QStringLiteral("0"));
        QVERIFY2(KTProtocolClient::element(reply, "Message").contains(refusal), qPrintable(reply));
        QVERIFY(!reply.contains("oculto"));
        QTRY_VERIFY(!events().filter(restricted ? "'cmendez'" : "'admin'").filter("rechazad").isEmpty());
        QCOMPARE(count("SELECT COUNT(*) FROM salOrder"), orders);
        QCOMPARE(count("SELECT COUNT(*) FROM salCustomer"), customers);
        QCOMPARE(value("SELECT GROUP_CONCAT(valor) FROM " + otherDb + ".secreto"), QStringLiteral("oculto"));
        QVERIFY(!QFile::exists(outfile));
    }

    // The same texts inside string literals, and names of the server's own
    // database, still serve. (A restricted user's names are further bound
    // to its tables, so only an administrator qualifies them.)
    void clausesInTheirDatabaseServe_data()
    {
        QTest::addColumn<bool>("restricted");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::newRow("own database") << false << "From" << dbName + ".salCustomer";
        QTest::newRow("own database, three parts") << false << "Fields" << dbName + ".salCustomer.fldName";
        QTest::newRow("subquery with aliases")
            << false << "Where" << "pkyCustomer IN (SELECT T1.pkyCustomer FROM salCustomer T1,salOrder T2)";
        const QList<std::tuple<const char*, QString, QString>> rows{
            {"words in strings", "Where", "fldName <> 'INTO OUTFILE @x := SLEEP(5) LOAD_FILE(\\'/etc\\')'"},
            {"names in strings", "Where", "fldName NOT LIKE '" + otherDb + ".secreto'"},
            {"a function's name in a string", "Fields", "CONCAT(fldName..'sleep')"}};
        for (const auto& [name, key, text] : rows) {
            QTest::addRow("%s (type 2)", name) << false << key << text;
            QTest::addRow("%s (type 3)", name) << true << key << text;
        }
    }

    void clausesInTheirDatabaseServe()
    {
        QFETCH(bool, restricted);
        QFETCH(QString, key);
        QFETCH(QString, text);
        KTClientSession& user = restricted ? _fixture.carla() : _fixture.admin();
        const QString reply = user.request(request(selectBy(key, text)));
        QVERIFY2(status(reply) == QStringLiteral("1"), qPrintable(reply));
    }

    void restrictedUsersSeeOnlyTheirRows()
    {
        QVERIFY(_fixture.controller()->customQuery("UPDATE salCustomer SET sysVisible = 1 WHERE pkyCustomer = 2").isActive());
        const QString browsed = _fixture.carla().request(request(browse("salCustomer", "sysVisible < 2 OR 1 = 1", "ComponentCustomer")));
        QCOMPARE(status(browsed), QStringLiteral("1"));
        QVERIFY(!KTSessionFixture::elements(browsed, "Row").isEmpty());
        for (const QString& row : KTSessionFixture::elements(browsed, "Row"))
            QVERIFY(!row.startsWith("2|"));
        QCOMPARE(status(_fixture.carla().request(request(search("salCustomer", "2")))), QStringLiteral("0"));
        QCOMPARE(status(_fixture.carla().request(request(search("salCustomer", "1 OR 1 = 1")))), QStringLiteral("1"));
        QCOMPARE(status(_fixture.admin().request(request(search("salCustomer", "2")))), QStringLiteral("1"));
        QVERIFY(_fixture.controller()->customQuery("UPDATE salCustomer SET sysVisible = 2 WHERE pkyCustomer = 2").isActive());
    }

    // A restricted user reaches only the tables bound to the component an
    // action names, in every parameter and spelling, and only their columns.
    void componentsReachOnlyTheirTables_data()
    {
        refusalColumns();
        const QString noCategory = "SELECT COUNT(*) FROM invProductCategory WHERE fldName = 'Ajena'";
        QTest::newRow("a table of another component")
            << QList<Action>{insertCategory("Ajena", "ComponentCustomer")}
            << "La tabla 'invProductCategory' no está asignada al componente 'ComponentCustomer'" << noCategory << "0";
        QTest::newRow("a table bound to nothing granted")
            << QList<Action>{select("finPettyCash", "fldAmount", "")} << "La tabla 'finPettyCash' no está asignada"
            << "SELECT 0" << "0";
        QTest::newRow("joined in FROM, quoted")
            << QList<Action>{select("salCustomer T1, `finPettyCash` T2", "T2.fldName", "")}
            << "La tabla 'finPettyCash' no está asignada" << "SELECT 0" << "0";
        QTest::newRow("another case") << QList<Action>{select("SALORDER", "COUNT(*)", "")}
                                      << "La tabla 'SALORDER' no está asignada" << "SELECT 0" << "0";
        QTest::newRow("a JOIN in FROM")
            << QList<Action>{select("salCustomer JOIN salPriceList ON 1 = 1", "COUNT(*)", "")}
            << "El parámetro 'From' solo puede nombrar tablas" << "SELECT 0" << "0";
        QTest::newRow("a sub-select") << QList<Action>{select("salCustomer", "pkyCustomer",
                                                              "pkyCustomer IN (SELECT codCustomer FROM salCustomer)")}
                                      << "subconsultas" << "SELECT 0" << "0";
        QTest::newRow("a column of another table")
            << QList<Action>{browse("salCustomer", "fldAmount > 0", "ComponentCustomer")}
            << "El campo 'fldAmount' no pertenece a las tablas del componente" << "SELECT 0" << "0";
        QTest::newRow("a resolved key's system table")
            << QList<Action>{browse("comMessage", "T1.fldName LIKE 'a%'", "ComponentMessage")}
            << "El alias 'T1' une la tabla 'accUser'" << "SELECT 0" << "0";
        QTest::newRow("metadata") << QList<Action>{action("DbMetadataSercom", {{"Table", "agnCompany"}},
                                                          "ComponentCustomer")}
                                  << "La tabla 'agnCompany' no está asignada" << "SELECT 0" << "0";
        QTest::newRow("a detail table") << QList<Action>{action("DbDeleteSercom",
                                                                {{"Table", "salCustomer"}, {"DetailTables", "salOrder"},
                                                                 {"Values", "1,1,2,1,2"}},
                                                                "ComponentCustomer")}
                                        << "La tabla 'salOrder' no está asignada"
                                        << "SELECT COUNT(*) FROM salCustomer WHERE pkyCustomer = 1" << "1";
        QTest::newRow("a lock") << QList<Action>() << "La tabla 'salOrder' no está asignada al componente 'ComponentCustomer'"
                                << "SELECT COUNT(*) FROM salCustomer WHERE fldName = 'Bajo llave'" << "0";
        QTest::newRow("a server parameter sent by the client")
            << QList<Action>{action("DbBrowseSercom", {{"Table", "salCustomer"}, {"Where", ""}, {"OrderBy", "1"},
                                                       {"Limit", "10"}, {"_UserType", "1"}}, "ComponentCustomer")}
            << "El parámetro '_UserType' está reservado al servidor" << "SELECT 0" << "0";
    }

    void componentsReachOnlyTheirTables()
    {
        QFETCH(QList<Action>, actions);
        const QString document = actions.isEmpty()
            ? KTProtocolClient::lockRequest({"salOrder"}, {""}, {"WRITE"}, {insertCustomer("Bajo llave")})
            : KTProtocolClient::actionRequest(actions);
        checkRefused(document);
    }

    // Read-only fields in any spelling; a new record's read-only field keeps
    // its default; each field one column; the sender of a message is the requester.
    void fieldsInAnySpelling_data()
    {
        refusalColumns();
        const QString price = "SELECT fldUnitPrice FROM salOrderLine WHERE pkyOrderLine = 1";
        const auto edit = [](const QString& fields) {
            return QList<Action>{action("DbUpdateSercom", {{"Table", "salOrderLine"}, {"Fields", fields},
                                                           {"Values", "1|1.00"}, {"Log", "1"}},
                                        "ComponentOrderLine")};
        };
        QTest::newRow("quoted") << edit("pkyOrderLine,`fldUnitPrice`") << "El campo 'fldUnitPrice' es de solo lectura"
                                << price << "38.00";
        QTest::newRow("qualified") << edit("pkyOrderLine,salOrderLine.fldUnitPrice")
                                   << "El campo 'fldUnitPrice' es de solo lectura" << price << "38.00";
        QTest::newRow("another case") << edit("pkyOrderLine,FLDUNITPRICE") << "es de solo lectura" << price << "38.00";
        QTest::newRow("two columns in one field") << edit("pkyOrderLine,fldQuantity = 1, fldUnitPrice")
                                                  << "no es un campo de la tabla" << price << "38.00";
        QTest::newRow("a new line's price")
            << QList<Action>{action("DbInsertSercom",
                                    {{"Table", "salOrderLine"},
                                     {"Fields", "pkyOrderLine,codOrder,codProduct,fldQuantity,fldUnitPrice,fldAmount,"
                                                "sysEnabled,sysEditable,sysAuthorized,sysVisible,sysContext,"
                                                "sysAuthorizationGroup"},
                                     {"Values", "NULL|1|1|1.00|0.01|0.01|1|2|1|2|0|1"}, {"LineNumbers", "1"}},
                                    "ComponentOrderLine")}
            << "El campo 'fldUnitPrice' es de solo lectura" << "SELECT COUNT(*) FROM salOrderLine WHERE fldAmount = 0.01"
            << "0";
        // A value is written into the statement as it is: one that holds a
        // second assignment, or a string across the '|' between values,
        // would set what the checks of its column never saw.
        QTest::newRow("a second column in an update's value")
            << QList<Action>{action("DbUpdateSercom", {{"Table", "salOrderLine"}, {"Fields", "pkyOrderLine,fldQuantity"},
                                                       {"Values", "1|1.00, fldUnitPrice = 0.01"}},
                                    "ComponentOrderLine")}
            << "no es un único valor" << price << "38.00";
        QTest::newRow("a string across the values of an insert")
            << QList<Action>{action("DbInsertSercom",
                                    {{"Table", "salOrderLine"},
                                     {"Fields", "pkyOrderLine,codOrder,codProduct,fldQuantity,fldUnitPrice,fldAmount,"
                                                "sysEnabled,sysEditable,sysAuthorized,sysVisible,sysContext,"
                                                "sysAuthorizationGroup"},
                                     {"Values", "NULL|1|1|1, 77.77, LENGTH('|0|')|1|2|1|2|0|1"}, {"LineNumbers", "1"}},
                                    "ComponentOrderLine")}
            << "no es un único valor" << "SELECT COUNT(*) FROM salOrderLine WHERE fldUnitPrice = 77.77" << "0";
        QTest::newRow("a message's sender set inside another value")
            << QList<Action>{action("DbUpdateSercom", {{"Table", "comMessage"}, {"Fields", "pkyMessage,fldText"},
                                                       {"Values", "1|'Soy el admin', codSourceUser = 2"}},
                                    "ComponentMessage")}
            << "no es un único valor" << "SELECT COUNT(*) FROM comMessage WHERE fldText = 'Soy el admin'" << "0";
        QTest::newRow("a condition for a key")
            << QList<Action>{action("DbUpdateSercom", {{"Table", "salOrderLine"}, {"Fields", "pkyOrderLine,fldQuantity"},
                                                       {"Values", "1 OR 1 = 1|fldQuantity"}},
                                    "ComponentOrderLine")}
            << "no es una clave de registro"
            << "SELECT COUNT(*) FROM salOrderLine WHERE sysAuthorizationGroup <> 1" << "0";
        QTest::newRow("a message sent as someone else")
            << QList<Action>{message("2")} << "El campo 'codSourceUser' debe nombrar al usuario que realiza la acción"
            << "SELECT COUNT(*) FROM comMessage WHERE fldSubject = 'Suplantado'" << "0";
    }

    void fieldsInAnySpelling()
    {
        QFETCH(QList<Action>, actions);
        checkRefused(KTProtocolClient::actionRequest(actions));
    }

    // Changes reach only the records normal users may change, reads only
    // those they may see, new records stay theirs, and disabling needs its
    // right whatever number spells 0.
    void recordsByTheirSystemColumns_data()
    {
        refusalColumns();
        const QString customer3 = "SELECT CONCAT(fldPhone, sysEnabled, sysEditable) FROM salCustomer WHERE pkyCustomer = 3";
        const auto modifiers = [](const QString& key, const QString& values) {
            return QList<Action>{action("DbModifiersSercom", {{"Table", "salCustomer"}, {"Key", key},
                                                              {"Modifiers", values}, {"Log", "1"}},
                                        "ComponentCustomer")};
        };
        QTest::newRow("edit an administrator's record")
            << QList<Action>{action("DbUpdateSercom", {{"Table", "salCustomer"}, {"Fields", "pkyCustomer,fldPhone"},
                                                       {"Values", "3|'000'"}, {"Log", "1"}}, "ComponentCustomer")}
            << "no puede modificarlo" << customer3 << "442511";
        QTest::newRow("edit it by a condition")
            << QList<Action>{action("DbUpdateSercom", {{"Table", "salCustomer"}, {"Fields", "pkyCustomer,fldPhone"},
                                                       {"Values", "3|'000'"}, {"Where", "pkyCustomer IN (3)"}},
                                    "ComponentCustomer")}
            << "no puede modificarlo" << customer3 << "442511";
        QTest::newRow("delete it") << QList<Action>{action("DbDeleteSercom", {{"Table", "salCustomer"},
                                                                               {"Values", "3,1,2,1,2"}},
                                                           "ComponentCustomer")}
                                   << "no puede modificarlo" << customer3 << "442511";
        QTest::newRow("change its modifiers") << modifiers("3", "1,-1,-1,-1,-1,-1") << "no puede modificarlo"
                                              << customer3 << "442511";
        QTest::newRow("edit a record hidden from normal users")
            << QList<Action>{action("DbUpdateSercom", {{"Table", "salCustomer"}, {"Fields", "pkyCustomer,fldPhone"},
                                                       {"Values", "2|'000'"}, {"Log", "1"}}, "ComponentCustomer")}
            << "no puede modificarlo" << "SELECT fldPhone FROM salCustomer WHERE pkyCustomer = 2" << "44287654";
        for (const char* zero : {"00", "+0", " 0"})
            QTest::addRow("disable with %s", zero)
                << modifiers("1", QString(zero) + ",-1,-1,-1,-1,-1") << "deshabilitar registros"
                << "SELECT sysEnabled FROM salCustomer WHERE pkyCustomer = 1" << "1";
        QTest::newRow("a modifier that is no integer") << modifiers("1", "1,-1,-1,-1,-1,0x0") << "no es un número entero"
                                                       << "SELECT sysEnabled FROM salCustomer WHERE pkyCustomer = 1"
                                                       << "1";
        QTest::newRow("hide a record") << modifiers("1", "-1,-1,-1,1,-1,-1") << "sysVisible = 2"
                                       << "SELECT sysVisible FROM salCustomer WHERE pkyCustomer = 1" << "2";
        QTest::newRow("disable by an edit")
            << QList<Action>{action("DbUpdateSercom", {{"Table", "salCustomer"}, {"Fields", "pkyCustomer,sysEnabled"},
                                                       {"Values", "1|00"}}, "ComponentCustomer")}
            << "deshabilitar registros" << "SELECT sysEnabled FROM salCustomer WHERE pkyCustomer = 1" << "1";
        QTest::newRow("insert a record only administrators see")
            << QList<Action>{action("DbInsertSercom", {{"Table", "salCustomer"}, {"Fields", customerFields},
                                                       {"Values", "NULL|'Oculto'|'9'|1|'C'|NULL|NULL|1|2|1|1|0|1"},
                                                       {"LineNumbers", "1"}}, "ComponentCustomer")}
            << "sysVisible = 2" << "SELECT COUNT(*) FROM salCustomer WHERE fldName = 'Oculto'" << "0";
        QTest::newRow("insert a record only administrators change")
            << QList<Action>{action("DbInsertSercom", {{"Table", "salCustomer"}, {"Fields", customerFields},
                                                       {"Values", "NULL|'Fijo'|'9'|1|'C'|NULL|NULL|1|1|1|2|0|1"},
                                                       {"LineNumbers", "1"}}, "ComponentCustomer")}
            << "sysEditable = 2" << "SELECT COUNT(*) FROM salCustomer WHERE fldName = 'Fijo'" << "0";
    }

    void recordsByTheirSystemColumns()
    {
        QFETCH(QList<Action>, actions);
        QVERIFY(_fixture.controller()->customQuery(
            "UPDATE salCustomer SET fldPhone = '4425', sysEditable = 1 WHERE pkyCustomer = 3").isActive());
        QVERIFY(_fixture.controller()->customQuery("UPDATE salCustomer SET sysVisible = 1 WHERE pkyCustomer = 2").isActive());
        checkRefused(KTProtocolClient::actionRequest(actions));
        QVERIFY(_fixture.controller()->customQuery(
            "UPDATE salCustomer SET sysEditable = 2, sysVisible = 2 WHERE pkyCustomer IN (2, 3)").isActive());
    }

    // A granted component bound to no table gives a restricted user nothing,
    // and the panel hears of it once.
    void anUnboundComponentGivesNothing()
    {
        const QString key = KTTestServer::password(_fixture.controller(), 3);
        QVERIFY(_fixture.controller()->customQuery(
            "INSERT INTO accAccessComponent VALUES (91, 3, 101002, '', 1, 1, 1, 1, 2, 1, 2, 0, 1)").isActive());
        QVERIFY(_fixture.controller()->customQuery(
            "UPDATE srvComponentTable SET sysEnabled = 0 WHERE codComponent = 101002").isActive());
        const bool loggedIn = _fixture.carla().logIn(port(), "cmendez", key);
        QVERIFY(_fixture.controller()->customQuery("DELETE FROM accAccessComponent WHERE pkyAccessComponent = 91").isActive());
        QVERIFY(_fixture.controller()->customQuery("UPDATE srvComponentTable SET sysEnabled = 1").isActive());
        QVERIFY(loggedIn);
        const QRegularExpression notice("'ComponentGroup' no tiene tablas asignadas.*srvComponentTable");
        QTest::ignoreMessage(QtWarningMsg, notice);
        QTest::failOnWarning(notice);
        for (const QString& table : {QStringLiteral("invWarehouse"), QStringLiteral("salCustomer")}) {
            const QString reply = _fixture.carla().request(request(browse(table, "", "ComponentGroup")));
            QCOMPARE(status(reply), QStringLiteral("0"));
            QVERIFY2(KTProtocolClient::element(reply, "Message").contains("no tiene tablas asignadas"), qPrintable(reply));
        }
        QVERIFY(_fixture.carla().logIn(port(), "cmendez", key));
        _fixture.drain();
    }

    // What is left to a restricted user still serves: its own messages, the
    // records it may see, and nothing more through a custom select or a lock.
    void restrictedUsersKeepTheirWork()
    {
        const QString sent = _fixture.carla().request(request(message("3")));
        QVERIFY2(status(sent) == QStringLiteral("1"), qPrintable(sent));
        QCOMPARE(count("SELECT COUNT(*) FROM comMessage WHERE codSourceUser = 3 AND fldSubject = 'Suplantado'"), 1);
        // The administrators were sent the new message.
        _fixture.drain();
        QVERIFY(_fixture.controller()->customQuery("UPDATE salCustomer SET sysVisible = 1 WHERE pkyCustomer = 2").isActive());
        const QString selected = _fixture.carla().request(request(select("salCustomer c", "c.pkyCustomer",
                                                                         "c.pkyCustomer IN (1, 2)")));
        QCOMPARE(KTSessionFixture::elements(selected, "Row"), QStringList{"1"});
        const QString locked = _fixture.carla().request(
            KTProtocolClient::lockRequest({"salCustomer"}, {""}, {"READ"}, {select("salCustomer", "pkyCustomer",
                                                                                     "pkyCustomer = 2")}));
        QCOMPARE(KTProtocolClient::element(locked, "RowCount"), QStringLiteral("0"));
        const QString admin = _fixture.admin().request(request(select("salCustomer c", "c.pkyCustomer",
                                                                      "c.pkyCustomer IN (1, 2)")));
        QCOMPARE(KTSessionFixture::elements(admin, "Row"), (QStringList{"1", "2"}));
        QVERIFY(_fixture.controller()->customQuery("UPDATE salCustomer SET sysVisible = 2 WHERE pkyCustomer = 2").isActive());
        _fixture.drain();
    }

    // A well-behaved client's session of the demo works for every user type.
    void demoSessionWorksForEveryType_data()
    {
        QTest::addColumn<int>("type");
        QTest::newRow("support") << 1;
        QTest::newRow("administrator") << 2;
        QTest::newRow("restricted") << 3;
    }

    void demoSessionWorksForEveryType()
    {
        QFETCH(int, type);
        KTClientSession& user = type == 1 ? *_support : type == 2 ? _fixture.admin() : _fixture.carla();
        const QString name = QStringLiteral("Cliente de tipo %1").arg(type);
        QCOMPARE(status(user.request(request(browse("salCustomer", "fldName LIKE '%;%' OR pkyCustomer > 0",
                                                    "ComponentCustomer")))),
                 QStringLiteral("1"));
        const QString inserted = user.request(request(insertCustomer(name)));
        QCOMPARE(status(inserted), QStringLiteral("1"));
        const QString key = KTProtocolClient::element(inserted, "Row").section('|', 0, 0);
        const QString updated = user.request(request(action("DbUpdateSercom", {{"Table", "salCustomer"},
                                                                                {"Fields", "pkyCustomer,fldPhone"},
                                                                                {"Values", key + "|'4-4;--#'"},
                                                                                {"Log", "1"}},
                                                            "ComponentCustomer")));
        QCOMPARE(status(updated), QStringLiteral("1"));
        // The edited row comes back, read as the client knows it.
        QCOMPARE(KTProtocolClient::element(updated, "RowCount"), QStringLiteral("1"));
        QCOMPARE(value("SELECT fldPhone FROM salCustomer WHERE pkyCustomer = " + key), QStringLiteral("4-4;--#"));
        QCOMPARE(status(user.request(request(search("salCustomer", key)))), QStringLiteral("1"));
        QCOMPARE(status(user.request(request(select("salCustomer", "COUNT(*)", "fldName = '" + name + "'")))),
                 QStringLiteral("1"));
        QCOMPARE(status(user.request(request(action("DbMetadataSercom", {{"Table", "salCustomer"}}, "ComponentCustomer")))),
                 QStringLiteral("1"));
        QCOMPARE(status(user.request(request(action("DbDeleteSercom", {{"Table", "salCustomer"},
                                                                         {"Values", key + ",1,2,1,2"}},
                                                     "ComponentCustomer")))),
                 QStringLiteral("1"));
        QCOMPARE(count("SELECT COUNT(*) FROM salCustomer WHERE pkyCustomer = " + key), 0);
        QSignalSpy scheduled(_fixture.server().connector(), &KTServerConnector::scheduleRequested);
        QVERIFY(user.send(KTProtocolClient::schedule({{"Users", "3"}, {"ID", name}})));
        QTRY_COMPARE(scheduled.size(), 1);
        // Administrators keep the system tables.
        if (type != 3)
            QCOMPARE(status(user.request(request(select("accUser", "fldLogin", "pkyUser = 3")))), QStringLiteral("1"));
        _fixture.drain();
        _support->replies(50);
    }
};

QTEST_MAIN(tst_Authorization)
#include "tst_authorization.moc"
