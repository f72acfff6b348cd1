#include "KTSessionFixture.h"

#include <QtTest>

namespace {

const QString dbName = QStringLiteral("ombrix_test_select");

QString select(const QString& from, const QString& fields, const QString& where,
               const QString& orderBy = QString(), const QString& groupBy = QString())
{
    KTProtocolClient::Action action;
    action.component = QStringLiteral("DbSelectSercom");
    action.objectType = QStringLiteral("Object");
    action.objectName = QStringLiteral("ComponentOrder");
    action.parameters = {{"RequestNumber", "17"}, {"RequestName", "Pedidos"}, {"From", from}, {"Fields", fields},
                         {"Where", where}, {"OrderBy", orderBy}, {"GroupBy", groupBy}};
    return KTProtocolClient::actionRequest({action});
}

} // namespace

// Client-composed selects through the wire over the demo tables.
class tst_DbSelectSercom : public QObject
{
    Q_OBJECT

    KTSessionFixture _fixture;

    QString request(const QString& xml) { return _fixture.carla().request(xml); }

private Q_SLOTS:
    void initTestCase() { QVERIFY(_fixture.start(dbName, "PasswordAuthcom,DbSelectSercom")); }

    void rowsHoldOneValuePerExpression_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("fields");
        QTest::addColumn<QString>("where");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("commas written as ..")
            << "invProduct" << "pkyProduct,CONCAT(fldCode..' / '..fldUnit)" << "pkyProduct = 1"
            << QStringList{"1|PAP-001 / Paquete"};
        QTest::newRow("null is empty") << "salOrder" << "pkyOrder,fldNotes,fldTotal" << "pkyOrder IN (1, 2)"
                                       << QStringList{"1||428.00", "2|Entregar en la portería del colegio|835.82"};
        QTest::newRow("columns beyond the expressions") << "salOrder" << "*,fldDate" << "pkyOrder = 3"
                                                        << QStringList{"3|3"};
        QTest::newRow("several tables")
            << "salOrder T1,salCustomer T2" << "T1.pkyOrder,T2.fldName"
            << "T1.codCustomer = T2.pkyCustomer AND T1.pkyOrder = 2" << QStringList{"2|Colegio Santa Rosa"};
        QTest::newRow("no rows") << "salOrder" << "pkyOrder" << "pkyOrder = 0" << QStringList();
    }

    void rowsHoldOneValuePerExpression()
    {
        QFETCH(QString, from);
        QFETCH(QString, fields);
        QFETCH(QString, where);
        QFETCH(QStringList, rows);
        const QString reply = request(select(from, fields, where, "1"));
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("1"));
        QCOMPARE(KTProtocolClient::element(reply, "RequestNumber"), QStringLiteral("17"));
        QCOMPARE(KTProtocolClient::element(reply, "RequestName"), QStringLiteral("Pedidos"));
        QCOMPARE(KTProtocolClient::element(reply, "RowCount"), QString::number(rows.size()));
        QCOMPARE(KTSessionFixture::elements(reply, "Row"), rows);
    }

    void groupingAndOrderReachTheStatement()
    {
        const QString reply = request(select("salOrderLine", "codOrder,COUNT(*)", "", "codOrder DESC", "codOrder"));
        const QStringList rows = KTSessionFixture::elements(reply, "Row");
        QVERIFY(rows.size() >= 2);
        QVERIFY(rows.first().section('|', 0, 0).toInt() > rows.last().section('|', 0, 0).toInt());
        QCOMPARE(rows.last(), QStringLiteral("1|2"));
    }

    void databaseErrorIsAnswered()
    {
        const QString reply = request(select("salOrder", "fldMissing", ""));
        QCOMPARE(KTProtocolClient::rootTag(reply), QStringLiteral("ActionRequest"));
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("0"));
        QCOMPARE(KTProtocolClient::element(reply, "RequestNumber"), QStringLiteral("17"));
        QVERIFY2(KTProtocolClient::element(reply, "Message").contains("fldMissing"), qPrintable(reply));
        QVERIFY(KTSessionFixture::elements(reply, "Row").isEmpty());
    }
};

QTEST_MAIN(tst_DbSelectSercom)
#include "tst_dbselectsercom.moc"
