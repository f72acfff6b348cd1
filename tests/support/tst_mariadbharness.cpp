#include "KTTestDatabase.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

// Proves the fixture end to end: the server runs, OmbrixAdm may create
// databases, and text survives a round trip through the QMYSQL driver.
class tst_MariaDbHarness : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { KT_REQUIRE_DATABASE(); }

    void connectsAndRoundTripsText()
    {
        QSqlDatabase db = KTTestDatabase::open(QStringLiteral("harness"));
        QVERIFY2(db.isOpen(), qPrintable(db.lastError().text()));
        QVERIFY(KTTestDatabase::recreateDatabase(db, QStringLiteral("ombrix_test_harness")));

        QSqlQuery query(db);
        QVERIFY2(query.exec(QStringLiteral("CREATE TABLE ombrix_test_harness.t (v VARCHAR(40))")),
                 qPrintable(query.lastError().text()));
        const QString text = QStringLiteral("Añoranza – ünïcødé 'quoted'");
        QVERIFY(query.prepare(QStringLiteral("INSERT INTO ombrix_test_harness.t VALUES (?)")));
        query.addBindValue(text);
        QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
        QVERIFY(query.exec(QStringLiteral("SELECT v FROM ombrix_test_harness.t")));
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toString(), text);
        QVERIFY(query.exec(QStringLiteral("DROP DATABASE ombrix_test_harness")));
    }

    void listensOnLoopbackOnly()
    {
        QSqlDatabase db = KTTestDatabase::open(QStringLiteral("harness"));
        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral("SELECT @@bind_address")));
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toString(), QStringLiteral("127.0.0.1"));
    }
};

QTEST_GUILESS_MAIN(tst_MariaDbHarness)
#include "tst_mariadbharness.moc"
