#include "KTSessionFixture.h"
#include "KTTestDatabase.h"
#include "KTTestEvents.h"

#include <KT.h>
#include <KTDatabaseController.h>
#include <KTServerConnector.h>
#include <KTServerScheduler.h>

#include <QElapsedTimer>
#include <QSqlQuery>
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

    // Tasks that match every minute would fire in the tests after them.
    void clearTasks()
    {
        QVERIFY(_fixture.controller()->customQuery("DELETE FROM srvUserTask").isActive());
        QVERIFY(_fixture.controller()->customQuery("DELETE FROM srvTaskScheduler").isActive());
        _scheduler->updateData();
    }

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
        tickAt(QDateTime(monday, QTime(9, 1, 5)));
        QCOMPARE(messages("siempre"), 2);
        QCOMPARE(deliveries("siempre"), 2);
        clearTasks();
    }

    void fixedTimeFiresOnlyThen()
    {
        schedule(task("lunes", "3", "1", "14", "30"));
        tickAt(QDateTime(monday, QTime(14, 29, 0)));
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

    void hostileValuesAreNotStored_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");
        QTest::newRow("source user") << "SourceUser" << "2, 1); DROP TABLE accUser; --";
        QTest::newRow("negative hour") << "Hour" << "-1";
        QTest::newRow("minute expression") << "Minute" << "1 OR 1=1";
        QTest::newRow("request date") << "RequestDate" << "2026-12-01'); DELETE FROM accUser; --";
        QTest::newRow("user key") << "Users" << "3,(SELECT pkyUser FROM accUser LIMIT 1)";
        QTest::newRow("command key") << "Command" << "(SELECT 1),2,1,2026-12-07,14:30:00,A,R,QQ==,1,2,1,2,0,1";
        QTest::newRow("command sender") << "Command" << "NULL,2 OR 1,1,2026-12-07,14:30:00,A,R,QQ==,1,2,1,2,0,1";
        QTest::newRow("command date") << "Command" << "NULL,2,1,NOW(),14:30:00,A,R,QQ==,1,2,1,2,0,1";
        QTest::newRow("command time") << "Command" << "NULL,2,1,2026-12-07,25:99,A,R,QQ==,1,2,1,2,0,1";
        QTest::newRow("command text") << "Command" << "NULL,2,1,2026-12-07,14:30:00,A,R,no base64!,1,2,1,2,0,1";
        QTest::newRow("command system") << "Command" << "NULL,2,1,2026-12-07,14:30:00,A,R,QQ==,1,2,1,2,0,SLEEP(9)";
        QTest::newRow("command size") << "Command" << "NULL,2,1,2026-12-07";
    }

    // Nothing of a refused task is stored, and it is reported.
    void hostileValuesAreNotStored()
    {
        QFETCH(QString, field);
        QFETCH(QString, value);
        QMap<QString, QVariant> parameters = task("hostil", "3");
        parameters.insert(field, value);
        const int users = _fixture.count("SELECT COUNT(*) FROM accUser");
        const int targets = _fixture.count("SELECT COUNT(*) FROM srvUserTask");
        QSignalSpy events(_scheduler.get(), &KTServerScheduler::eventMessage);
        schedule(parameters);
        QCOMPARE(tasks("hostil"), 0);
        QCOMPARE(_fixture.count("SELECT COUNT(*) FROM srvUserTask"), targets);
        QCOMPARE(_fixture.count("SELECT COUNT(*) FROM accUser"), users);
        QVERIFY(!events.isEmpty());
        QVERIFY(events.first().at(0).toString().startsWith("Error en la planificación del mensaje con ID : 'msg-hostil'"));
    }

    // The same through the wire, from a logged-in client: the request
    // commits, the task is refused.
    void hostileScheduleRequestIsRefused()
    {
        KTProtocolClient::Action schedule;
        schedule.component = QStringLiteral("Schedule");
        QMap<QString, QVariant> parameters = task("hostil en red", "3");
        parameters.insert("Users", "3),(NULL,1,1,0,1,2,1,2,0,1");
        parameters.insert("Year", "0; DROP TABLE comMessage");
        for (auto it = parameters.cbegin(); it != parameters.cend(); ++it)
            schedule.parameters.append({it.key(), it.value().toString()});
        QSignalSpy events(_scheduler.get(), &KTServerScheduler::eventMessage);
        QVERIFY(_fixture.admin().send(KTProtocolClient::actionRequest({schedule})));
        QTRY_VERIFY(!events.isEmpty());
        QCOMPARE(events.first().at(1).toInt(), int(KT::ErrorMessage));
        QCOMPARE(tasks("hostil en red"), 0);
        QVERIFY(_fixture.controller()->customQuery("SELECT COUNT(*) FROM comMessage").isActive());

        // A normal user (cmendez, user 3) may not send in another user's name,
        // neither in the task nor in its message; in its own name it may.
        const auto scheduleAsCarla = [this](const QString& text, const QString& source, const QString& messageSource) {
            QMap<QString, QVariant> parameters = task(text, "2");
            parameters.insert("SourceUser", source);
            parameters.insert("Year", "2099"); // stored, never due in the tests that follow
            parameters.insert("Command", command(text).replace("NULL,2,", "NULL," + messageSource + ","));
            KTProtocolClient::Action action;
            action.component = QStringLiteral("Schedule");
            for (auto it = parameters.cbegin(); it != parameters.cend(); ++it)
                action.parameters.append({it.key(), it.value().toString()});
            QSignalSpy stored(_scheduler.get(), &KTServerScheduler::eventMessage);
            QVERIFY(_fixture.carla().send(KTProtocolClient::actionRequest({action})));
            QTRY_VERIFY(!stored.isEmpty());
        };
        scheduleAsCarla("suplantado", "2", "3");
        scheduleAsCarla("mensaje suplantado", "3", "2");
        scheduleAsCarla("propio", "3", "3");
        QCOMPARE(tasks("suplantado"), 0);
        QCOMPARE(tasks("mensaje suplantado"), 0);
        QCOMPARE(tasks("propio"), 1);
    }

    // A failing task is rolled back and reported once a minute; the tasks
    // after it still fire.
    void failingTaskDoesNotBlockTheOthers()
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
        tickAt(QDateTime(monday, QTime(15, 0, 30)));
        QCOMPARE(messages("fallido"), 0);
        QCOMPARE(messages("siguiente"), 1);
        QCOMPARE(deliveries("siguiente"), 1);
        const QStringList errors = eventTexts(events).filter("Error en la creación de usuarios de mensaje");
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors.first().contains(_fixture.value("SELECT pkyTaskScheduler FROM srvTaskScheduler WHERE "
                                                       "fldMessageID = 'msg-fallido'")));
    }

    // The fired minute is kept in the database: a scheduler started again
    // within the minute does not fire it twice.
    void restartWithinTheMinuteDoesNotFireAgain()
    {
        schedule(task("reinicio", "3", "", "16", "20"));
        tickAt(QDateTime(monday, QTime(16, 20, 10)));
        KTServerScheduler restarted;
        restarted.setClock([] { return QDateTime(monday, QTime(16, 20, 40)); });
        restarted.updateData(_fixture.controller());
        restarted.processScheduler();
        QCOMPARE(messages("reinicio"), 1);
        QCOMPARE(_fixture.count("SELECT COUNT(*) FROM srvTaskRun r JOIN srvTaskScheduler s ON s.pkyTaskScheduler = "
                                "r.codTaskScheduler WHERE s.fldMessageID = 'msg-reinicio'"), 1);
    }

    // A late tick makes up for each due minute within the catch-up window,
    // once; older ones are reported as missed.
    void lateTickCatchesUpWithinItsWindow()
    {
        schedule(task("cada minuto", "3"));
        KTServerScheduler late;
        late.setClock([this] { return _now; });
        late.updateData(_fixture.controller());
        const auto tick = [&](const QTime& time) {
            _now = QDateTime(monday, time);
            late.processScheduler();
        };
        tick(QTime(17, 0, 5));
        tick(QTime(17, 3, 50));
        QCOMPARE(messages("cada minuto"), 4);
        QSignalSpy events(&late, &KTServerScheduler::eventMessage);
        tick(QTime(17, 33, 5));
        QCOMPARE(messages("cada minuto"), 4 + KTServerScheduler::catchUpMinutes);
        QCOMPARE(eventTexts(events).filter("no se ejecutó en 20 minuto(s)").size(), 1);
        tick(QTime(17, 33, 35));
        QCOMPARE(messages("cada minuto"), 4 + KTServerScheduler::catchUpMinutes);
        clearTasks();
    }

    // A statement that waits (here on a row another connection holds) is
    // cut off by the time limit; the tick goes on with the next task.
    void blockedTaskIsCutOffByTheTimeLimit()
    {
        schedule(task("bloqueada", "3", "", "18", "60"));
        schedule(task("libre", "3", "", "18", "60"));
        tickAt(QDateTime(monday, QTime(18, 0, 0)));
        QCOMPARE(messages("bloqueada"), 1);
        const QString blocked = _fixture.value("SELECT pkyTaskScheduler FROM srvTaskScheduler WHERE "
                                               "fldMessageID = 'msg-bloqueada'");
        {
            QSqlDatabase other = KTTestDatabase::open(QStringLiteral("holder"), dbName);
            QVERIFY(other.transaction());
            QSqlQuery hold(other);
            QVERIFY(hold.exec("SELECT * FROM srvTaskRun WHERE codTaskScheduler = " + blocked + " FOR UPDATE"));
            _scheduler->setStatementTimeLimit(1);
            QElapsedTimer elapsed;
            elapsed.start();
            QSignalSpy events(_scheduler.get(), &KTServerScheduler::eventMessage);
            tickAt(QDateTime(monday, QTime(18, 1, 0)));
            // Well below MariaDB's own lock wait of 50 seconds.
            QVERIFY(elapsed.elapsed() < 30000);
            QCOMPARE(messages("bloqueada"), 1);
            QCOMPARE(messages("libre"), 2);
            QVERIFY(!eventTexts(events).filter("'" + blocked + "'").filter("Error").isEmpty());
            other.rollback();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("holder"));
        _scheduler->setStatementTimeLimit(KTServerScheduler::defaultStatementTimeLimit);
        tickAt(QDateTime(monday, QTime(18, 1, 30)));
        QCOMPARE(messages("bloqueada"), 2);
        clearTasks();
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
