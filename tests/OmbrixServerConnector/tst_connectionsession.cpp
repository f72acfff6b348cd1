#include <KTConnectionActivity.h>
#include <KTConnectionSession.h>
#include <KTLocalClock.h>

#include <QtTest>

// A connection's stage and identity, and the last frame it keeps for the
// monitor: the rules the socket and the handlers rely on.
class tst_ConnectionSession : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void stagesAdvanceOnlyThroughTheirSteps()
    {
        KTConnectionSession session;
        QVERIFY(!session.companyAccepted());
        session.acceptCompany();
        QVERIFY(session.companyAccepted());
        QVERIFY(!session.negotiated());
        session.completeNegotiation();
        QVERIFY(session.negotiated());
        QVERIFY(!session.authenticated());

        session.logIn("ana", "7", 3, "Ventas");
        QVERIFY(session.authenticated());
        QCOMPARE(session.user(), QStringLiteral("ana"));
        QCOMPARE(session.userType(), 3);

        // A later negotiation, refused or not, never takes a logged-in client back.
        session.acceptCompany();
        session.completeNegotiation();
        QVERIFY(session.authenticated());
    }

    void aFailedLoginForgetsWhoWasLoggedIn()
    {
        KTConnectionSession session;
        session.acceptCompany();
        session.completeNegotiation();
        session.logIn("ana", "7", 3, "Ventas");
        session.logOut();
        QVERIFY(!session.authenticated());
        QVERIFY(session.negotiated());
        QCOMPARE(session.user(), QStringLiteral("?"));
        QCOMPARE(session.userCod(), QString());
        QCOMPARE(session.userType(), 0);
        QCOMPARE(session.group(), QString());
    }

    void activityReportsEachChangeOnceAndKeepsTheLast()
    {
        KTConnectionActivity activity;
        KTConnectionActivity::Frame frame;
        QVERIFY(!activity.takeChange(&frame));
        activity.record({"ana", "127.0.0.1 / x", "mac", 1000, 3, 10, "primera"});
        activity.record({"ana", "127.0.0.1 / x", "mac", 2000, 3, 20, "segunda"});
        QVERIFY(activity.takeChange(&frame));
        QCOMPARE(frame.message, QStringLiteral("segunda"));
        QCOMPARE(frame.bytes, quint64(20));
        QVERIFY(!activity.takeChange(&frame));
        QCOMPARE(activity.latest().message, QStringLiteral("segunda"));
    }

    // The wall clock it gives is the time zone's, on both sides of a change
    // to summer time and back, whichever minute was asked for last.
    void localClockFollowsTheTimeZone()
    {
        const QString format = QStringLiteral("yyyy-MM-dd hh:mm:ss");
        const QDateTime spring(QDate(2026, 3, 29), QTime(1, 0), Qt::UTC);
        const QDateTime autumn(QDate(2026, 10, 25), QTime(1, 0), Qt::UTC);
        for (const QDateTime& change : {spring, autumn, spring})
            for (qint64 seconds : {-61, -1, 0, 59, 3600}) {
                const qint64 msecs = change.toMSecsSinceEpoch() + seconds * 1000;
                QCOMPARE(KTLocalClock::at(msecs).toString(format),
                         QDateTime::fromMSecsSinceEpoch(msecs).toString(format));
            }
        QVERIFY(qAbs(KTLocalClock::now().toMSecsSinceEpoch() - QDateTime::currentMSecsSinceEpoch()) < 60000);
    }
};

int main(int argc, char** argv)
{
    // A zone with summer time, whatever the machine's.
    qputenv("TZ", "Europe/Madrid");
    QCoreApplication app(argc, argv);
    tst_ConnectionSession test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_connectionsession.moc"
