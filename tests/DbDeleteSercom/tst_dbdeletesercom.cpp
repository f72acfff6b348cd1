#include "KTSessionFixture.h"

#include <KTDatabaseController.h>
#include <KTServerConnector.h>

#include <QtTest>

namespace {

using Action = KTProtocolClient::Action;

const QString dbName = QStringLiteral("ombrix_test_delete");

// entries: key followed by sysEnabled, sysEditable, sysAuthorized, sysVisible.
Action remove(const QString& table, const QStringList& entries, const QString& details = QString())
{
    KTProtocolClient::Parameters params{{"Table", table}, {"DetailTables", details}};
    for (const QString& entry : entries)
        params.append({"Values", entry});
    return KTSessionFixture::action("DbDeleteSercom", params, "Component", "ComponentUser");
}

} // namespace

Q_DECLARE_METATYPE(KTProtocolClient::Action)

// Deletes through the wire over the demo tables, with their detail rows and
// the counters the client's system values call for.
class tst_DbDeleteSercom : public QObject
{
    Q_OBJECT

    KTSessionFixture _fixture;

    QString request(const Action& action)
    {
        return _fixture.admin().request(KTProtocolClient::actionRequest({action}));
    }

    bool sql(const QString& statement) { return _fixture.controller()->customQuery(statement).isActive(); }

    // A user like cmendez with one login row and one log row, which keep it from being deleted alone.
    bool createUser(int key)
    {
        return sql(QStringLiteral("INSERT INTO accUser SELECT %1, 'usuario%1', fldName, codType, blbIcon, codWarehouse, "
                                  "codSalesPlace, codPriceList, codSeller, codPettyCash, fldEmail, 1, 2, 1, 2, 0, 1 "
                                  "FROM accUser WHERE pkyUser = 3").arg(key))
            && sql(QStringLiteral("INSERT INTO accUserIdentifier VALUES (NULL, %1, 1, 'clave', NULL, 1, 2, 1, 2, 0, 1)")
                       .arg(key))
            && sql(QStringLiteral("INSERT INTO dbaUserLog VALUES (NULL, %1, 2, 0, 2, 0, '2026-12-07', '101500', "
                                  "1, 0, 1, 2, 0, 1)").arg(key));
    }

    int rows(const QString& table, const QString& column, int key)
    {
        return _fixture.count(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE %2 = %3").arg(table, column).arg(key));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(_fixture.start(dbName, "PasswordAuthcom,DbDeleteSercom"));
        // Each detail delete leaves its mark, so that the order shows.
        QVERIFY(sql("CREATE TABLE deletionOrder (n INT AUTO_INCREMENT PRIMARY KEY, tableName VARCHAR(40))"));
        for (const char* table : {"accUser", "accUserIdentifier", "dbaUserLog"})
            QVERIFY(sql(QStringLiteral("CREATE TRIGGER trg%1 BEFORE DELETE ON %1 FOR EACH ROW "
                                       "INSERT INTO deletionOrder (tableName) VALUES ('%1')").arg(table)));
    }

    void init() { _fixture.drain(); }

    void detailTablesGoFirstLastNamedFirst()
    {
        QVERIFY(createUser(20));
        QVERIFY(sql("DELETE FROM deletionOrder"));
        QSignalSpy deltas(_fixture.server().connector(), &KTServerConnector::updateTableRecordDataModelRequested);
        const QString reply = request(remove("accUser", {"20,1,2,1,2"}, "dbaUserLog,accUserIdentifier"));
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("1"));
        QCOMPARE(KTSessionFixture::elements(reply, "RecordKey"), QStringList{"20"});
        QCOMPARE(_fixture.value("SELECT GROUP_CONCAT(tableName ORDER BY n) FROM deletionOrder"),
                 QStringLiteral("accUserIdentifier,dbaUserLog,accUser"));
        QCOMPARE(rows("accUser", "pkyUser", 20), 0);

        // Detail rows count with the master's system values.
        QTRY_VERIFY(KTSessionFixture::deltas(deltas).contains("accUserIdentifier"));
        const QList<int> removed{-1, 0, -1, 0, -1, 0, 0, -1, 0, 0, -1, -1, 1, 0};
        QCOMPARE(KTSessionFixture::deltas(deltas).value("accUserIdentifier"), removed);
        QCOMPARE(KTSessionFixture::deltas(deltas).value("accUser"), removed);
    }

    void unknownLevelsMoveNoAccessOrVisibilityCounter()
    {
        QVERIFY(createUser(21));
        QSignalSpy deltas(_fixture.server().connector(), &KTServerConnector::updateTableRecordDataModelRequested);
        request(remove("accUser", {"21,0,3,0,5"}, "dbaUserLog,accUserIdentifier"));
        QTRY_VERIFY(KTSessionFixture::deltas(deltas).contains("accUser"));
        QCOMPARE(KTSessionFixture::deltas(deltas).value("accUser"),
                 QList<int>({0, -1, 0, -1, 0, 0, 0, 0, 0, 0, -1, -1, 1, 0}));
    }

    void everyKeyIsAnsweredInRequestOrder()
    {
        QVERIFY(createUser(22));
        const QString reply = request(remove("accUser", {"22,1,2,1,2", "999,1,2,1,2"}, "dbaUserLog,accUserIdentifier"));
        QCOMPARE(KTSessionFixture::elements(reply, "RecordKey"), QStringList({"22", "999"}));
        // The last delete matched nothing.
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("0"));
        QCOMPARE(rows("accUser", "pkyUser", 22), 0);
        QCOMPARE(_fixture.count("SELECT COUNT(*) FROM dbaUserLog WHERE codComponentAction = 4 AND cosRecordKey = 22"),
                 1);
    }

    void failedMasterDeleteRestoresTheDetailRows()
    {
        QVERIFY(createUser(23));
        // The log row still refers to the user, so the user cannot go.
        const QString reply = request(remove("accUser", {"23,1,2,1,2"}, "accUserIdentifier"));
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("0"));
        QVERIFY(KTProtocolClient::element(reply, "Message").contains("Error al eliminar registros"));
        QCOMPARE(rows("accUserIdentifier", "codUser", 23), 1);
        QCOMPARE(rows("accUser", "pkyUser", 23), 1);
    }

    void keysAreValuesNotConditions()
    {
        const int users = _fixture.count("SELECT COUNT(*) FROM accUser");
        request(remove("accUser", {"0 OR 1 = 1,1,2,1,2"}, "dbaUserLog,accUserIdentifier"));
        QCOMPARE(_fixture.count("SELECT COUNT(*) FROM accUser"), users);
    }

    void malformedRequestsAreRefused_data()
    {
        QTest::addColumn<Action>("action");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown table") << remove("accUsuario", {"1,1,2,1,2"}) << "accUsuario";
        QTest::newRow("unknown detail table") << remove("accUser", {"1,1,2,1,2"}, "accClave") << "accClave";
        QTest::newRow("short entry") << remove("accUser", {"1,1,2"}) << "accUser";
    }

    void malformedRequestsAreRefused()
    {
        QFETCH(Action, action);
        QFETCH(QString, message);
        const QString reply = request(action);
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("0"));
        QVERIFY2(KTProtocolClient::element(reply, "Message").contains(message), qPrintable(reply));
        QCOMPARE(rows("accUser", "pkyUser", 1), 1);
    }
};

QTEST_MAIN(tst_DbDeleteSercom)
#include "tst_dbdeletesercom.moc"
