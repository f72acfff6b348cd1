#include "KTSessionFixture.h"

#include <KTServerConnector.h>

#include <QtTest>

namespace {

using Action = KTProtocolClient::Action;

const QString dbName = QStringLiteral("ombrix_test_modifiers");

Action modifiers(const QString& key, const QString& values, const QString& log = QStringLiteral("1"))
{
    return KTSessionFixture::action(
        "DbModifiersSercom", {{"Table", "invProductCategory"}, {"Key", key}, {"Modifiers", values}, {"Log", log}},
        "Component", "ComponentProductCategory");
}

QList<int> counters(std::initializer_list<std::pair<int, int> > changes)
{
    QList<int> result(14, 0);
    for (const auto& change : changes)
        result[change.first] = change.second;
    return result;
}

} // namespace

Q_DECLARE_METATYPE(KTProtocolClient::Action)

// Changing the system values of one record through the wire.
class tst_DbModifiersSercom : public QObject
{
    Q_OBJECT

    KTSessionFixture _fixture;

    // The reply, and the statistics delta the request moved for the table (empty when none).
    QPair<QString, QList<int> > request(const Action& action)
    {
        QSignalSpy deltas(_fixture.server().connector(), &KTServerConnector::updateTableRecordDataModelRequested);
        const QString reply = _fixture.admin().request(KTProtocolClient::actionRequest({action}));
        QTest::qWait(100);
        return {reply, KTSessionFixture::deltas(deltas).value("invProductCategory")};
    }

    QString systemValues(int key)
    {
        return _fixture.value(QStringLiteral("SELECT CONCAT_WS(',', sysEnabled, sysEditable, sysAuthorized, sysVisible, "
                                             "sysContext, sysAuthorizationGroup) FROM invProductCategory WHERE "
                                             "pkyProductCategory = %1").arg(key));
    }

    int logged(int action)
    {
        return _fixture.count(QStringLiteral("SELECT COUNT(*) FROM dbaUserLog WHERE codComponentAction = %1 AND "
                                             "parComponent = 301001").arg(action));
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(_fixture.start(dbName, "PasswordAuthcom,DbModifiersSercom")); }
    void init() { _fixture.drain(); }

    void nothingToChangeIsStillAnEdit()
    {
        const QString before = systemValues(1);
        const auto [reply, delta] = request(modifiers("1", "-1,-1,-1,-1,-1,-1"));
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("1"));
        QCOMPARE(KTProtocolClient::element(reply, "Modifiers"), QStringLiteral("-1,-1,-1,-1,-1,-1"));
        QCOMPARE(delta, counters({{13, 1}}));
        QCOMPARE(systemValues(1), before);
    }

    void disablingMovesOneRecordAndLogsIt()
    {
        const int disabled = logged(5);
        const auto [reply, delta] = request(modifiers("2", "0,-1,-1,1,-1,-1"));
        QCOMPARE(KTProtocolClient::element(reply, "Key"), QStringLiteral("2"));
        QCOMPARE(delta, counters({{0, -1}, {1, 1}, {13, 1}}));
        QCOMPARE(systemValues(2), QStringLiteral("0,1,1,1,0,1"));
        QCOMPARE(logged(5), disabled + 1);
    }

    // 0 written as 00, +0 or " 0" disables as 0 does, and is counted,
    // logged and answered as 0.
    void zeroInAnySpellingDisables()
    {
        for (const char* zero : {"00", "+0", " 0"}) {
            request(modifiers("2", "1,-1,-1,-1,-1,-1"));
            const int disabled = logged(5);
            const auto [reply, delta] = request(modifiers("2", QString(zero) + ",-1,-1,-1,-1,-1"));
            QCOMPARE(KTProtocolClient::element(reply, "Modifiers"), QStringLiteral("0,-1,-1,-1,-1,-1"));
            QCOMPARE(delta, counters({{0, -1}, {1, 1}, {13, 1}}));
            QCOMPARE(systemValues(2).section(',', 0, 0), QStringLiteral("0"));
            QCOMPARE(logged(5), disabled + 1);
        }
    }

    void enablingIsCountedWhateverTheOldValue()
    {
        const int changes = logged(11);
        const auto [reply, delta] = request(modifiers("1", "1,-1,-1,-1,-1,-1"));
        QCOMPARE(delta, counters({{0, 1}, {1, -1}, {13, 1}}));
        QCOMPARE(logged(11), changes + 1);
    }

    void withoutLogTheAnswerIsEmpty()
    {
        const int changes = logged(11);
        QVERIFY(_fixture.admin().send(KTProtocolClient::actionRequest({modifiers("3", "-1,0,-1,-1,-1,-1", "0")})));
        QCOMPARE(_fixture.admin().replies(), QStringList{QString()});
        QCOMPARE(systemValues(3).section(',', 1, 1), QStringLiteral("0"));
        QCOMPARE(logged(11), changes);
    }

    void missingRecordMovesNoCounter()
    {
        const auto [reply, delta] = request(modifiers("999", "0,-1,-1,-1,-1,-1"));
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("1"));
        QVERIFY(delta.isEmpty());
    }

    void malformedModifiersAreRefused_data()
    {
        QTest::addColumn<QString>("values");
        QTest::addColumn<QString>("message");
        QTest::newRow("five values") << "1,2,1,2,0" << "no traen 6 valores";
        QTest::newRow("not a number") << "1,2,1,2,0,1 OR 1 = 1" << "sysAuthorizationGroup";
    }

    void malformedModifiersAreRefused()
    {
        QFETCH(QString, values);
        QFETCH(QString, message);
        const QString before = systemValues(1);
        const auto [reply, delta] = request(modifiers("1", values));
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("0"));
        QVERIFY2(KTProtocolClient::element(reply, "Message").contains(message), qPrintable(reply));
        QVERIFY(delta.isEmpty());
        QCOMPARE(systemValues(1), before);
    }

    void unknownTableIsRefused()
    {
        const QString reply = _fixture.admin().request(KTProtocolClient::actionRequest({KTSessionFixture::action(
            "DbModifiersSercom", {{"Table", "invCategoria"}, {"Key", "1"}, {"Modifiers", "0,-1,-1,-1,-1,-1"}, {"Log", "1"}})}));
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("0"));
        QVERIFY(KTProtocolClient::element(reply, "Message").contains("invCategoria"));
    }
};

QTEST_MAIN(tst_DbModifiersSercom)
#include "tst_dbmodifierssercom.moc"
