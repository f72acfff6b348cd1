#include "KTSessionFixture.h"
#include "KTTestServer.h"

#include <KTConnectionLimits.h>

#include <KTDatabaseController.h>
#include <KTPluginLoader.h>
#include <KTSercomBase.h>
#include <KTServerConnector.h>

#include <QCryptographicHash>
#include <QSqlQuery>
#include <QtTest>

#include <memory>

namespace {

const QString dbName = QStringLiteral("ombrix_test_browse");

struct Browse
{
    QString table = QStringLiteral("invProductCategory");
    QString limit = QStringLiteral("100");
    QString stats;
    QString where;
    QString resolveKeys = QStringLiteral("0");

    QString request() const
    {
        KTProtocolClient::Action action;
        action.component = QStringLiteral("DbBrowseSercom");
        action.objectType = QStringLiteral("Component");
        action.objectName = QStringLiteral("ComponentProduct");
        action.objectNameEmbedded = QStringLiteral("GridProducts");
        action.parameters = {{"Table", table}, {"Where", where}, {"OrderBy", "1"}, {"Limit", limit},
                             {"ResolveKeys", resolveKeys}, {"Stats", stats}, {"CallerComponent", "ComponentProduct"},
                             {"FillSetModel", "ModelCategories"}, {"Pack", "3"}};
        return KTProtocolClient::actionRequest({action});
    }
};

QString element(const QString& reply, const QString& tag)
{
    return KTProtocolClient::element(reply, tag);
}

// The inserts, deletes and edits of a reply's statistics, as the client sends them back.
QString clientStats(const QString& reply)
{
    return element(reply, "Stats").section(',', 1, 3);
}

// The values of one column over every row of a reply.
QStringList column(const QString& reply, const QString& field, const QString& rowTag = QStringLiteral("Row"))
{
    const int position = int(element(reply, "Fields").split(',').indexOf(field));
    QStringList values;
    for (const QString& row : KTSessionFixture::elements(reply, rowTag))
        values << row.section('|', position, position);
    return values;
}

} // namespace

// Browsing the demo tables through the wire: what each user type may see,
// and the answer that saves the transfer when nothing changed.
class tst_DbBrowseSercom : public QObject
{
    Q_OBJECT

    KTSessionFixture _fixture;

    QString adminBrowse(const Browse& browse) { return _fixture.admin().request(browse.request()); }
    QString carlaBrowse(const Browse& browse) { return _fixture.carla().request(browse.request()); }

    quint64 selects() const
    {
        QSqlQuery status = _fixture.controller()->customQuery("SHOW GLOBAL STATUS LIKE 'Com_select'");
        return status.next() ? status.value(1).toULongLong() : 0;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(_fixture.start(dbName, "PasswordAuthcom,DbInsertSercom,DbBrowseSercom"));
        // One category only administrators see, one nobody but super users sees.
        QVERIFY(_fixture.controller()->customQuery(
            "UPDATE invProductCategory SET sysVisible = 1 WHERE pkyProductCategory = 2").isActive());
        QVERIFY(_fixture.controller()->customQuery(
            "UPDATE invProductCategory SET sysVisible = 0 WHERE pkyProductCategory = 3").isActive());
    }

    void init() { _fixture.drain(); }

    void firstBrowseSendsRowsAndRepeatSavesTheTransfer()
    {
        const QList<quint64> stats = _fixture.window().tableMainStats("invProductCategory");
        QCOMPARE(stats.size(), 7);
        Browse browse;
        browse.stats = QStringLiteral("%1,%2,%3").arg(stats.at(1)).arg(stats.at(2)).arg(stats.at(3));
        const QString first = adminBrowse(browse);
        QCOMPARE(KTProtocolClient::rootTag(first), QStringLiteral("ActionRequest"));
        QVERIFY(first.contains("ObjectNameEmbedded=\"GridProducts\""));
        QCOMPARE(element(first, "Status"), QStringLiteral("1"));
        QCOMPARE(element(first, "CallerComponent"), QStringLiteral("ComponentProduct"));
        QCOMPARE(KTSessionFixture::elements(first, "FillSetModel").value(1), QStringLiteral("ModelCategories"));
        QCOMPARE(element(first, "Pack"), QStringLiteral("3"));
        QCOMPARE(element(first, "Table"), QStringLiteral("invProductCategory"));
        QCOMPARE(element(first, "Fields"),
                 QStringLiteral("pkyProductCategory,fldName,fldDescription,sysEnabled,sysEditable,sysAuthorized,"
                                "sysVisible,sysContext,sysAuthorizationGroup"));
        const int rows = int(KTSessionFixture::elements(first, "Row").size());
        QCOMPARE(element(first, "RowCount"), QString::number(rows));
        QCOMPARE(rows, _fixture.count("SELECT COUNT(*) FROM invProductCategory WHERE sysVisible >= 1"));
        QCOMPARE(KTSessionFixture::elements(first, "RowDisp"), KTSessionFixture::elements(first, "Row"));

        browse.stats = clientStats(first);
        const quint64 before = selects();
        const QString repeated = adminBrowse(browse);
        QCOMPARE(selects(), before);
        QCOMPARE(element(repeated, "Status"), QStringLiteral("0"));
        QCOMPARE(element(repeated, "Stats"), element(first, "Stats"));
        for (const char* tag : {"Pack", "RowCount", "Fields", "Row", "RowDisp"})
            QVERIFY2(KTSessionFixture::elements(repeated, tag).isEmpty(), tag);

        // Another limit is another set of rows.
        browse.limit = QStringLiteral("1");
        const QString limited = adminBrowse(browse);
        QCOMPARE(element(limited, "Status"), QStringLiteral("1"));
        QCOMPARE(KTSessionFixture::elements(limited, "Row").size(), 1);
    }

    void limitsAreKeptPerConnection()
    {
        Browse browse;
        browse.table = QStringLiteral("invProduct");
        browse.stats = clientStats(adminBrowse(browse));
        QCOMPARE(element(adminBrowse(browse), "Status"), QStringLiteral("0"));
        QCOMPARE(element(carlaBrowse(browse), "Status"), QStringLiteral("1"));
    }

    void committedInsertCountsAsChanged()
    {
        Browse browse;
        browse.limit = QStringLiteral("50");
        browse.stats = clientStats(adminBrowse(browse));
        const quint64 inserts = _fixture.window().tableMainStats("invProductCategory").at(1);
        KTProtocolClient::Action insert;
        insert.component = QStringLiteral("DbInsertSercom");
        insert.parameters = {{"Table", "invProductCategory"},
                             {"Fields", "pkyProductCategory,fldName,fldDescription,sysEnabled,sysEditable,"
                                        "sysAuthorized,sysVisible,sysContext,sysAuthorizationGroup"},
                             {"Values", "NULL|'Nueva'|NULL|1|2|1|2|0|1"}, {"LineNumbers", "1"}};
        QCOMPARE(element(_fixture.admin().request(KTProtocolClient::actionRequest({insert})), "Status"),
                 QStringLiteral("1"));
        QTRY_COMPARE(_fixture.window().tableMainStats("invProductCategory").at(1), inserts + 1);

        const QString reply = adminBrowse(browse);
        QCOMPARE(element(reply, "Status"), QStringLiteral("1"));
        QVERIFY(column(reply, "fldName").contains("Nueva"));
        QCOMPARE(element(reply, "Stats").section(',', 1, 1), QString::number(inserts + 1));
    }

    void normalUserSeesOnlyWhatIsVisibleToEveryone_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("resolveKeys");
        QTest::addColumn<QString>("limit");
        // A new limit each time, so that rows always come.
        QTest::newRow("no condition") << "" << "0" << "11";
        QTest::newRow("widening condition") << "1 = 1 OR 1 = 1" << "0" << "12";
        QTest::newRow("resolved, widening condition") << "1 = 1 OR T0.sysVisible < 2" << "1" << "13";
    }

    void normalUserSeesOnlyWhatIsVisibleToEveryone()
    {
        QFETCH(QString, where);
        QFETCH(QString, resolveKeys);
        QFETCH(QString, limit);
        Browse browse;
        browse.where = where;
        browse.resolveKeys = resolveKeys;
        browse.limit = limit;
        const QString reply = carlaBrowse(browse);
        QCOMPARE(element(reply, "Status"), QStringLiteral("1"));
        const QStringList visible = column(reply, "sysVisible");
        QVERIFY(!visible.isEmpty());
        QCOMPARE(visible.filter(QRegularExpression("^2$")).size(), visible.size());
        const QList<quint64> stats = _fixture.window().tableMainStats("invProductCategory");
        QCOMPARE(element(reply, "Stats").split(',').value(4), QString::number(stats.at(4)));
    }

    void resolvedKeysShowTheirLabels()
    {
        Browse browse;
        browse.table = QStringLiteral("invProduct");
        browse.where = QStringLiteral("T0.pkyProduct = 1");
        browse.resolveKeys = QStringLiteral("1");
        const QString reply = adminBrowse(browse);
        QCOMPARE(column(reply, "codProductCategory"), QStringList{"1"});
        QCOMPARE(column(reply, "codProductCategory", "RowDisp"), QStringList{"Papelería"});
        QCOMPARE(column(reply, "fldCode", "RowDisp"), QStringList{"PAP-001"});
        QCOMPARE(column(reply, "sysVisible", "RowDisp"), QStringList{"2"});
    }

    void zeroReferencesAreEmpty()
    {
        QVERIFY(_fixture.controller()->customQuery(
            "SET FOREIGN_KEY_CHECKS = 0; INSERT INTO salOrderLine VALUES (900, 1, 0, 1.00, 1.00, 1.00, 1, 2, 1, 2, 0, 1);"
            " SET FOREIGN_KEY_CHECKS = 1").isActive());
        Browse browse;
        browse.table = QStringLiteral("salOrderLine");
        browse.where = QStringLiteral("T0.pkyOrderLine = 900");
        browse.resolveKeys = QStringLiteral("1");
        const QString reply = adminBrowse(browse);
        QCOMPARE(column(reply, "codProduct"), QStringList{""});
        QCOMPARE(column(reply, "codProduct", "RowDisp"), QStringList{""});
        QCOMPARE(column(reply, "fldQuantity", "RowDisp"), QStringList{"1.00"});
    }

    // No authentication component admits such a user, so the component is
    // driven directly, over the fixture's own database connection.
    void unknownTypeSeesNothing()
    {
        KTSercomBase* prototype = KTPluginLoader::load<KTSercomBase>(DB_BROWSE_SERCOM_PLUGIN);
        QVERIFY(prototype);
        std::unique_ptr<KTSercomBase> browser(prototype->createInstance());
        QMap<QString, QMap<int, quint64> > keys;
        QMap<QString, QList<int> > modifiers;
        browser->setup(1, &keys, &modifiers);
        QVERIFY(QMetaObject::invokeMethod(browser.get(), "setDbController",
                                          Q_ARG(KTDatabaseController*, _fixture.controller())));
        QMultiMap<QString, QString> params{{"Table", "invProductCategory"}, {"Where", "1 = 1 OR 1 = 1"},
                                           {"ResolveKeys", "0"}, {"_UserLogin", "invitado"}, {"_UserType", "4"},
                                           {"_ObjectName", "ComponentProduct"}};
        const QString reply = browser->processRequest(params);
        QCOMPARE(element(reply, "Status"), QStringLiteral("1"));
        QCOMPARE(element(reply, "RowCount"), QStringLiteral("0"));
        QVERIFY(KTSessionFixture::elements(reply, "Row").isEmpty());
        QCOMPARE(element(reply, "Stats").split(',').value(4), QStringLiteral("0"));
    }

    void failuresAreAnswered_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown table") << "invBodega" << "" << "invBodega";
        QTest::newRow("database error") << "invProductCategory" << "fldMissing = 1" << "fldMissing";
    }

    void failuresAreAnswered()
    {
        QFETCH(QString, table);
        QFETCH(QString, where);
        QFETCH(QString, message);
        Browse browse;
        browse.table = table;
        browse.where = where;
        browse.limit = QStringLiteral("7");
        const QString reply = adminBrowse(browse);
        QCOMPARE(element(reply, "Status"), QStringLiteral("0"));
        QVERIFY2(element(reply, "Message").contains(message), qPrintable(reply));
        QVERIFY(KTSessionFixture::elements(reply, "Row").isEmpty());
    }

    // The rows are read past Qt SQL: a browse that runs out of time must
    // still be told apart from one the database refused.
    void aBrowseOutOfTimeSaysSo()
    {
        KTServerConnector* connector = _fixture.server().connector();
        const quint16 port = connector->serverPort();
        const QString password = KTTestServer::password(_fixture.controller(), 2);
        connector->setStatementLimits(1, 1);
        QVERIFY(_fixture.admin().logIn(port, "admin", password));
        Browse browse;
        browse.where = QStringLiteral(
            "(SELECT SUM(a.seq * b.seq) FROM seq_1_to_1000000 a, seq_1_to_1000000 b) > 0");
        const QString reply = adminBrowse(browse);
        connector->setStatementLimits(KTConnectionLimits::defaultStatementSeconds,
                                      KTConnectionLimits::defaultLockWaitSeconds);
        QVERIFY(_fixture.admin().logIn(port, "admin", password));
        QCOMPARE(element(reply, "Status"), QStringLiteral("0"));
        QVERIFY2(element(reply, "Message").contains("superó el tiempo máximo de 1 s"), qPrintable(reply));
        QVERIFY(KTSessionFixture::elements(reply, "Row").isEmpty());
    }

    void aThousandRowReplyKeepsItsBytes_data()
    {
        QTest::addColumn<QString>("resolveKeys");
        QTest::addColumn<QByteArray>("sha1");
        QTest::newRow("plain") << "0" << QByteArray("a5b603b12860c74c650af7cb4afb5e4944af422d");
        QTest::newRow("resolved keys") << "1" << QByteArray("85cb4df3c61903d2528f588d99834f793c368652");
    }

    // 1,000 products with every kind of value a row holds (zero and dangling
    // references, decimals, binaries empty and not, markup and accents); the
    // digests were taken from the replies of the component as it was before
    // its row reading was reworked.
    void aThousandRowReplyKeepsItsBytes()
    {
        QFETCH(QString, resolveKeys);
        QFETCH(QByteArray, sha1);
        QSqlQuery count = _fixture.controller()->customQuery("SELECT COUNT(*) FROM invProduct WHERE fldCode LIKE 'MIL-%'");
        if (count.next() && count.value(0).toInt() == 0)
            QVERIFY(_fixture.controller()->customQuery(
                "SET FOREIGN_KEY_CHECKS = 0; INSERT INTO invProduct (codProductCategory, fldCode, fldName, fldUnit, "
                "fldPrice, binImage, sysEnabled, sysEditable, sysAuthorized, sysVisible, sysContext, "
                "sysAuthorizationGroup) SELECT seq % 4, CONCAT('MIL-', seq), CONCAT('Producto <', seq, '> & \"ñandú\" ✓'), "
                "IF(seq % 5 = 0, '', 'Unidad'), seq * 12.34 + 0.05, IF(seq % 3 = 0, '', UNHEX(SHA1(seq))), seq % 2, "
                "seq % 3, 1, 2, 0, 1 FROM seq_1_to_1000; SET FOREIGN_KEY_CHECKS = 1").isActive());
        Browse browse;
        browse.table = QStringLiteral("invProduct");
        browse.where = resolveKeys == "1" ? QStringLiteral("T0.fldCode LIKE 'MIL-%'") : QStringLiteral("fldCode LIKE 'MIL-%'");
        browse.limit = QStringLiteral("1000");
        browse.resolveKeys = resolveKeys;
        const QString reply = adminBrowse(browse);
        QCOMPARE(element(reply, "RowCount"), QStringLiteral("1000"));
        // From the field list on: the statistics before it depend on the tests that ran first.
        const QString rows = reply.mid(reply.indexOf("<Fields>"));
        QCOMPARE(QCryptographicHash::hash(rows.toUtf8(), QCryptographicHash::Sha1).toHex(), sha1);
    }

    void oddValuesKeepTheirBytes_data()
    {
        QTest::addColumn<QString>("resolveKeys");
        QTest::addColumn<QByteArray>("sha1");
        QTest::newRow("plain") << "0" << QByteArray("dbcb6d2f2503a71b0bbf7a8ceec37fb7d3937578");
        QTest::newRow("resolved keys") << "1" << QByteArray("304807c56b7024a5fe1692a2bc7b1d9d2b008389");
    }

    // Values the thousand products do not hold: NULL, a zero and a leap
    // date, characters XML cannot carry (dropped), line ends, a character
    // outside the 16-bit range, and the separator itself. Digests as above.
    void oddValuesKeepTheirBytes()
    {
        QFETCH(QString, resolveKeys);
        QFETCH(QByteArray, sha1);
        QVERIFY(_fixture.controller()->customQuery(
            "SET FOREIGN_KEY_CHECKS = 0; DELETE FROM salOrder WHERE pkyOrder BETWEEN 9001 AND 9006; "
            "INSERT INTO salOrder (pkyOrder, codCustomer, codSalesPlace, codSeller, codPriceList, fldDate, fldTotal, "
            "fldNotes, sysEnabled, sysEditable, sysAuthorized, sysVisible, sysContext, sysAuthorizationGroup) VALUES "
            "(9001, 1, 1, 1, 1, '2024-02-29', 0.00, NULL, 1, 1, 1, 2, 0, 1), "
            "(9002, 0, 1, 1, 1, '0000-00-00', 12.50, '', 1, 1, 1, 2, 0, 1), "
            "(9003, 1, 1, 1, 1, '2024-01-02', 9999999999.99, CONCAT('a', CHAR(1), 'b', CHAR(13), CHAR(10), 'c'), "
            "1, 1, 1, 2, 0, 1), "
            "(9004, 1, 1, 1, 1, '2024-01-02', 1.05, CONCAT('x', _utf8mb4 X'EFBFBE', 'y', CHAR(9), '|z'), "
            "1, 1, 1, 2, 0, 1), "
            "(9005, 1, 1, 1, 1, '2024-01-02', 3.00, '\"<a href=''x''>&amp;</a>\" 😀 ñ', 1, 1, 1, 2, 0, 1), "
            "(9006, 777, 1, 1, 1, '1999-12-31', 4.00, 'ok', 1, 1, 1, 2, 0, 1); "
            "SET FOREIGN_KEY_CHECKS = 1").isActive());
        Browse browse;
        browse.table = QStringLiteral("salOrder");
        browse.where = (resolveKeys == "1" ? QStringLiteral("T0.") : QString()) + "pkyOrder BETWEEN 9001 AND 9006";
        browse.limit = QStringLiteral("10");
        browse.resolveKeys = resolveKeys;
        const QString reply = adminBrowse(browse);
        QCOMPARE(element(reply, "RowCount"), QStringLiteral("6"));
        QCOMPARE(column(reply, "fldNotes").mid(0, 3), (QStringList{"", "", "ab\nc"}));
        QCOMPARE(column(reply, "fldDate").mid(0, 2), (QStringList{"2024-02-29", ""}));
        const QString rows = reply.mid(reply.indexOf("<Fields>"));
        QCOMPARE(QCryptographicHash::hash(rows.toUtf8(), QCryptographicHash::Sha1).toHex(), sha1);
    }
};

QTEST_MAIN(tst_DbBrowseSercom)
#include "tst_dbbrowsesercom.moc"
