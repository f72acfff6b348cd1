#include "KTSessionFixture.h"

#include <KTServerConnector.h>

#include <QtTest>

namespace {

using Action = KTProtocolClient::Action;
using Parameters = KTProtocolClient::Parameters;

const QString dbName = QStringLiteral("ombrix_test_update");
const QString orderFields = QStringLiteral("pkyOrder,codCustomer,codSalesPlace,codSeller,codPriceList,fldDate,"
                                           "fldTotal,fldNotes,sysEnabled,sysEditable,sysAuthorized,sysVisible,"
                                           "sysContext,sysAuthorizationGroup");

Action update(const QString& table, const QString& fields, const QStringList& rows, const QString& log = "1",
              const QString& where = QString(), const QString& objectName = QStringLiteral("ComponentOrder"))
{
    Parameters params{{"Table", table}, {"Fields", fields}};
    for (const QString& row : rows)
        params.append({"Values", row});
    params.append({"Log", log});
    if (!where.isEmpty())
        params.append({"Where", where});
    return KTSessionFixture::action("DbUpdateSercom", params, "Component", objectName);
}

Action insertOrder(const QString& notes)
{
    return KTSessionFixture::action(
        "DbInsertSercom", {{"Table", "salOrder"}, {"Fields", orderFields}, {"LineNumbers", "1"},
                           {"Values", "NULL|1|1|1|1|'2026-12-07'|0.00|'" + notes + "'|1|2|1|2|0|1"}});
}

} // namespace

Q_DECLARE_METATYPE(KTProtocolClient::Action)

// Updates through the wire over the demo tables.
class tst_DbUpdateSercom : public QObject
{
    Q_OBJECT

    KTSessionFixture _fixture;

    QString request(const QList<Action>& actions)
    {
        return _fixture.admin().request(KTProtocolClient::actionRequest(actions));
    }

    QString notes(int order)
    {
        return _fixture.value(QStringLiteral("SELECT fldNotes FROM salOrder WHERE pkyOrder = %1").arg(order));
    }

    int userLogRows() { return _fixture.count("SELECT COUNT(*) FROM dbaUserLog WHERE codComponentAction = 6"); }

private Q_SLOTS:
    void initTestCase() { QVERIFY(_fixture.start(dbName, "PasswordAuthcom,DbInsertSercom,DbUpdateSercom")); }
    void init() { _fixture.drain(); }

    void loggedUpdateAnswersWithTheRowsReadBack()
    {
        const int logged = userLogRows();
        const QString reply = request({update("salOrder", "pkyOrder,fldNotes,fldTotal", {"1|'Revisado'|99.50"})});
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("1"));
        QCOMPARE(KTProtocolClient::element(reply, "Fields"), QStringLiteral("pkyOrder,fldNotes,fldTotal,"
                                                                             "sysAuthorizationGroup"));
        QCOMPARE(KTProtocolClient::element(reply, "Row"), QStringLiteral("1|Revisado|99.50|2"));
        QCOMPARE(KTProtocolClient::element(reply, "RowDisp"), QStringLiteral("1|Revisado|99.50|2"));
        QCOMPARE(notes(1), QStringLiteral("Revisado"));
        // The requester's group is stamped on the row.
        QCOMPARE(_fixture.value("SELECT sysAuthorizationGroup FROM salOrder WHERE pkyOrder = 1"), QStringLiteral("2"));
        QCOMPARE(userLogRows(), logged + 1);
    }

    void withoutLogTheAnswerIsEmpty()
    {
        QSignalSpy scheduler(_fixture.server().connector(), &KTServerConnector::updateTaskScheduler);
        const int logged = userLogRows();
        QVERIFY(_fixture.admin().send(KTProtocolClient::actionRequest(
            {update("salOrder", "pkyOrder,fldNotes", {"2|'Sin registro'"}, "0", QString(),
                    "ComponentTaskScheduler")})));
        const QStringList replies = _fixture.admin().replies();
        QCOMPARE(replies, QStringList{QString()});
        QCOMPARE(notes(2), QStringLiteral("Sin registro"));
        QCOMPARE(userLogRows(), logged);
        QCOMPARE(scheduler.size(), 0);

        request({update("salOrder", "pkyOrder,fldNotes", {"2|'Con registro'"}, "1", QString(),
                        "ComponentTaskScheduler")});
        QTRY_COMPARE(scheduler.size(), 1);
    }

    // The scheduler reloads its tasks only from a committed request: one
    // that fails after the edit leaves it alone.
    void tasksReloadOnlyAfterTheCommit()
    {
        QSignalSpy scheduler(_fixture.server().connector(), &KTServerConnector::updateTaskScheduler);
        const QString reply = request({update("salOrder", "pkyOrder,fldNotes", {"2|'Revertido'"}, "1", QString(),
                                              "ComponentTaskScheduler"),
                                       KTSessionFixture::action("DbInsertSercom", {{"Table", "tablaInexistente"}})});
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("0"));
        QTest::qWait(200);
        QCOMPARE(scheduler.size(), 0);
        QCOMPARE(notes(2), QStringLiteral("Con registro"));
    }

    void oneConditionForEveryRow()
    {
        // The last row of the request goes first, so the first one stays.
        request({update("salOrder", "pkyOrder,fldNotes", {"0|'primera'", "0|'segunda'"}, "1",
                        "pkyOrder IN (1, 3)")});
        QCOMPARE(notes(1), QStringLiteral("primera"));
        QCOMPARE(notes(3), QStringLiteral("primera"));
        QCOMPARE(notes(2), QStringLiteral("Con registro"));
    }

    void nullKeyIsTheLastGeneratedOne()
    {
        // The insert's user log row must not take the place of the order's key.
        const QString reply = request({insertOrder("nuevo"), update("salOrder", "pkyOrder,fldNotes", {"NULL|'recien'"})});
        const QString order = _fixture.value("SELECT MAX(pkyOrder) FROM salOrder");
        QCOMPARE(notes(order.toInt()), QStringLiteral("recien"));
        QCOMPARE(_fixture.count("SELECT COUNT(*) FROM salOrder WHERE fldNotes = 'recien'"), 1);
        QVERIFY(!reply.isEmpty());
    }

    void referencesResolveInAnyColumn()
    {
        request({insertOrder("destino"),
                 update("salOrderLine", "pkyOrderLine,codOrder", {"1|LID-salOrder-1"}, "1", QString(),
                        "ComponentOrderLine")});
        QCOMPARE(_fixture.value("SELECT o.fldNotes FROM salOrderLine l JOIN salOrder o ON o.pkyOrder = l.codOrder "
                                "WHERE l.pkyOrderLine = 1"),
                 QStringLiteral("destino"));
    }

    void failingRowRollsBackTheRequest()
    {
        const QString reply = request({update("salOrder", "pkyOrder,fldNotes", {"3|'antes del error'"}),
                                       update("salOrder", "pkyOrder,fldTotal", {"1|'no es un número'"})});
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("0"));
        QCOMPARE(notes(3), QStringLiteral("primera"));

        // Without Log the failure is answered all the same.
        const QString silent = request({update("salOrder", "pkyOrder,codCustomer", {"1|999"}, "0")});
        QCOMPARE(KTProtocolClient::element(silent, "Status"), QStringLiteral("0"));
        QVERIFY(KTProtocolClient::element(silent, "Message").contains("Error al editar registros"));
    }

    void malformedRequestsAreRefused_data()
    {
        QTest::addColumn<Action>("action");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown table") << update("salPedido", "pkyOrder,fldNotes", {"1|'x'"}) << "salPedido";
        QTest::newRow("short row") << update("salOrder", "pkyOrder,fldNotes,fldTotal", {"1|'x'"}) << "salOrder";
    }

    void malformedRequestsAreRefused()
    {
        QFETCH(Action, action);
        QFETCH(QString, message);
        const QString reply = request({action});
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("0"));
        QVERIFY2(KTProtocolClient::element(reply, "Message").contains(message), qPrintable(reply));
    }
};

QTEST_MAIN(tst_DbUpdateSercom)
#include "tst_dbupdatesercom.moc"
