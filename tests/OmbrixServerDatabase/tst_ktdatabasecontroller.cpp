#include "KTTestDatabase.h"
#include "KTTestEvents.h"

#include <KTAccountPrivileges.h>
#include <KTDatabaseController.h>
#include <KTDbTable.h>

#include <QSignalSpy>
#include <QSqlError>
#include <QThread>
#include <QtTest>

#include <pwd.h>
#include <unistd.h>

namespace {

const QString dbName = QStringLiteral("ombrix_test_controller");

QStringList parameters(const QString& connectionName)
{
    return KTTestDatabase::controllerParameters(connectionName, dbName);
}

QVariant firstValue(QSqlQuery query)
{
    return query.next() ? query.value(0) : QVariant();
}

} // namespace

class tst_KTDatabaseController : public QObject
{
    Q_OBJECT

    KTDatabaseController* _controller = nullptr;

private Q_SLOTS:
    void initTestCase()
    {
        KT_REQUIRE_DATABASE();
        QVERIFY(KTTestDatabase::dropDatabase(dbName));

        _controller = new KTDatabaseController(this);
        QVERIFY(_controller->establishConnection(parameters("main")));
        QSqlQuery create = _controller->customQuery(
            "CREATE TABLE accNote (pkyNote BIGINT UNSIGNED AUTO_INCREMENT PRIMARY KEY, "
            "fldText VARCHAR(200) NOT NULL) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin");
        QVERIFY2(create.isActive(), qPrintable(create.lastError().text()));
    }

    void cleanupTestCase()
    {
        if (_controller) {
            _controller->customQuery("DROP DATABASE IF EXISTS " + dbName);
            _controller->closeConnection("main");
        }
    }

    void init() { _controller->customQuery("DELETE FROM accNote"); }

    void connectingCreatesTheDatabaseAndReportsEachStep()
    {
        KTDatabaseController controller;
        QSignalSpy events(&controller, &KTDatabaseController::eventMessage);
        QSignalSpy status(&controller, &KTDatabaseController::dbStatusChanged);
        QVERIFY(controller.establishConnection(parameters("steps")));
        QVERIFY(controller.connectionStatus());
        QCOMPARE(controller.dbParameters(), parameters("steps"));
        QCOMPARE(status.size(), 1);
        QCOMPARE(status.first().first().toBool(), true);
        QCOMPARE(eventTexts(events), QStringList({"El mapa de BD : 'MySqlDialectMap' fue cargado exitosamente.",
                                                  "Se estableció conexión con BD : " + dbName}));
        QCOMPARE(firstValue(controller.customQuery("SELECT DATABASE()")).toString(), dbName);
        controller.closeConnection("steps");
        QVERIFY(!QSqlDatabase::contains("steps"));
        QVERIFY(!controller.connectionStatus());
    }

    void reconnectingReusesTheNamedConnectionAndForgetsDefinitions()
    {
        KTDatabaseController controller;
        QVERIFY(controller.establishConnection(parameters("twice")));
        KTDbTable borrowed;
        controller.setDbDefinitionMap({{"accNote", &borrowed}});
        QCOMPARE(controller.dbDefinitionMap().size(), 1);
        const int connections = QSqlDatabase::connectionNames().size();

        QVERIFY(controller.establishConnection(parameters("twice")));
        QCOMPARE(QSqlDatabase::connectionNames().size(), connections);
        QVERIFY(controller.dbDefinitionMap().isEmpty());
        QCOMPARE(borrowed._tableName, QString()); // still alive: a borrowed map is never deleted
        QVERIFY(controller.select("accNote", {"COUNT(*)"}, "", "", "", "").isActive());
        controller.closeConnection("twice");
    }

    void sevenParametersLeaveMapAndOptionsEmpty()
    {
        KTDatabaseController controller;
        QSignalSpy events(&controller, &KTDatabaseController::eventMessage);
        QVERIFY(controller.establishConnection(parameters("seven").mid(0, 7)));
        QCOMPARE(controller.dbParameters().size(), 9);
        QCOMPARE(controller.dbParameters().value(7), QString());
        QCOMPARE(controller.dbParameters().value(8), QString());
        // No map: the database cannot be created, but the named one exists already.
        QVERIFY(eventTexts(events).contains("No existe ningún mapa de BD cargado"));
        QVERIFY(eventTexts(events).contains("Se produjo un error al crear BD : " + dbName));
        QVERIFY(!controller.select("accNote", {"pkyNote"}, "", "", "", "").isActive());
        controller.closeConnection("seven");
    }

    void unreachableDatabaseLeavesTheControllerUnusable()
    {
        KTDatabaseController controller;
        QSignalSpy events(&controller, &KTDatabaseController::eventMessage);
        QSignalSpy status(&controller, &KTDatabaseController::dbStatusChanged);
        QStringList wrong = parameters("wrong");
        wrong[KTDatabaseController::Password] = "not-the-password";
        QVERIFY(!controller.establishConnection(wrong));
        QVERIFY(!controller.connectionStatus());
        QVERIFY(!controller.lastConnectionError().isEmpty());
        QCOMPARE(status.size(), 1);
        QCOMPARE(status.first().first().toBool(), false);
        QCOMPARE(events.size(), 1);
        QCOMPARE(events.first().at(1).toInt(), 0);
        QCOMPARE(events.first().at(2).toString(), QStringLiteral("KTDatabaseController::establishConnection()"));
        const QString message = events.first().at(0).toString();
        QVERIFY2(message.startsWith("Error al establecer conexión inicial con BD : " + dbName + "\n   Mensaje : "),
                 qPrintable(message));
        QVERIFY2(message.endsWith("  1045"), qPrintable(message));
        QVERIFY(!controller.select("accNote", {"pkyNote"}, "", "", "", "").isActive());
        QVERIFY(!controller.insertRecords("accNote", {{"NULL", "'x'"}}, {}, {}).isActive());

        // A good connection afterwards makes it usable again.
        QVERIFY(controller.establishConnection(parameters("wrong")));
        QVERIFY(controller.lastConnectionError().isEmpty());
        QVERIFY(controller.select("accNote", {"pkyNote"}, "", "", "", "").isActive());
        controller.closeConnection("wrong");
    }

    void modifiersArePassedOnOnlyWhenThereAreAny()
    {
        QSignalSpy requested(_controller, &KTDatabaseController::updateTableRecordDataModelRequested);
        QVERIFY(_controller->insertRecords("accNote", {{"NULL", "'uno'"}}, {}, {}).isActive());
        QCOMPARE(requested.size(), 0);

        const QList<int> modifiers{1, 0, 1, 0, 1, 0, 0, 1, 0, 0, 1, 1, 0, 0};
        QVERIFY(_controller->insertRecords("accNote", {{"NULL", "'dos'"}}, modifiers, {}).isActive());
        QVERIFY(!_controller->insertRecords("accNote", {{"'no es un número'", "'x'"}}, modifiers, {}).isActive());
        QVERIFY(!_controller->deleteRecords("accMissing", {0, 0, 0, 0, 0, 0, 0, 0, 0, -1, 0, 1, 0}, "").isActive());
        QCOMPARE(requested.size(), 3);
        QCOMPARE(requested.at(0), QVariantList({"accNote", QVariant::fromValue(modifiers)}));
        QCOMPARE(requested.at(2).first().toString(), QStringLiteral("accMissing"));
    }

    void recordOperationsRunTheDialectsStatements()
    {
        QSqlQuery insert = _controller->insertRecords("accNote", {{"NULL", "'uno'"}, {"NULL", "'dos'"}}, {},
                                                      {"pkyNote", "fldText"});
        QVERIFY2(insert.isActive(), qPrintable(insert.lastError().text()));
        QCOMPARE(_controller->lastInsertID(), QStringLiteral("SELECT LAST_INSERT_ID();"));
        const quint64 first = firstValue(_controller->customQuery(_controller->lastInsertID())).toULongLong();
        QVERIFY(first > 0);

        QSqlQuery update = _controller->updateRecords("accNote", {QString::number(first), "'primero'"},
                                                      {"pkyNote", "fldText"}, "pkyNote = " + QString::number(first),
                                                      {});
        QVERIFY2(update.isActive(), qPrintable(update.lastError().text()));
        QCOMPARE(update.numRowsAffected(), 1);

        QSqlQuery select = _controller->select("accNote", {"fldText"}, "", "", "pkyNote", "");
        QStringList texts;
        while (select.next())
            texts << select.value(0).toString();
        QCOMPARE(texts, QStringList({"primero", "dos"}));

        const QString inList = _controller->in({QString::number(first), QString::number(first + 1)});
        QVERIFY(_controller->deleteRecords("accNote", {}, "pkyNote " + inList).isActive());
        QCOMPARE(firstValue(_controller->customQuery("SELECT COUNT(*) FROM accNote")).toInt(), 0);
        QCOMPARE(firstValue(_controller->customQuery("SELECT " + _controller->concat({"'a'", "'b'"}))).toString(),
                 QStringLiteral("ab"));
    }

    void updateWithOnlyTheKeyFailsThroughTheQuery()
    {
        QSqlQuery update = _controller->updateRecords("accNote", {"1"}, {"pkyNote"}, "pkyNote = 1", {});
        QVERIFY(!update.isActive());
        QVERIFY(update.lastError().isValid());
        QCOMPARE(update.lastQuery(), QStringLiteral("UPDATE accNote SET  WHERE pkyNote = 1 ;"));
    }

    void transactionsCommitAndRollBack()
    {
        QVERIFY(_controller->beginTransaction());
        QVERIFY(_controller->insertRecords("accNote", {{"NULL", "'se pierde'"}}, {}, {}).isActive());
        QVERIFY(_controller->rollback());
        QVERIFY(_controller->beginTransaction());
        QVERIFY(_controller->insertRecords("accNote", {{"NULL", "'queda'"}}, {}, {}).isActive());
        QVERIFY(_controller->commit());
        QSqlQuery select = _controller->select("accNote", {"fldText"}, "", "", "", "");
        QVERIFY(select.next());
        QCOMPARE(select.value(0).toString(), QStringLiteral("queda"));
        QVERIFY(!select.next());
    }

    void lockAndUnlockRestoreAutocommit()
    {
        QSqlQuery lock = _controller->lock({"accNote"}, {"N"}, {"WRITE"});
        QVERIFY2(lock.isActive(), qPrintable(lock.lastError().text()));
        QCOMPARE(firstValue(_controller->customQuery("SELECT @@autocommit")).toInt(), 0);
        QVERIFY(_controller->customQuery("SELECT COUNT(*) FROM accNote N").isActive());
        QVERIFY(_controller->unlock().isActive());
        QCOMPARE(firstValue(_controller->customQuery("SELECT @@autocommit")).toInt(), 1);
        QVERIFY(_controller->customQuery("SELECT COUNT(*) FROM accNote").isActive());
    }

    // Losing the session in the middle of a lock request: every later
    // statement of the request fails rather than run on a fresh session
    // without the locks, and the next request starts on a new session.
    void aSessionKilledUnderLocksFailsTheRestOfTheRequest()
    {
        KTDatabaseController client;
        QVERIFY(client.establishConnection(parameters("killed")));
        const QString session = firstValue(client.customQuery("SELECT CONNECTION_ID()")).toString();
        QVERIFY(client.lock({"accNote"}, {""}, {"WRITE"}).isActive());
        QVERIFY(client.insertRecords("accNote", {{"NULL", "'uno'"}}, {}, {}).isActive());

        QVERIFY(_controller->customQuery("KILL " + session).isActive());
        QVERIFY(!client.insertRecords("accNote", {{"NULL", "'dos'"}}, {}, {}).isActive());
        QVERIFY(client.connectionLost());
        QVERIFY(!client.insertRecords("accNote", {{"NULL", "'tres'"}}, {}, {}).isActive());
        QVERIFY(client.connectionLost());
        QVERIFY(!client.rollback());
        QVERIFY(!client.unlock().isActive());
        QCOMPARE(firstValue(_controller->customQuery("SELECT COUNT(*) FROM accNote")).toInt(), 0);

        // The request's boundary: a new session, in autocommit, without locks.
        QVERIFY(client.beginTransaction());
        QVERIFY(firstValue(client.customQuery("SELECT CONNECTION_ID()")).toString() != session);
        QVERIFY(client.insertRecords("accNote", {{"NULL", "'cuatro'"}}, {}, {}).isActive());
        QVERIFY(client.commit());
        QCOMPARE(firstValue(client.customQuery("SELECT @@autocommit")).toInt(), 1);
        QCOMPARE(firstValue(_controller->customQuery("SELECT GROUP_CONCAT(fldText) FROM accNote")).toString(),
                 QStringLiteral("cuatro"));
        client.closeConnection("killed");
    }

    // The COMMIT of an unlock fails (the session is killed just before it):
    // the request reports it, and the next plain request on the same
    // controller runs in autocommit, without locks and without the failed
    // request's row.
    void aFailedCommitInUnlockLeavesACleanSessionForTheNextRequest()
    {
        KTDatabaseController client;
        QVERIFY(client.establishConnection(parameters("unclean")));
        const QString session = firstValue(client.customQuery("SELECT CONNECTION_ID()")).toString();
        QVERIFY(client.lock({"accNote"}, {""}, {"WRITE"}).isActive());
        QVERIFY(client.insertRecords("accNote", {{"NULL", "'fallida'"}}, {}, {}).isActive());
        QVERIFY(_controller->customQuery("KILL " + session).isActive());
        const QSqlQuery unlocked = client.unlock();
        QVERIFY(!unlocked.isActive());
        QVERIFY2(unlocked.lastQuery().startsWith("COMMIT"), qPrintable(unlocked.lastQuery()));

        QVERIFY(client.insertRecords("accNote", {{"NULL", "'siguiente'"}}, {}, {}).isActive());
        QCOMPARE(firstValue(client.customQuery("SELECT @@autocommit")).toInt(), 1);
        QVERIFY(client.lock({"accNote"}, {""}, {"READ"}).isActive());
        QVERIFY(client.unlock().isActive());
        QCOMPARE(firstValue(_controller->customQuery("SELECT GROUP_CONCAT(fldText) FROM accNote")).toString(),
                 QStringLiteral("siguiente"));
        client.closeConnection("unclean");
    }

    // The statement that reopened a lost connection returns before anyone
    // hears that the database is up: listeners rebuild what the caller uses.
    void theRecoveryIsReportedAfterTheStatement()
    {
        KTDatabaseController client;
        QVERIFY(client.establishConnection(parameters("recovers")));
        const QString session = firstValue(client.customQuery("SELECT CONNECTION_ID()")).toString();
        QVERIFY(_controller->customQuery("KILL " + session).isActive());
        QVERIFY(!client.customQuery("SELECT 1").isActive());
        QVERIFY(client.connectionLost());

        QSignalSpy status(&client, &KTDatabaseController::dbStatusChanged);
        bool inside = true;
        bool heardInside = false;
        connect(&client, &KTDatabaseController::dbStatusChanged, this, [&] { heardInside = heardInside || inside; });
        QVERIFY(client.customQuery("SELECT 1").isActive());
        inside = false;
        QVERIFY(!client.connectionLost());
        QVERIFY(status.isEmpty());
        QTRY_COMPARE(status.size(), 1);
        QCOMPARE(status.first().first().toBool(), true);
        QVERIFY(!heardInside);
        client.closeConnection("recovers");
    }

    // A connection that runs clients' text runs one statement per text;
    // locks and key reads still work on it.
    void multipleStatementsCanBeSwitchedOff()
    {
        const QString twoStatements = QStringLiteral("INSERT INTO accNote (fldText) VALUES ('uno'); "
                                                     "INSERT INTO accNote (fldText) VALUES ('dos')");
        _controller->setMultipleStatements(false);
        QVERIFY(!_controller->customQuery(twoStatements).isActive());
        QVERIFY(_controller->lock({"accNote"}, {""}, {"WRITE"}).isActive());
        QVERIFY(_controller->unlock().isActive());
        QVERIFY(_controller->customQuery(_controller->lastInsertID()).isActive());
        QCOMPARE(firstValue(_controller->customQuery("SELECT COUNT(*) FROM accNote")).toInt(), 0);

        _controller->setMultipleStatements(true);
        QVERIFY(_controller->customQuery(twoStatements).isActive());
        QCOMPARE(firstValue(_controller->customQuery("SELECT COUNT(*) FROM accNote")).toInt(), 2);
    }

    void quotedTextsSurviveARoundTrip_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("quote") << "O'Brien";
        QTest::newRow("backslash") << "C:\\datos\\";
        QTest::newRow("backslash before quote") << "fin\\' OR '1'='1";
        QTest::newRow("injection") << "x'); DROP TABLE accNote; -- ";
        QTest::newRow("non-ascii") << "Ñandú – café «ü» 😀";
        QTest::newRow("empty") << "";
        QTest::newRow("controls") << QStringLiteral("línea\nsegunda\tcon\r\x1a y \"dobles\"");
    }

    void quotedTextsSurviveARoundTrip()
    {
        QFETCH(QString, text);
        const QString literal = _controller->quoted(text);
        QVERIFY(literal.startsWith('\'') && literal.endsWith('\''));
        QSqlQuery insert = _controller->insertRecords("accNote", {{"NULL", literal}}, {}, {});
        QVERIFY2(insert.isActive(), qPrintable(insert.lastError().text()));
        QSqlQuery select = _controller->select("accNote", {"fldText"}, "fldText = " + literal, "", "", "");
        QVERIFY(select.next());
        QCOMPARE(select.value(0).toString(), text);
        QVERIFY(!select.next());
        QVERIFY(_controller->customQuery("SELECT 1 FROM accNote").isActive());
    }

    void quotingWithoutAConnectionStillEscapes()
    {
        KTDatabaseController unconnected;
        QCOMPARE(unconnected.quoted("O'Brien \\ x"), QStringLiteral("'O''Brien \\\\ x'"));
    }

    void controllersOnTwoThreadsUseTheirOwnConnections()
    {
        QList<qulonglong> ids;
        QList<QThread*> threads;
        QMutex mutex;
        for (int i = 1; i <= 2; ++i) {
            threads << QThread::create([&, i] {
                KTDatabaseController controller;
                const QString name = QString::number(i);
                if (!controller.establishConnection(parameters(name)))
                    return;
                for (int n = 0; n < 20; ++n)
                    controller.insertRecords("accNote", {{"NULL", controller.quoted(name)}}, {}, {});
                const qulonglong id = firstValue(controller.customQuery("SELECT CONNECTION_ID()")).toULongLong();
                controller.closeConnection(name);
                QMutexLocker locker(&mutex);
                ids << id;
            });
            threads.last()->start();
        }
        for (QThread* thread : threads) {
            QVERIFY(thread->wait(60000));
            delete thread;
        }
        QCOMPARE(ids.size(), 2);
        QVERIFY(ids.at(0) != ids.at(1));
        QSqlQuery counts = _controller->select("accNote", {"fldText", "COUNT(*)"}, "", "fldText", "fldText", "");
        QVERIFY(counts.next());
        QCOMPARE(counts.value(1).toInt(), 20);
        QVERIFY(counts.next());
        QCOMPARE(counts.value(1).toInt(), 20);
        QVERIFY(!QSqlDatabase::contains("1") && !QSqlDatabase::contains("2"));
    }

    // Rights beyond the server's own database are found in the grants as
    // MariaDB writes them, and only those.
    void accountPrivilegesBeyondItsDatabase_data()
    {
        QTest::addColumn<QStringList>("grants");
        QTest::addColumn<QStringList>("excess");
        const QString usage = "GRANT USAGE ON *.* TO `OmbrixAdm`@`localhost` IDENTIFIED BY PASSWORD '*2B60'";
        const QString own = "GRANT ALL PRIVILEGES ON `OmbrixServer`.* TO `OmbrixAdm`@`localhost`";
        QTest::newRow("its database only") << QStringList{usage, own} << QStringList();
        QTest::newRow("everything everywhere")
            << QStringList{"GRANT ALL PRIVILEGES ON *.* TO `OmbrixAdm`@`127.0.0.1` IDENTIFIED BY PASSWORD '*2B'"}
            << QStringList{"ALL PRIVILEGES"};
        QTest::newRow("file and super")
            << QStringList{"GRANT FILE, SUPER ON *.* TO `OmbrixAdm`@`localhost`", own} << QStringList{"FILE", "SUPER"};
        QTest::newRow("reading every database")
            << QStringList{"grant select, process on *.* to 'OmbrixAdm'@'%' WITH GRANT OPTION"}
            << QStringList{"SELECT", "PROCESS"};
        QTest::newRow("a role") << QStringList{"GRANT `lector` TO `OmbrixAdm`@`localhost`", usage} << QStringList();
        QTest::newRow("a database named like every one")
            << QStringList{"GRANT ALL PRIVILEGES ON `ombrix\\_%`.* TO `OmbrixAdm`@`localhost`"} << QStringList();
    }

    void accountPrivilegesBeyondItsDatabase()
    {
        QFETCH(QStringList, grants);
        QFETCH(QStringList, excess);
        QCOMPARE(KTAccountPrivileges::excess(grants), excess);
        QCOMPARE(KTAccountPrivileges::warning("OmbrixAdm", excess, "OmbrixServer").isEmpty(), excess.isEmpty());
        if (!excess.isEmpty())
            QVERIFY(KTAccountPrivileges::warning("OmbrixAdm", excess, "OmbrixServer").contains(excess.join(", ")));
    }

    // The account the test MariaDB is started with is the one operators are
    // told to create: rights on its databases, no FILE, nothing on *.*.
    void theTestAccountHoldsOnlyItsDatabases()
    {
        const QStringList grants = KTAccountPrivileges::grants(_controller);
        QVERIFY(!grants.isEmpty());
        QCOMPARE(KTAccountPrivileges::excess(grants), QStringList());
        QVERIFY(firstValue(_controller->customQuery("SELECT LOAD_FILE('/etc/hostname')")).isNull());
        QVERIFY(!_controller->customQuery("CREATE DATABASE OmbrixElsewhere").isActive());
    }

    // An account given FILE and SUPER, as an operator might, is found out
    // through the server's own connection; its warning names both.
    void aWiderAccountIsFoundOut()
    {
        // The fixture's MariaDB lets the user who started it in through its socket, with every right.
        QSqlDatabase owner = QSqlDatabase::addDatabase("QMYSQL", "owner");
        owner.setUserName(QString::fromLocal8Bit(getpwuid(geteuid())->pw_name));
        owner.setConnectOptions("UNIX_SOCKET=" + qEnvironmentVariable("OMBRIX_TEST_DB_SOCKET"));
        QVERIFY2(owner.open(), qPrintable(owner.lastError().text()));
        QSqlQuery grant(owner);
        QVERIFY(grant.exec("CREATE OR REPLACE USER 'OmbrixWide'@'127.0.0.1' IDENTIFIED BY 'ancho'"));
        QVERIFY(grant.exec("GRANT FILE, SUPER ON *.* TO 'OmbrixWide'@'127.0.0.1'"));
        QVERIFY(grant.exec("GRANT ALL PRIVILEGES ON " + dbName + ".* TO 'OmbrixWide'@'127.0.0.1'"));

        KTDatabaseController wide;
        QStringList params = parameters("wide");
        params[KTDatabaseController::UserName] = "OmbrixWide";
        params[KTDatabaseController::Password] = "ancho";
        QVERIFY(wide.establishConnection(params));
        const QStringList excess = KTAccountPrivileges::excess(KTAccountPrivileges::grants(&wide));
        wide.closeConnection("wide");
        QVERIFY(grant.exec("DROP USER 'OmbrixWide'@'127.0.0.1'"));
        owner.close();
        QCOMPARE(excess, QStringList({"FILE", "SUPER"}));
        const QString warning = KTAccountPrivileges::warning("OmbrixWide", excess, dbName);
        QVERIFY(warning.contains("'OmbrixWide'") && warning.contains("FILE, SUPER") && warning.contains(dbName));
    }
};

QTEST_GUILESS_MAIN(tst_KTDatabaseController)
#include "tst_ktdatabasecontroller.moc"
