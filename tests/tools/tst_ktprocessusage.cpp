#include "KTProcessUsage.h"

#include <QtTest>

#include <unistd.h>

// The benchmark charges each process with what the kernel reports for it:
// a misread field would put another counter (a page-fault count, a start
// time) in the CPU column without any visible error.
class TestKTProcessUsage : public QObject
{
    Q_OBJECT

private slots:
    void cpuTicksFromStat_data();
    void cpuTicksFromStat();
    void contextSwitchesFromStatus();
    void ownProcessIsReadAndOnlyGrows();
};

void TestKTProcessUsage::cpuTicksFromStat_data()
{
    QTest::addColumn<QByteArray>("stat");
    QTest::addColumn<qint64>("ticks");
    const QByteArray rest = " S 1 2 3 0 -1 4194560 100 0 0 0 750 250 0 0 20 0 9 0 12345 1000000 300";
    QTest::newRow("plain name") << QByteArray("4242 (mariadbd)") + rest << qint64(1000);
    // A thread may rename itself: spaces and parentheses in the name must not shift the fields.
    QTest::newRow("name with spaces and parentheses") << QByteArray("4242 (Qt (bench) 1) x)") + rest << qint64(1000);
    QTest::newRow("truncated") << QByteArray("4242 (mariadbd) S 1 2 3 0 -1 4194560 100 0 0 0 750") << qint64(-1);
    QTest::newRow("no name") << QByteArray("4242 mariadbd S 1 2") << qint64(-1);
    QTest::newRow("empty, process gone") << QByteArray() << qint64(-1);
}

void TestKTProcessUsage::cpuTicksFromStat()
{
    QFETCH(QByteArray, stat);
    QFETCH(qint64, ticks);
    QCOMPARE(KTProcessUsage::cpuTicksFromStat(stat), ticks);
}

void TestKTProcessUsage::contextSwitchesFromStatus()
{
    const QByteArray status = "Name:\tOmbrixServerPan\nThreads:\t9\nvoluntary_ctxt_switches:\t1200\n"
                              "nonvoluntary_ctxt_switches:\t34\n";
    QCOMPARE(KTProcessUsage::contextSwitchesFromStatus(status), qint64(1234));
    QCOMPARE(KTProcessUsage::contextSwitchesFromStatus("Name:\tx\nvoluntary_ctxt_switches:\t5\n"), qint64(-1));
}

void TestKTProcessUsage::ownProcessIsReadAndOnlyGrows()
{
    const KTProcessUsage before = KTProcessUsage::of(getpid());
    QVERIFY(before.isValid());
    QVERIFY(before.contextSwitches >= 0);
    volatile quint64 sink = 0;
    for (quint64 i = 0; i < 20000000; ++i)
        sink = sink + i;
    QThread::msleep(20);
    const KTProcessUsage after = KTProcessUsage::of(getpid());
    QVERIFY(after.cpuMicroseconds >= before.cpuMicroseconds);
    QVERIFY(after.contextSwitches > before.contextSwitches);
    QVERIFY(!KTProcessUsage::of(0).isValid());
}

QTEST_GUILESS_MAIN(TestKTProcessUsage)
#include "tst_ktprocessusage.moc"
