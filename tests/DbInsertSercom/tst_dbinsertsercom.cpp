#include "KTSessionFixture.h"

#include <KTDatabaseController.h>

#include <QtTest>

namespace {

using Action = KTProtocolClient::Action;

const QString dbName = QStringLiteral("ombrix_test_insert");
const QString systemFields = QStringLiteral(",sysEnabled,sysEditable,sysAuthorized,sysVisible,sysContext,"
                                            "sysAuthorizationGroup");
const QString orderFields = QStringLiteral("pkyOrder,codCustomer,codSalesPlace,codSeller,codPriceList,fldDate,"
                                           "fldTotal,fldNotes") + systemFields;
const QString lineFields = QStringLiteral("pkyOrderLine,codOrder,codProduct,fldQuantity,fldUnitPrice,fldAmount")
    + systemFields;
const QString productFields = QStringLiteral("pkyProduct,codProductCategory,fldCode,fldName,fldUnit,fldPrice,binImage")
    + systemFields;
const QString userLogFields = QStringLiteral("pkyUserLog,codUser,codObjectType,parComponent,codComponentAction,"
                                             "cosRecordKey,fldDate,fldTime") + systemFields;
const QString systemValues = QStringLiteral("|1|2|1|2|0|1");

// One insert action; rows go in the order given, with line numbers 1, 2, ...
Action insert(const QString& table, const QString& fields, const QStringList& rows,
              const QString& objectType = QStringLiteral("Component"),
              const QString& objectName = QStringLiteral("ComponentOrder"))
{
    Action action;
    action.component = QStringLiteral("DbInsertSercom");
    action.objectType = objectType;
    action.objectName = objectName;
    QStringList lines;
    action.parameters << qMakePair(QStringLiteral("Table"), table) << qMakePair(QStringLiteral("Fields"), fields);
    for (const QString& row : rows) {
        action.parameters << qMakePair(QStringLiteral("Values"), row);
        lines << QString::number(lines.size() + 1);
    }
    action.parameters << qMakePair(QStringLiteral("LineNumbers"), lines.join(QLatin1Char(',')));
    return action;
}

QString order(const QString& notes, const QString& key = QStringLiteral("NULL"))
{
    return key + QStringLiteral("|1|1|1|1|'2026-12-07'|100.00|%1").arg(notes) + systemValues;
}

QString line(const QString& order, const QString& product, const QString& quantity)
{
    return QStringLiteral("NULL|%1|%2|%3|10.00|0.00").arg(order, product, quantity) + systemValues;
}

QString status(const QString& reply)
{
    return KTProtocolClient::element(reply, QStringLiteral("Status"));
}

} // namespace

Q_DECLARE_METATYPE(KTProtocolClient::Action)

// Inserts through the wire into the demo tables: generated keys per line
// number, references to them from later actions, binary fields and the
// rows read back with their keys resolved.
class tst_DbInsertSercom : public QObject
{
    Q_OBJECT

    KTSessionFixture _fixture;

    QString request(const QList<Action>& actions)
    {
        return _fixture.admin().request(KTProtocolClient::actionRequest(actions));
    }

    // Every reply of a request: the first one, then whatever follows it.
    QStringList requestAll(const QList<Action>& actions)
    {
        QStringList replies{request(actions)};
        return replies + _fixture.admin().replies();
    }

    QString lastOrder() { return _fixture.value("SELECT MAX(pkyOrder) FROM salOrder"); }

private Q_SLOTS:
    void initTestCase() { QVERIFY(_fixture.start(dbName, "PasswordAuthcom,DbInsertSercom")); }
    void init() { _fixture.drain(); }

    void masterAndDetailInOneRequest()
    {
        const QStringList replies = requestAll(
            {insert("salOrder", orderFields, {order("'Pedido de Carla'")}),
             insert("salOrderLine", lineFields,
                    {line("LID-salOrder-1", "1", "1.00"), line("LID-salOrder-1", "2", "2.00")},
                    "Component", "ComponentOrderLine")});
        QCOMPARE(replies.size(), 2);
        QCOMPARE(status(replies.at(0)), QStringLiteral("1"));
        QCOMPARE(status(replies.at(1)), QStringLiteral("1"));
        const QString master = lastOrder();
        QCOMPARE(_fixture.value("SELECT fldNotes FROM salOrder WHERE pkyOrder = " + master),
                 QStringLiteral("Pedido de Carla"));
        QCOMPARE(_fixture.count("SELECT COUNT(*) FROM salOrderLine WHERE codOrder = " + master), 2);

        // The last row of the request goes in first, and comes back first.
        const QString first = _fixture.value("SELECT MIN(pkyOrderLine) FROM salOrderLine WHERE codOrder = " + master);
        QCOMPARE(_fixture.value("SELECT fldQuantity FROM salOrderLine WHERE pkyOrderLine = " + first),
                 QStringLiteral("2.00"));
        const QStringList rows = KTSessionFixture::elements(replies.at(1), "Row");
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows.at(0).section('|', 0, 0), first);
        QCOMPARE(rows.at(0).section('|', 1, 1), master);
        QCOMPARE(KTProtocolClient::element(replies.at(1), "RowCount"), QStringLiteral("2"));
        QCOMPARE(KTProtocolClient::element(replies.at(1), "Fields"), lineFields);
        QCOMPARE(KTProtocolClient::element(replies.at(1), "MainTransaction"), QStringLiteral("0"));

        // Display values: the order and the product by their labels, the rest as sent.
        const QStringList display = KTSessionFixture::elements(replies.at(1), "RowDisp").first().split('|');
        QCOMPARE(display.size(), 12);
        QVERIFY2(display.at(1).contains(master), qPrintable(display.at(1)));
        QCOMPARE(display.at(2), QStringLiteral("Bolígrafo azul, caja de 12"));
        QCOMPARE(display.at(3), QStringLiteral("2.00"));
    }

    void keysAreRecordedPerLineNumber()
    {
        // Two masters in one action: line 2 is inserted first, and each
        // detail finds the master of its own line.
        const QStringList replies = requestAll(
            {insert("salOrder", orderFields, {order("'linea uno'"), order("'linea dos'")}),
             insert("salOrderLine", lineFields,
                    {line("LID-salOrder-1", "1", "11.00"), line("LID-salOrder-2", "1", "22.00")})});
        QCOMPARE(status(replies.at(1)), QStringLiteral("1"));
        QCOMPARE(_fixture.value("SELECT o.fldNotes FROM salOrderLine l JOIN salOrder o ON o.pkyOrder = l.codOrder "
                                "WHERE l.fldQuantity = 11.00"),
                 QStringLiteral("linea uno"));
        QCOMPARE(_fixture.value("SELECT o.fldNotes FROM salOrderLine l JOIN salOrder o ON o.pkyOrder = l.codOrder "
                                "WHERE l.fldQuantity = 22.00"),
                 QStringLiteral("linea dos"));
        QVERIFY(_fixture.count("SELECT pkyOrder FROM salOrder WHERE fldNotes = 'linea dos'")
                < _fixture.count("SELECT pkyOrder FROM salOrder WHERE fldNotes = 'linea uno'"));
    }

    void referencesDoNotOutliveTheirRequest()
    {
        QCOMPARE(status(request({insert("salOrder", orderFields, {order("'anterior'")})})), QStringLiteral("1"));
        // A line nobody recorded in this request reads as 0.
        const QString reply = request({insert("salOrder", orderFields, {order("LID-salOrder-1")})});
        QCOMPARE(status(reply), QStringLiteral("1"));
        QCOMPARE(_fixture.value("SELECT fldNotes FROM salOrder WHERE pkyOrder = " + lastOrder()), QStringLiteral("0"));
    }

    void givenKeyIsReadBackByThatKey()
    {
        const QString reply = request({insert("salOrder", orderFields, {order("'con clave'", "9000")})});
        QCOMPARE(status(reply), QStringLiteral("1"));
        QCOMPARE(KTProtocolClient::element(reply, "Row").section('|', 0, 0), QStringLiteral("9000"));
        QCOMPARE(KTProtocolClient::element(reply, "Row").section('|', 7, 7), QStringLiteral("con clave"));
    }

    void systemColumnsAreTakenAsTheyCome()
    {
        // The group always becomes the requester's; a reference-looking
        // systemValues value is not resolved, so the database rejects it.
        QCOMPARE(status(request({insert("salOrder", orderFields, {order("'grupo'").replace("|0|1", "|0|99")})})),
                 QStringLiteral("1"));
        QCOMPARE(_fixture.value("SELECT sysAuthorizationGroup FROM salOrder WHERE fldNotes = 'grupo'"),
                 QStringLiteral("2"));
        const QString rejected = request({insert("salOrder", orderFields, {order("'a'"), order("'b'")}),
                                          insert("salOrder", orderFields,
                                                 {order("'contexto'").replace("|0|1", "|LID-salOrder-1|1")})});
        QCOMPARE(status(rejected), QStringLiteral("0"));
        QCOMPARE(_fixture.count("SELECT COUNT(*) FROM salOrder WHERE fldNotes IN ('a', 'b', 'contexto')"), 0);
    }

    void zeroReferencesComeBackEmpty()
    {
        const QString row = QStringLiteral("NULL|2|2|0|2|0|'2026-12-07'|'101500'|1|0|1|2|0|1");
        const QString reply = request({insert("dbaUserLog", userLogFields, {row}, "Object", "ComponentUser")});
        QCOMPARE(status(reply), QStringLiteral("1"));
        const QStringList values = KTProtocolClient::element(reply, "Row").split('|');
        const QStringList display = KTProtocolClient::element(reply, "RowDisp").split('|');
        QCOMPARE(values.size(), 14);
        QCOMPARE(values.at(3), QString());
        QCOMPARE(values.at(5), QString());
        QCOMPARE(display.at(3), QString());
        QCOMPARE(display.at(5), QString());
        QCOMPARE(values.at(1), QStringLiteral("2"));
        QCOMPARE(display.at(1), QStringLiteral("admin"));
    }

    void binaryFieldRoundTrips()
    {
        const QByteArray image("\x00'\"\\;\xff\x89PNG\r\n", 12);
        const QString row = QStringLiteral("NULL|1|'IMG-001'|'Con imagen'|'Unidad'|5.00|%1").arg(QString::fromLatin1(
                                image.toBase64())) + systemValues;
        const QString reply = request({insert("invProduct", productFields, {row}, "Component", "ComponentProduct")});
        QCOMPARE(status(reply), QStringLiteral("1"));
        QCOMPARE(_fixture.value("SELECT HEX(binImage) FROM invProduct WHERE fldCode = 'IMG-001'"),
                 QString::fromLatin1(image.toHex().toUpper()));
        QCOMPARE(KTProtocolClient::element(reply, "Row").section('|', 6, 6), QString::fromLatin1(image.toBase64()));
        QCOMPARE(KTProtocolClient::element(reply, "RowDisp").section('|', 6, 6), QString::fromLatin1(image.toBase64()));
    }

    void componentRequestsAreLogged()
    {
        const QString logged = "SELECT COUNT(*) FROM dbaUserLog WHERE codUser = 2 AND parComponent = 401002 "
                               "AND codComponentAction = 2 AND cosRecordKey = ";
        QCOMPARE(status(request({insert("salOrder", orderFields, {order("'registrado'")})})), QStringLiteral("1"));
        QCOMPARE(_fixture.count(logged + lastOrder()), 1);
        QCOMPARE(status(request({insert("salOrder", orderFields, {order("'sin registro'")}, "Object")})),
                 QStringLiteral("1"));
        QCOMPARE(_fixture.count("SELECT COUNT(*) FROM dbaUserLog WHERE cosRecordKey = " + lastOrder()), 0);
    }

    void malformedRequestsAreAnsweredAndWriteNothing_data()
    {
        QTest::addColumn<Action>("action");
        QTest::addColumn<QString>("message");
        Action mismatch = insert("salOrder", orderFields, {order("'desparejo'")});
        mismatch.parameters.last().second = "1,2";
        QTest::newRow("line numbers") << mismatch << "no contiene la misma cantidad de líneas";
        QTest::newRow("unknown table") << insert("salPedido", orderFields, {order("'desparejo'")}) << "salPedido";
        QTest::newRow("short row") << insert("salOrder", orderFields, {"NULL|1|1|1|'desparejo'"}) << "salOrder";
        QTest::newRow("no systemValues fields")
            << insert("salOrder", "pkyOrder,fldNotes", {"NULL|'desparejo'"}) << "salOrder";
        // The server's group would go into sysContext, the client's into the group.
        QString swapped = orderFields;
        swapped.replace("sysContext,sysAuthorizationGroup", "sysAuthorizationGroup,sysContext");
        QTest::newRow("group not last") << insert("salOrder", swapped, {order("'desparejo'")})
                                        << "no termina con el campo sysAuthorizationGroup";
    }

    void malformedRequestsAreAnsweredAndWriteNothing()
    {
        QFETCH(Action, action);
        QFETCH(QString, message);
        const QString reply = request({action});
        QCOMPARE(KTProtocolClient::rootTag(reply), QStringLiteral("ActionRequest"));
        QCOMPARE(status(reply), QStringLiteral("0"));
        QVERIFY2(KTProtocolClient::element(reply, "Message").contains(message), qPrintable(reply));
        QCOMPARE(_fixture.count("SELECT COUNT(*) FROM salOrder WHERE fldNotes = 'desparejo'"), 0);
    }

    void databaseErrorNamesTheParentComponent()
    {
        const QString fields = QStringLiteral("pkyComponent,fldName,fldAlias,fldModuleName,codObjectType,"
                                              "fldParentComponent,fldDescription") + systemFields;
        const QString reply = request({insert(
            "srvComponent", fields, {"101001|'Duplicado'|'Dup'|'Sistema'|2|'ComponentUser'|NULL" + systemValues},
            "Component", "ComponentComponent")});
        QCOMPARE(status(reply), QStringLiteral("0"));
        QCOMPARE(KTProtocolClient::element(reply, "ParentComponent"), QStringLiteral("ComponentUser"));
        QVERIFY(KTProtocolClient::element(reply, "Message").contains("Duplicate"));
    }
};

QTEST_MAIN(tst_DbInsertSercom)
#include "tst_dbinsertsercom.moc"
