#include "KTSessionFixture.h"

#include <KTDatabaseController.h>

#include <QtTest>

namespace {

const QString dbName = QStringLiteral("ombrix_test_search");

QString search(const QString& table, const QString& key, const QString& role)
{
    return KTProtocolClient::actionRequest({KTSessionFixture::action(
        "DbSearchSercom", {{"Key", key}, {"Table", table}, {"SenderWidget", "EditCustomer"}, {"Role", role}},
        "Component", "ComponentOrder")});
}

} // namespace

// Looking records up by key through the wire over the demo tables.
class tst_DbSearchSercom : public QObject
{
    Q_OBJECT

    KTSessionFixture _fixture;

    QString request(const QString& table, const QString& key, const QString& role)
    {
        return _fixture.carla().request(search(table, key, role));
    }

    bool sql(const QString& statement) { return _fixture.controller()->customQuery(statement).isActive(); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(_fixture.start(dbName, "PasswordAuthcom,DbSearchSercom"));
        // Zero references, which only a session without key checks can store.
        QVERIFY(sql("SET FOREIGN_KEY_CHECKS = 0; "
                    "INSERT INTO dbaUserLog VALUES (900, 2, 0, 0, 2, 0, '2026-12-07', '101500', 1, 0, 1, 2, 0, 1); "
                    "UPDATE accUser SET blbIcon = 0 WHERE pkyUser = 1; SET FOREIGN_KEY_CHECKS = 1"));
    }

    void labelsComposeColumnsAndLiterals_data()
    {
        QTest::addColumn<QString>("role");
        QTest::addColumn<QString>("row");
        QTest::newRow("label") << "Label" << "PAP-001 - Resma de papel bond A4 75 g";
        QTest::newRow("browse") << "Browse" << "Resma de papel bond A4 75 g";
    }

    void labelsComposeColumnsAndLiterals()
    {
        QFETCH(QString, role);
        QFETCH(QString, row);
        const QString reply = request("invProduct", "1", role);
        QVERIFY(reply.contains("<ActionRequest ObjectName=\"ComponentOrder\" ObjectType=\"Component\">"));
        QCOMPARE(KTSessionFixture::elements(reply, "Role"), QStringList{role});
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("1"));
        QCOMPARE(KTProtocolClient::element(reply, "Row"), row);
        QCOMPARE(KTSessionFixture::elements(reply, "RowModifiers"), QStringList{QString()});
        QCOMPARE(KTProtocolClient::element(reply, "Key"), QStringLiteral("1"));
        QCOMPARE(KTProtocolClient::element(reply, "SenderWidget"), QStringLiteral("EditCustomer"));
    }

    void completeRecordsEmptyOnlyReferenceZeros()
    {
        // The system tables are an administrator's to search.
        const QString log = _fixture.admin().request(search("dbaUserLog", "900", "Complete"));
        // codObjectType and cosRecordKey read as none, parComponent stays.
        QCOMPARE(KTProtocolClient::element(log, "Row"), QStringLiteral("900|2||0|2||2026-12-07|10:15:00"));
        QCOMPARE(KTProtocolClient::element(log, "RowModifiers"), QStringLiteral("1,0,1,2,0,1"));
        const QString user = _fixture.admin().request(search("accUser", "1", "CompleteCustom"));
        QCOMPARE(KTProtocolClient::element(user, "Row").section('|', 4, 4), QStringLiteral("0"));
        QCOMPARE(KTProtocolClient::element(user, "RowModifiers").split(',').size(), 6);
    }

    void binaryColumnsTravelAsBase64()
    {
        const QString reply = request("invProduct", "1", "Complete");
        const QByteArray image = QByteArray::fromBase64(KTProtocolClient::element(reply, "Row").section('|', 6, 6).toLatin1());
        QCOMPARE(QString::fromLatin1(image.toHex()),
                 _fixture.value("SELECT LOWER(HEX(binImage)) FROM invProduct WHERE pkyProduct = 1"));
        QVERIFY(!image.isEmpty());
    }

    void missingKeyAnswersStatusZero()
    {
        const QString reply = request("invProduct", "999", "Complete");
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("0"));
        QCOMPARE(KTSessionFixture::elements(reply, "Row"), QStringList{QString()});
        QVERIFY(KTSessionFixture::elements(reply, "RowModifiers").isEmpty());
        QCOMPARE(KTProtocolClient::element(reply, "Key"), QStringLiteral("999"));
    }

    void unusableRequestsAreFailures_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("role");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown role") << "invProduct" << "1" << "Todo" << "'Todo'";
        // Asked by an administrator: a restricted user's unknown table is
        // refused before the component, as it is bound to nothing.
        QTest::newRow("unknown table") << "invProducto" << "1" << "Label" << "invProducto";
        QTest::newRow("database error") << "invProduct" << "fldMissing" << "Label" << "fldMissing";
    }

    void unusableRequestsAreFailures()
    {
        QFETCH(QString, table);
        QFETCH(QString, key);
        QFETCH(QString, role);
        QFETCH(QString, message);
        const bool known = table == QLatin1String("invProduct");
        const QString reply = known ? request(table, key, role) : _fixture.admin().request(search(table, key, role));
        QVERIFY(reply.contains("<ActionRequest ObjectName=\"ComponentOrder\" ObjectType=\"Component\">"));
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("0"));
        QVERIFY2(KTProtocolClient::element(reply, "Message").contains(message), qPrintable(reply));
    }
};

QTEST_MAIN(tst_DbSearchSercom)
#include "tst_dbsearchsercom.moc"
