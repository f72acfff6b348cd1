#include "KTServerScheduler.h"

#include "KTScheduledMessage.h"

#include <KT.h>
#include <KTDatabaseController.h>
#include <KTDbTable.h>

#include <QSqlError>
#include <QSqlQuery>
#include <QStandardItemModel>
#include <QXmlStreamWriter>

#include <algorithm>

namespace {

const QString taskTable = QStringLiteral("srvTaskScheduler");
const QString targetTable = QStringLiteral("srvUserTask");
const QString runTable = QStringLiteral("srvTaskRun");
const QString messageTable = QStringLiteral("comMessage");
const QString deliveryTable = QStringLiteral("comMessageUser");
const QString scheduleSource = QStringLiteral("KTServerScheduler::schedule()");
const QString tickSource = QStringLiteral("KTServerScheduler::processScheduler()");
const QString newMessage = QStringLiteral("Mensaje Nuevo");
const QStringList systemValues{"1", "2", "1", "2", "0", "1"};
const QStringList systemFields{"sysEnabled", "sysEditable", "sysAuthorized", "sysVisible", "sysContext",
                               "sysAuthorizationGroup"};

// Columns of the task table.
enum TaskColumn { Key, SourceUser, TargetGroup, TaskType, Year, Month, Day, Weekday, Hour, Minute, Period,
                  RequestDate, State, MessageId, Command, TaskColumns };
// Columns of the target table.
enum TargetColumn { TargetTask = 1, TargetUser = 2, Delivered = 3 };

const int scheduledMessage = 3;

// Counters of n new records as the system creates them.
QList<int> created(int n)
{
    return {n, 0, n, 0, n, 0, 0, n, 0, 0, n, n, 0, 0};
}

QList<int> noModifiers()
{
    return QList<int>(14, 0);
}

QDateTime minuteOf(const QDateTime& moment)
{
    return QDateTime(moment.date(), QTime(moment.time().hour(), moment.time().minute()));
}

// A request date as a date column takes it: an ISO date, or the date of a date and time.
QDate requestDate(const QString& text)
{
    const QDate date = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    if (date.isValid())
        return date;
    for (const QString& format : {QStringLiteral("yyyy-MM-dd HH:mm:ss"), QStringLiteral("yyyy-MM-ddTHH:mm:ss")})
        if (const QDateTime moment = QDateTime::fromString(text, format); moment.isValid())
            return moment.date();
    return QDate();
}

} // namespace

KTServerScheduler::KTServerScheduler(QObject* parent)
    : QObject(parent)
    , _clock([] { return QDateTime::currentDateTime(); })
{
    connect(&_timer, &QTimer::timeout, this, &KTServerScheduler::processScheduler);
    _timer.start(30000);
}

KTServerScheduler::~KTServerScheduler()
{
    delete _model;
    delete _targetModel;
}

void KTServerScheduler::updateData(KTDatabaseController* dbController)
{
    _dbController = dbController;
    loadModels();
}

void KTServerScheduler::updateData()
{
    loadModels();
    emit schedulerModelCreated(_model);
}

void KTServerScheduler::loadModels()
{
    if (!_dbController)
        return;
    delete _model;
    delete _targetModel;
    _model = _dbController->loadCustomTable(taskTable, QStringList(), true, true);
    _targetModel = _dbController->loadCustomTable(targetTable, QStringList(), true, true);
    if (!_model || !_targetModel)
        return;
    QHash<QString, QStandardItem*> tasks;
    for (int row = 0; row < _model->rowCount(); ++row)
        tasks.insert(_model->item(row, Key)->data(Qt::UserRole + 1).toString(), _model->item(row, Key));
    for (int row = 0; row < _targetModel->rowCount(); ++row) {
        QStandardItem* task = tasks.value(_targetModel->item(row, TargetTask)->data(Qt::UserRole + 1).toString());
        if (!task)
            continue;
        QStandardItem* user = _targetModel->item(row, TargetUser)->clone();
        const QStandardItem* delivered = _targetModel->item(row, Delivered);
        user->setIcon(delivered->icon());
        user->setData(delivered->data(Qt::UserRole + 1), Qt::UserRole);
        task->appendRow(user);
    }
}

QList<KTServerScheduler::Task> KTServerScheduler::tasks() const
{
    QList<Task> tasks;
    if (!_model)
        return tasks;
    for (int row = 0; row < _model->rowCount(); ++row) {
        Task task;
        for (int column = 0; column < TaskColumns; ++column) {
            const QStandardItem* cell = _model->item(row, column);
            task.raw << (cell ? cell->data(Qt::UserRole + 1).toString() : QString());
            task.display << (cell ? cell->text() : QString());
        }
        task.key = task.raw.at(Key);
        const QStandardItem* keyCell = _model->item(row, Key);
        for (int j = 0; keyCell && j < keyCell->rowCount(); ++j) {
            task.targetKeys << keyCell->child(j)->data(Qt::UserRole + 1).toString();
            task.targetNames << keyCell->child(j)->text();
        }
        tasks << task;
    }
    return tasks;
}

QString KTServerScheduler::quoted(const QString& text) const
{
    return _dbController->quoted(text);
}

QString KTServerScheduler::lastGeneratedKey()
{
    QSqlQuery query = _dbController->customQuery(_dbController->lastInsertID());
    return query.next() ? query.value(0).toString() : QString();
}

// Bounds every statement of the scheduler, which runs on the panel's thread.
void KTServerScheduler::limitStatements(bool limited)
{
    if (_statementTimeLimit <= 0)
        return;
    _dbController->customQuery(limited ? QStringLiteral("SET SESSION max_statement_time = %1").arg(_statementTimeLimit)
                                       : QStringLiteral("SET SESSION max_statement_time = DEFAULT"));
}

// ---------------------------------------------------------------------------
// Storing a task

void KTServerScheduler::schedule(QVariant parameters)
{
    if (!_dbController)
        return;
    const QMap<QString, QVariant> params = parameters.toMap();
    const QString id = params.value(QStringLiteral("ID")).toString();
    limitStatements(true);
    const bool stored = insertTask(params, id);
    limitStatements(false);
    if (stored)
        emit eventMessage(tr("Planificación exitosa del mensaje con ID : '%1'").arg(id), KT::SuccessMessage,
                          scheduleSource);
    updateData();
}

// The task and its targets in one transaction; every value is checked for
// its type first, so that nothing of the request reaches SQL raw.
bool KTServerScheduler::insertTask(const QMap<QString, QVariant>& params, const QString& id)
{
    const auto text = [&params](const char* key) { return params.value(QLatin1String(key)).toString().trimmed(); };
    const auto refuse = [&](const QString& reason) {
        emit eventMessage(tr("Error en la planificación del mensaje con ID : '%1'. %2").arg(id, reason),
                          KT::ErrorMessage, scheduleSource);
        return false;
    };
    QStringList numbers{text("SourceUser"), text("TargetGroup"), text("TaskType")};
    for (const auto& [key, wildcard] : {std::pair{"Year", "0"}, {"Month", "0"}, {"Day", "0"}, {"Weekday", "0"},
                                        {"Hour", "24"}, {"Minute", "60"}, {"Period", "0"}})
        numbers << (text(key).isEmpty() ? QString::fromLatin1(wildcard) : text(key));
    if (!std::all_of(numbers.cbegin(), numbers.cend(), KTScheduledMessage::isNumber))
        return refuse(tr("los datos de fecha, hora, tipo, remitente o grupo no son números"));
    const QDate date = requestDate(text("RequestDate"));
    if (!date.isValid())
        return refuse(tr("la fecha de solicitud no es válida"));
    const KTScheduledMessage message(text("Command"));
    if (!message.isValid())
        return refuse(message.error());
    // A normal user schedules messages in its own name only; administrators
    // may send on behalf of others.
    const QString requester = text("_UserCod");
    if (text("_UserType") == QLatin1String("3")
        && (text("SourceUser") != requester || message.sourceUser() != requester))
        return refuse(tr("un usuario normal sólo puede planificar mensajes en su propio nombre"));
    const QStringList users = text("Users").split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (!std::all_of(users.cbegin(), users.cend(), KTScheduledMessage::isNumber))
        return refuse(tr("los usuarios destinatarios deben ser códigos numéricos"));

    if (!_dbController->beginTransaction())
        return refuse(tr("no se pudo iniciar una transacción en la BD"));
    QStringList task = QStringList{QStringLiteral("NULL")} + numbers;
    task << quoted(date.toString(Qt::ISODate)) << QStringLiteral("0")
         << (id.trimmed().isEmpty() ? QStringLiteral("NULL") : quoted(id.trimmed())) << quoted(text("Command"))
         << systemValues;
    const QSqlQuery insert = _dbController->insertRecords(taskTable, {task}, noModifiers(), QStringList());
    if (!insert.isActive()) {
        _dbController->rollback();
        return refuse(insert.lastError().databaseText());
    }
    const QString taskKey = lastGeneratedKey();
    QList<QStringList> targets;
    for (const QString& user : users)
        targets << (QStringList{QStringLiteral("NULL"), taskKey, user.trimmed(), QStringLiteral("0")} + systemValues);
    if (!targets.isEmpty()) {
        const QSqlQuery rows = _dbController->insertRecords(targetTable, targets, noModifiers(), QStringList());
        if (!rows.isActive()) {
            _dbController->rollback();
            emit eventMessage(tr("Error en la creación de usuarios de la planificación del mensaje con ID : '%1'. %2")
                                  .arg(id, rows.lastError().databaseText()),
                              KT::ErrorMessage, scheduleSource);
            return false;
        }
    }
    if (!_dbController->commit()) {
        _dbController->rollback();
        return refuse(tr("no se pudo confirmar la transacción en la BD"));
    }
    _dbController->updateTableRecordDataModel(taskTable, created(1));
    if (!targets.isEmpty())
        _dbController->updateTableRecordDataModel(targetTable, created(int(targets.size())));
    return true;
}

// ---------------------------------------------------------------------------
// The tick

void KTServerScheduler::processScheduler()
{
    if (!_dbController || !_model)
        return;
    const QList<QDateTime> minutes = minutesToCheck(_clock());
    const QList<Task> all = tasks();
    const QDateTime oldest = minutes.last().addSecs(-60 * (catchUpMinutes - 1));
    // The first of several minutes is the previous tick's, checked already.
    if (minutes.size() > 1 && minutes.first().addSecs(60) < oldest)
        reportMissed(all, minutes.first().addSecs(60), oldest.addSecs(-60));
    QList<Due> due;
    for (const QDateTime& minute : minutes)
        for (const Task& task : all)
            if (minute >= oldest && isDue(task, minute))
                due.append({task, minute});
    for (const Due& task : due) {
        // Once the database is gone every task would fail alike; the loss is reported already.
        if (_dbController->connectionLost() && !_dbController->reconnect())
            return;
        execute(task);
    }
}

// The minutes since the previous tick, this one's included; the previous
// tick's minute is checked again, since the fired minutes are kept in the
// database and a minute never fires twice.
QList<QDateTime> KTServerScheduler::minutesToCheck(const QDateTime& now)
{
    const QDateTime current = minuteOf(now);
    QDateTime first = current;
    if (_lastTick.isValid() && _lastTick < current)
        first = std::max(_lastTick, current.addDays(-1));
    _lastTick = current;
    QList<QDateTime> minutes;
    for (QDateTime minute = first; minute <= current; minute = minute.addSecs(60))
        minutes << minute;
    return minutes;
}

void KTServerScheduler::reportMissed(const QList<Task>& tasks, const QDateTime& from, const QDateTime& to)
{
    for (const Task& task : tasks) {
        int missed = 0;
        for (QDateTime minute = from; minute <= to; minute = minute.addSecs(60))
            missed += isDue(task, minute) ? 1 : 0;
        if (missed > 0)
            emit eventMessage(tr("La planificación : '%1' no se ejecutó en %2 minuto(s) entre %3 y %4: el servidor "
                                 "estuvo detenido o atrasado más de %5 minutos")
                                  .arg(task.key).arg(missed)
                                  .arg(from.toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                                       to.toString(QStringLiteral("yyyy-MM-dd HH:mm")))
                                  .arg(catchUpMinutes),
                              KT::WarningMessage, tickSource);
    }
}

// Zero fields are wildcards: year, month, day and weekday 0, hour 24 and
// minute 60 match the minute's own value.
bool KTServerScheduler::isDue(const Task& task, const QDateTime& minute)
{
    if (task.raw.at(TaskType).toInt() != scheduledMessage || task.raw.at(Period).toInt() != 0)
        return false;
    const auto field = [&](int column, int wildcard, int current) {
        const int value = task.raw.at(column).toInt();
        return value == wildcard ? current : value;
    };
    const QDate day = minute.date();
    const QTime time = minute.time();
    const QDate date(field(Year, 0, day.year()), field(Month, 0, day.month()), field(Day, 0, day.day()));
    return date == day && field(Weekday, 0, day.dayOfWeek()) == day.dayOfWeek()
        && field(Hour, 24, time.hour()) == time.hour() && field(Minute, 60, time.minute()) == time.minute();
}

// Reported once per task and minute: a failing task is tried again at every tick.
void KTServerScheduler::taskFailed(const Due& due, const QString& message)
{
    if (_reported.value(due.task.key) == due.minute)
        return;
    _reported.insert(due.task.key, due.minute);
    emit eventMessage(message, KT::ErrorMessage, tickSource);
}

void KTServerScheduler::execute(const Due& due)
{
    const QString& taskKey = due.task.key;
    const KTScheduledMessage message(due.task.raw.at(Command));
    const bool usable = KTScheduledMessage::isNumber(taskKey)
        && std::all_of(due.task.targetKeys.cbegin(), due.task.targetKeys.cend(), KTScheduledMessage::isNumber);
    if (!message.isValid() || !usable) {
        taskFailed(due, tr("Error en la creación de mensaje de la planificación : '%1'. %2")
                            .arg(taskKey, usable ? message.error() : tr("la tarea o sus destinatarios no son válidos")));
        return;
    }
    limitStatements(true);
    const auto fail = [&](const QString& text) {
        taskFailed(due, text);
        _dbController->rollback();
        limitStatements(false);
    };
    if (!_dbController->beginTransaction()) {
        if (!_dbController->connectionLost())
            taskFailed(due, tr("Error en la creación de mensaje de la planificación : '%1'. %2")
                                .arg(taskKey, tr("no se pudo iniciar una transacción en la BD")));
        limitStatements(false);
        return;
    }
    bool recorded = false;
    if (!claim(due, &recorded)) {
        _dbController->rollback();
        limitStatements(false);
        return;
    }
    const QSqlQuery insert = _dbController->insertRecords(messageTable, {message.messageRow([this](const QString& t) {
                                                              return quoted(t);
                                                          })},
                                                          noModifiers(), QStringList());
    const QString messageKey = insert.isActive() ? lastGeneratedKey() : QString();
    if (!KTScheduledMessage::isNumber(messageKey))
        return fail(tr("Error en la creación de mensaje de la planificación : '%1'. %2")
                        .arg(taskKey, insert.lastError().databaseText()));
    QList<QStringList> deliveries;
    for (const QString& user : due.task.targetKeys)
        deliveries << (QStringList{QStringLiteral("NULL"), messageKey, user, QStringLiteral("0")}
                       + message.systemValues());
    if (!deliveries.isEmpty()) {
        const QSqlQuery rows = _dbController->insertRecords(deliveryTable, deliveries, noModifiers(), QStringList());
        if (!rows.isActive())
            return fail(tr("Error en la creación de usuarios de mensaje de la planificación : '%1'. %2")
                            .arg(taskKey, rows.lastError().databaseText()));
    }
    if (!recordRun(due, recorded))
        return fail(tr("Error en la creación de mensaje de la planificación : '%1'. %2")
                        .arg(taskKey, tr("no se pudo registrar su ejecución")));
    if (!_dbController->commit())
        return fail(tr("Error en la creación de mensaje de la planificación : '%1'. %2")
                        .arg(taskKey, tr("no se pudo confirmar la transacción en la BD")));
    limitStatements(false);
    _reported.remove(taskKey);
    emit eventMessage(tr("Se creó exitosamente mensaje de la planificación : '%1'").arg(taskKey), KT::SuccessMessage,
                      tickSource);
    // Counted once committed, so that a rolled-back task leaves the statistics alone.
    _dbController->updateTableRecordDataModel(messageTable, created(1));
    if (!deliveries.isEmpty())
        _dbController->updateTableRecordDataModel(deliveryTable, created(int(deliveries.size())));
    // Nobody to tell: an empty list of users would reach every connection.
    if (!due.task.targetNames.isEmpty())
        notify(due, messageKey, message.notificationValues());
}

// Locks the task's run row for the transaction: a minute that has fired, in
// this process or in another one, is not fired again. recorded tells whether
// the task has a run row yet.
bool KTServerScheduler::claim(const Due& due, bool* recorded)
{
    QSqlQuery last = _dbController->customQuery(
        QStringLiteral("SELECT fldDate, fldTime FROM %1 WHERE codTaskScheduler = %2 FOR UPDATE")
            .arg(runTable, due.task.key));
    if (!last.isActive()) {
        taskFailed(due, tr("Error en la creación de mensaje de la planificación : '%1'. %2")
                            .arg(due.task.key, last.lastError().databaseText()));
        return false;
    }
    *recorded = last.next();
    return !*recorded
        || QDateTime(last.value(0).toDate(), QTime::fromString(last.value(1).toString(), Qt::ISODate)) < due.minute;
}

bool KTServerScheduler::recordRun(const Due& due, bool recorded)
{
    const QString date = quoted(due.minute.date().toString(Qt::ISODate));
    const QString time = quoted(due.minute.time().toString(QStringLiteral("HH:mm:ss")));
    if (recorded)
        return _dbController
            ->updateRecords(runTable, {due.task.key, date, time},
                            {QStringLiteral("codTaskScheduler"), QStringLiteral("fldDate"), QStringLiteral("fldTime")},
                            QStringLiteral("codTaskScheduler = %1").arg(due.task.key), noModifiers())
            .isActive();
    return _dbController->insertRecords(runTable, {QStringList{due.task.key, date, time} + systemValues},
                                        noModifiers(), QStringList())
        .isActive();
}

void KTServerScheduler::notify(const Due& due, const QString& messageKey, const QStringList& values)
{
    const Task& task = due.task;
    const QString row = (QStringList{messageKey, task.raw.at(SourceUser), task.raw.at(TargetGroup)} + values)
                            .join(QLatin1Char('|'));
    const QString display = (QStringList{messageKey, task.display.at(SourceUser), task.display.at(TargetGroup)}
                             + values)
                                .join(QLatin1Char('|'));
    KTDbTable* table = _dbController->dbDefinitionMap().value(messageTable);
    const QStringList fields = (table ? table->fields() : QStringList()) + systemFields;

    QString document;
    QXmlStreamWriter writer(&document);
    writer.setAutoFormatting(true);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("ActionRequest"));
    writer.writeAttribute(QStringLiteral("ObjectType"), QStringLiteral("Component"));
    writer.writeAttribute(QStringLiteral("ObjectName"), QStringLiteral("ComponentMessage"));
    writer.writeStartElement(QStringLiteral("AppendRecords"));
    writer.writeTextElement(QStringLiteral("Status"), QStringLiteral("1"));
    writer.writeTextElement(QStringLiteral("Message"), newMessage);
    writer.writeTextElement(QStringLiteral("Table"), messageTable);
    writer.writeTextElement(QStringLiteral("RowCount"), QStringLiteral("1"));
    writer.writeTextElement(QStringLiteral("Fields"), fields.join(QLatin1Char(',')));
    writer.writeTextElement(QStringLiteral("Row"), row);
    writer.writeTextElement(QStringLiteral("RowDisp"), display);
    writer.writeEndDocument();
    emit broadcastActionRequest({{QStringLiteral("0"), QStringLiteral("ComponentMessage"), document, newMessage,
                                  QStringLiteral("1")}},
                                task.targetNames.join(QLatin1Char(',')));
}
