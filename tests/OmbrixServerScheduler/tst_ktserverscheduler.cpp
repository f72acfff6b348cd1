#include "KTSessionFixture.h"

#include <KTDatabaseController.h>
#include <KTServerConnector.h>
#include <KTServerScheduler.h>

#include <QStandardItemModel>
#include <QtTest>

namespace {

const QString dbName = QStringLiteral("ombrix_test_scheduler");
// A Monday.
const QDate monday(2026, 12, 7);

// A message from admin to the general group, its text in Base64 as clients send it.
QString command(const QString& text)
{
    return QStringLiteral("NULL,2,1,2026-12-07,14:30:00,Aviso,Ref-1,%1,1,2,1,2,0,1")
        .arg(QString::fromLatin1(text.toUtf8().toBase64()));
}

QMap<QString, QVariant> task(const QString& text, const QString& users, const QString& weekday = QString(),
                             const QString& hour = QString(), const QString& minute = QString())
{
    return {{"SourceUser", "2"}, {"TargetGroup", "1"}, {"TaskType", "3"}, {"Year", ""}, {"Month", ""}, {"Day", ""},
            {"Weekday", weekday}, {"Hour", hour}, {"Minute", minute}, {"Period", ""},
            {"RequestDate", "2026-12-01"}, {"ID", "msg-" + text}, {"Command", command(text)}, {"Users", users}};
}

} // namespace

// Scheduled messages over the fixture's database, with a clock the test sets.
class tst_KTServerScheduler : public QObject
{
    Q_OBJECT

    KTSessionFixture _fixture;
    std::unique_ptr<KTServerScheduler> _scheduler;
    QDateTime _now;

    int messages(const QString& text)
    {
        return _fixture.count(QStringLiteral("SELECT COUNT(*) FROM comMessage WHERE fldText = '%1'").arg(text));
    }

    int deliveries(const QString& text)
    {
        return _fixture.count(QStringLiteral("SELECT COUNT(*) FROM comMessageUser u JOIN comMessage m ON "
                                             "m.pkyMessage = u.codMessage WHERE m.fldText = '%1'").arg(text));
    }

    int tasks(const QString& text)
    {
        return _fixture.count(QStringLiteral("SELECT COUNT(*) FROM srvTaskScheduler WHERE fldMessageID = 'msg-%1'")
                                  .arg(text));
    }

    void tickAt(const QDateTime& when)
    {
        _now = when;
        _scheduler->processScheduler();
    }

    void schedule(const QMap<QString, QVariant>& parameters) { _scheduler->schedule(QVariant(parameters)); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(_fixture.start(dbName, "PasswordAuthcom,DbInsertSercom"));
        _scheduler = std::make_unique<KTServerScheduler>();
        _scheduler->setClock([this] { return _now; });
        _scheduler->updateData(_fixture.controller());
        connect(_scheduler.get(), &KTServerScheduler::broadcastActionRequest, _fixture.server().connector(),
                &KTServerConnector::broadcastAction);
        connect(_fixture.server().connector(), &KTServerConnector::scheduleRequested, _scheduler.get(),
                &KTServerScheduler::schedule);
    }

    void init() { _fixture.drain(); }

    void wildcardTaskFiresOncePerMinute()
    {
        schedule(task("siempre", "3"));
        tickAt(QDateTime(monday, QTime(9, 0, 5)));
        QCOMPARE(messages("siempre"), 1);
        tickAt(QDateTime(monday, QTime(9, 0, 35)));
        QCOMPARE(messages("siempre"), 1);
        tickAt(QDateTime(monday.addDays(3), QTime(23, 59, 5)));
        QCOMPARE(messages("siempre"), 2);
        QCOMPARE(deliveries("siempre"), 2);
        QVERIFY(_fixture.controller()->customQuery("DELETE FROM srvUserTask").isActive());
        QVERIFY(_fixture.controller()->customQuery("DELETE FROM srvTaskScheduler").isActive());
        _scheduler->updateData();
    }

    void fixedTimeFiresOnlyThen()
    {
        schedule(task("lunes", "3", "1", "14", "30"));
        tickAt(QDateTime(monday, QTime(14, 31, 0)));
        tickAt(QDateTime(monday.addDays(1), QTime(14, 30, 0)));
        QCOMPARE(messages("lunes"), 0);
        tickAt(QDateTime(monday, QTime(14, 30, 59)));
        QCOMPARE(messages("lunes"), 1);
    }

    void dueTaskReachesItsTargetsOnly()
    {
        QVERIFY(_fixture.carla().activate("ComponentMessage"));
        QVERIFY(_fixture.admin().activate("ComponentMessage"));
        _fixture.drain();
        schedule(task("para Carla", "3", "", "10", "15"));
        tickAt(QDateTime(monday, QTime(10, 15, 1)));
        QCOMPARE(messages("para Carla"), 1);
        QCOMPARE(deliveries("para Carla"), 1);

        const QStringList received = _fixture.carla().replies();
        QCOMPARE(received.size(), 1);
        QCOMPARE(KTProtocolClient::element(received.first(), "Message"), QStringLiteral("Mensaje Nuevo"));
        QCOMPARE(KTProtocolClient::element(received.first(), "Table"), QStringLiteral("comMessage"));
        const QStringList row = KTProtocolClient::element(received.first(), "Row").split('|');
        QCOMPARE(row.size(), 14);
        QCOMPARE(row.at(1), QStringLiteral("2"));
        QCOMPARE(QByteArray::fromBase64(row.at(7).toLatin1()), QByteArray("para Carla"));
        QCOMPARE(KTProtocolClient::element(received.first(), "RowDisp").split('|').at(1), QStringLiteral("admin"));
        QVERIFY(_fixture.admin().replies().isEmpty());
    }

    void messageTextIsStoredAsWritten()
    {
        const QString text = QStringLiteral("l'avís \"urgente\"; -- ñandú");
        schedule(task(text, "3", "", "11", "0"));
        tickAt(QDateTime(monday, QTime(11, 0, 1)));
        QCOMPARE(_fixture.count("SELECT COUNT(*) FROM comMessage WHERE fldText = "
                                + _fixture.controller()->quoted(text)), 1);
    }

    void tasksThatNeverRunStayStored_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");
        QTest::newRow("in the past") << "Year" << "2020";
        QTest::newRow("another type") << "TaskType" << "2";
        QTest::newRow("another period") << "Period" << "1";
    }

    void tasksThatNeverRunStayStored()
    {
        QFETCH(QString, field);
        QFETCH(QString, value);
        QMap<QString, QVariant> parameters = task("nunca " + field, "3");
        parameters.insert(field, value);
        schedule(parameters);
        tickAt(QDateTime(monday, QTime(12, 0, 0)));
        QCOMPARE(messages("nunca " + field), 0);
        QCOMPARE(tasks("nunca " + field), 1);
        // Shown all the same, with its target user as child.
        const QList<QStandardItem*> shown = _scheduler->model()->findItems(
            "msg-nunca " + field, Qt::MatchExactly, 13);
        QCOMPARE(shown.size(), 1);
        QCOMPARE(_scheduler->model()->item(shown.first()->row(), 0)->rowCount(), 1);
        QCOMPARE(_scheduler->model()->item(shown.first()->row(), 0)->child(0)->text(), QStringLiteral("cmendez"));
    }

    void taskWithoutUsersReachesNobody()
    {
        QVERIFY(_fixture.carla().activate("ComponentMessage"));
        _fixture.drain();
        schedule(task("sin destino", "", "", "13", "0"));
        QCOMPARE(tasks("sin destino"), 1);
        tickAt(QDateTime(monday, QTime(13, 0, 0)));
        QCOMPARE(messages("sin destino"), 1);
        QCOMPARE(deliveries("sin destino"), 0);
        QVERIFY(_fixture.carla().replies().isEmpty());
    }

    void unsafeValuesAreNotStored()
    {
        QMap<QString, QVariant> parameters = task("inseguro", "3");
        parameters.insert("SourceUser", "2, 1); DROP TABLE accUser; --");
        schedule(parameters);
        QCOMPARE(tasks("inseguro"), 0);
    }

    void failedDeliveryRollsTheTaskBackAndEndsTheTick()
    {
        schedule(task("fallido", "3", "", "15", "0"));
        schedule(task("siguiente", "3", "", "15", "0"));
        // A target that is no user makes the delivery rows fail.
        QVERIFY(_fixture.controller()->customQuery(
            "SET FOREIGN_KEY_CHECKS = 0; UPDATE srvUserTask t JOIN srvTaskScheduler s ON s.pkyTaskScheduler = "
            "t.codTaskScheduler SET t.codUser = 999 WHERE s.fldMessageID = 'msg-fallido'; "
            "SET FOREIGN_KEY_CHECKS = 1").isActive());
        _scheduler->updateData();
        QSignalSpy events(_scheduler.get(), &KTServerScheduler::eventMessage);
        tickAt(QDateTime(monday, QTime(15, 0, 0)));
        QCOMPARE(messages("fallido"), 0);
        QCOMPARE(messages("siguiente"), 0);
        QCOMPARE(events.size(), 1);
        QVERIFY(events.first().at(0).toString().startsWith("Error en la creación de usuarios de mensaje"));
    }

    void scheduleOnlyFromCommittedRequests()
    {
        KTProtocolClient::Action schedule;
        schedule.component = QStringLiteral("Schedule");
        const QMap<QString, QVariant> parameters = task("confirmada", "3");
        for (auto it = parameters.cbegin(); it != parameters.cend(); ++it)
            schedule.parameters.append({it.key(), it.value().toString()});
        _fixture.admin().request(KTProtocolClient::actionRequest(
            {schedule, KTSessionFixture::action("DbInsertSercom", {{"Table", "tablaInexistente"}})}));
        QTest::qWait(200);
        QCOMPARE(tasks("confirmada"), 0);
        QVERIFY(_fixture.admin().send(KTProtocolClient::actionRequest({schedule})));
        QTRY_COMPARE(tasks("confirmada"), 1);
    }
};

QTEST_MAIN(tst_KTServerScheduler)
#include "tst_ktserverscheduler.moc"
