#include <KTConnectionActivity.h>
#include <KTConnectionSession.h>
#include <KTEventRelay.h>
#include <KTEventSink.h>
#include <KT.h>
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

    // Connections write their events to the sink themselves, at once; the
    // relay's own thread gets them in order, a batch per wake-up, and a
    // backlog it cannot show is counted instead of kept.
    void eventsReachTheSinkAtOnceAndTheRelayInBatches()
    {
        struct Sink : KTEventSink {
            QMutex mutex;
            QStringList messages;
            QSet<QThread*> threads;
            void writeEvent(const KTEvent& event) override
            {
                QMutexLocker locker(&mutex);
                messages << event.message;
                threads << QThread::currentThread();
            }
        } sink;
        KTEventRelay relay;
        relay.setSink(&sink);
        QList<QList<KTEvent> > batches;
        connect(&relay, &KTEventRelay::eventsPosted, this, [&batches](const QList<KTEvent>& events) { batches << events; });

        QList<QThread*> writers;
        for (int w = 0; w < 4; ++w)
            writers << QThread::create([&relay, w] {
                for (int i = 0; i < 500; ++i)
                    relay.post(QStringLiteral("%1-%2").arg(w).arg(i), KT::InformationMessage, QStringLiteral("prueba"));
            });
        for (QThread* writer : writers)
            writer->start();
        for (QThread* writer : writers)
            QVERIFY(writer->wait(30000));
        // All written before the relay's thread ran once, each by its own writer.
        QCOMPARE(sink.messages.size(), 2000);
        QCOMPARE(sink.threads.size(), 4);
        QVERIFY(!sink.threads.contains(QThread::currentThread()));
        QVERIFY(batches.isEmpty());
        QCoreApplication::processEvents();
        QCOMPARE(batches.size(), 1);
        QMap<int, int> next;
        for (const KTEvent& event : batches.first()) {
            const int writer = event.message.section('-', 0, 0).toInt();
            QCOMPARE(event.message.section('-', 1).toInt(), next[writer]++);
        }
        qDeleteAll(writers);

        batches.clear();
        for (int i = 0; i < KTEventRelay::maxPending + 7; ++i)
            relay.post(QStringLiteral("evento"), KT::WarningMessage, QStringLiteral("prueba"));
        QCoreApplication::processEvents();
        QCOMPARE(batches.size(), 1);
        QCOMPARE(batches.first().size(), KTEventRelay::maxPending + 1);
        QVERIFY(batches.first().last().message.startsWith(QStringLiteral("7 eventos más")));
        QCOMPARE(sink.messages.size(), 2000 + KTEventRelay::maxPending + 7);
        relay.post(QStringLiteral("después"), KT::InformationMessage, QStringLiteral("prueba"));
        QCoreApplication::processEvents();
        QCOMPARE(batches.size(), 2);
        QCOMPARE(batches.last().size(), 1);
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
