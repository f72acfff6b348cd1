#include "KTServerScheduler.h"

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
                  RequestDate, State, MessageId, Command };
// Columns of the target table.
enum TargetColumn { TargetTask = 1, TargetUser = 2, Delivered = 3 };
// The message row a command holds: its own eight columns, then its six system values.
enum CommandValue { CommandDate = 3, CommandText = 7, CommandSystem = 8, CommandSize = 14 };

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

// Values that go into statements unquoted must be numbers.
bool isNumber(const QString& text)
{
    bool numeric = false;
    text.trimmed().toLongLong(&numeric);
    return numeric;
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
        tasks.insert(rawValue(row, Key), _model->item(row, Key));
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

QString KTServerScheduler::rawValue(int row, int column) const
{
    const QStandardItem* cell = _model->item(row, column);
    return cell ? cell->data(Qt::UserRole + 1).toString() : QString();
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

void KTServerScheduler::schedule(QVariant parameters)
{
    if (!_dbController)
        return;
    QMap<QString, QVariant> params = parameters.toMap();
    const auto text = [&params](const char* key) { return params.value(QLatin1String(key)).toString().trimmed(); };
    QStringList numbers{text("SourceUser"), text("TargetGroup"), text("TaskType")};
    for (const auto& [key, wildcard] : {std::pair{"Year", "0"}, {"Month", "0"}, {"Day", "0"}, {"Weekday", "0"},
                                        {"Hour", "24"}, {"Minute", "60"}, {"Period", "0"}})
        numbers << (text(key).isEmpty() ? QString::fromLatin1(wildcard) : text(key));
    const QString id = params.value(QStringLiteral("ID")).toString();
    // The request's values go into the statement as they stand: only numbers pass.
    if (!std::all_of(numbers.cbegin(), numbers.cend(), isNumber)) {
        emit eventMessage(tr("Error en la planificación del mensaje con ID : '%1'").arg(id), KT::ErrorMessage,
                          scheduleSource);
        return;
    }
    QStringList task = QStringList{QStringLiteral("NULL")} + numbers;
    task << quoted(text("RequestDate")) << QStringLiteral("0")
         << (id.trimmed().isEmpty() ? QStringLiteral("NULL") : quoted(id.trimmed())) << quoted(text("Command"))
         << systemValues;
    const QSqlQuery insert = _dbController->insertRecords(taskTable, {task}, created(1), QStringList());
    emit eventMessage(insert.isActive() ? tr("Planificación exitosa del mensaje con ID : '%1'").arg(id)
                                        : tr("Error en la planificación del mensaje con ID : '%1'").arg(id),
                      insert.isActive() ? KT::SuccessMessage : KT::ErrorMessage, scheduleSource);
    const QString taskKey = lastGeneratedKey();

    // A user key must name a user: empty entries are no target at all.
    QList<QStringList> targets;
    for (const QString& user : text("Users").split(QLatin1Char(','), Qt::SkipEmptyParts))
        targets << (QStringList{QStringLiteral("NULL"), taskKey, quoted(user.trimmed()), QStringLiteral("0")}
                    + systemValues);
    if (insert.isActive() && !targets.isEmpty()) {
        const QSqlQuery users = _dbController->insertRecords(targetTable, targets, created(int(targets.size())),
                                                             QStringList());
        if (!users.isActive())
            emit eventMessage(tr("Error en la creación de usuarios de la planificación del mensaje con ID : '%1'. %2")
                                  .arg(id, users.lastError().databaseText()),
                              KT::ErrorMessage, scheduleSource);
    }
    updateData();
}

void KTServerScheduler::processScheduler()
{
    if (!_dbController || !_model)
        return;
    const QDateTime now = _clock();
    const QDateTime minute(now.date(), QTime(now.time().hour(), now.time().minute()));
    QList<Due> due;
    for (int row = 0; row < _model->rowCount(); ++row)
        if (isDue(row, now) && _lastFired.value(rawValue(row, Key)) != minute)
            due.append({_model->item(row, Key), rawValue(row, Command).split(QLatin1Char(','))});
    for (const Due& task : due) {
        if (!execute(task))
            return;
        _lastFired.insert(task.task->data(Qt::UserRole + 1).toString(), minute);
    }
}

// Zero fields are wildcards: year, month, day and weekday 0, hour 24 and
// minute 60 match the current value.
bool KTServerScheduler::isDue(int row, const QDateTime& now) const
{
    if (rawValue(row, TaskType).toInt() != scheduledMessage || rawValue(row, Period).toInt() != 0)
        return false;
    const auto field = [&](int column, int wildcard, int current) {
        const int value = rawValue(row, column).toInt();
        return value == wildcard ? current : value;
    };
    const QDate today = now.date();
    const QDate date(field(Year, 0, today.year()), field(Month, 0, today.month()), field(Day, 0, today.day()));
    return date == today && field(Weekday, 0, today.dayOfWeek()) == today.dayOfWeek()
        && field(Hour, 24, now.time().hour()) == now.time().hour()
        && field(Minute, 60, now.time().minute()) == now.time().minute();
}

bool KTServerScheduler::execute(const Due& due)
{
    const QString taskKey = due.task->data(Qt::UserRole + 1).toString();
    const QStringList& command = due.command;
    if (!wellFormed(command)) {
        emit eventMessage(tr("Error en la creación de mensaje de la planificación : '%1'. %2")
                              .arg(taskKey, tr("el mensaje planificado no es válido")),
                          KT::ErrorMessage, tickSource);
        return true;
    }
    // The texts are quoted by the driver: a message may hold any character.
    QStringList message = command.mid(0, CommandDate);
    for (int k = CommandDate; k < CommandText; ++k)
        message << quoted(command.at(k));
    message << quoted(QString::fromUtf8(QByteArray::fromBase64(command.at(CommandText).toLatin1())));
    message << command.mid(CommandSystem, CommandSize - CommandSystem);

    _dbController->beginTransaction();
    const QSqlQuery insert = _dbController->insertRecords(messageTable, {message}, noModifiers(), QStringList());
    if (!insert.isActive()) {
        emit eventMessage(tr("Error en la creación de mensaje de la planificación : '%1'. %2")
                              .arg(taskKey, insert.lastError().databaseText()),
                          KT::ErrorMessage, tickSource);
        _dbController->rollback();
        return false;
    }
    const QString messageKey = lastGeneratedKey();
    QList<QStringList> deliveries;
    QStringList users;
    for (int j = 0; j < due.task->rowCount(); ++j) {
        const QStandardItem* user = due.task->child(j);
        deliveries << (QStringList{QStringLiteral("NULL"), messageKey, user->data(Qt::UserRole + 1).toString(),
                                   QStringLiteral("0")}
                       + command.mid(CommandSystem, CommandSize - CommandSystem));
        users << user->text();
    }
    if (!deliveries.isEmpty()) {
        const QSqlQuery rows = _dbController->insertRecords(deliveryTable, deliveries, noModifiers(), QStringList());
        if (!rows.isActive()) {
            emit eventMessage(tr("Error en la creación de usuarios de mensaje de la planificación : '%1'. %2")
                                  .arg(taskKey, rows.lastError().databaseText()),
                              KT::ErrorMessage, tickSource);
            _dbController->rollback();
            return false;
        }
    }
    emit eventMessage(tr("Se creó exitosamente mensaje de la planificación : '%1'").arg(taskKey), KT::SuccessMessage,
                      tickSource);
    _dbController->commit();
    // Counted once committed, so that a rolled-back task leaves the statistics alone.
    _dbController->updateTableRecordDataModel(messageTable, created(1));
    if (!deliveries.isEmpty())
        _dbController->updateTableRecordDataModel(deliveryTable, created(int(deliveries.size())));
    // Nobody to tell: an empty list of users would reach every connection.
    if (!users.isEmpty())
        notify(due, messageKey, users);
    return true;
}

// The command's keys and system values go into the statement unquoted.
bool KTServerScheduler::wellFormed(const QStringList& command)
{
    if (command.size() < CommandSize)
        return false;
    QStringList numbers = command.mid(SourceUser, CommandDate - SourceUser);
    numbers << command.mid(CommandSystem, CommandSize - CommandSystem);
    return std::all_of(numbers.cbegin(), numbers.cend(), isNumber);
}

void KTServerScheduler::notify(const Due& due, const QString& messageKey, const QStringList& users)
{
    const int row = due.task->row();
    const QStringList& command = due.command;
    const QStringList rest = command.mid(CommandDate, CommandSize - CommandDate);
    const QString values = (QStringList{messageKey, rawValue(row, SourceUser), rawValue(row, TargetGroup)} + rest)
                               .join(QLatin1Char('|'));
    const QString display = (QStringList{messageKey, _model->item(row, SourceUser)->text(),
                                         _model->item(row, TargetGroup)->text()} + rest)
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
    writer.writeTextElement(QStringLiteral("Row"), values);
    writer.writeTextElement(QStringLiteral("RowDisp"), display);
    writer.writeEndDocument();
    emit broadcastActionRequest({{QStringLiteral("0"), QStringLiteral("ComponentMessage"), document, newMessage,
                                  QStringLiteral("1")}},
                                users.join(QLatin1Char(',')));
}
