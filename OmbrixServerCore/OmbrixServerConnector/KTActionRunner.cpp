#include "KTActionRunner.h"

#include "KTAccessPolicy.h"
#include "KTComponentRegistry.h"
#include "KTConnectionSession.h"
#include "KTReplyChannel.h"
#include "KTReplyXml.h"
#include "KTRequestParameters.h"
#include "KTRunningRequests.h"
#include "KTServerMetrics.h"

#include <KT.h>
#include <KTDatabaseController.h>
#include <KTSercomBase.h>

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>

namespace {

const QString location = QStringLiteral("KTTcpSocket::parseXML()");
const QString broadcastUsersTag = QStringLiteral("BroadcastUsers");
const QString scheduleTag = QStringLiteral("Schedule");

// The action that speaks for a whole request in a failure reply: its first
// child that names a component.
KTRequestElement firstAction(const KTRequestElement& root)
{
    for (KTRequestElement child = root.firstChildElement(); !child.isNull(); child = child.nextSiblingElement())
        if (child.tagName() != broadcastUsersTag && child.tagName() != scheduleTag)
            return child;
    return KTRequestElement();
}

// A lock's attributes are lists that keep their empty parts.
QStringList list(const KTRequestElement& root, const char* name)
{
    return root.attribute(QLatin1String(name)).split(QLatin1Char(','));
}

} // namespace

KTActionRunner::KTActionRunner(KTConnectionSession& session, KTReplyChannel& channel, KTComponentRegistry& registry,
                               KTDatabaseController* dbController)
    : _session(session)
    , _channel(channel)
    , _registry(registry)
    , _dbController(dbController)
{
}

// While a request runs, its session is listed, so that its statement can be
// ended from outside should its client go.
void KTActionRunner::beginRequest()
{
    _dbController->resetLastErrorCode();
    if (_context.runningRequests)
        _context.runningRequests->begin(_session.connectionID, _dbController->sessionId(), _channel.descriptor());
}

void KTActionRunner::endRequest()
{
    if (_context.runningRequests)
        _context.runningRequests->end(_session.connectionID);
}

QString KTActionRunner::databaseName() const
{
    return _dbController->dbParameters().value(KTDatabaseController::DatabaseName);
}

// A statement MariaDB ended (its time ran out, it waited too long for a
// lock, or the server cancelled it) fails the request with a message that
// says so, rather than with the database's own text.
bool KTActionRunner::statementCut(const KTRequestElement& action)
{
    QString message;
    switch (_dbController->lastErrorCode()) {
    case 1969:
        message = tr("La operación superó el tiempo máximo de %1 s y fue cancelada.").arg(_context.limits.statementSeconds);
        break;
    case 1205:
        message = tr("La operación esperó más de %1 s por datos bloqueados por otro usuario y fue cancelada. "
                     "Intente nuevamente.").arg(_context.limits.lockWaitSeconds);
        break;
    case 1317:
        message = tr("La operación fue cancelada por el servidor.");
        break;
    default:
        return false;
    }
    writeRequestFailure(action, message);
    emit eventMessage(tr("Solicitud del usuario '%1' con ID de Conexión '%2' cancelada en la BD : %3")
                          .arg(_session.user()).arg(_session.connectionID).arg(message), KT::WarningMessage, location);
    return true;
}

void KTActionRunner::runActionRequest(const KTRequestElement& root)
{
    const qint64 bytesBefore = _channel.bytesSent();
    QElapsedTimer timer;
    timer.start();
    const bool ok = actionRequestSucceeded(root);
    record(root, ok, bytesBefore, timer.nsecsElapsed());
}

void KTActionRunner::runLockRequest(const KTRequestElement& root)
{
    const qint64 bytesBefore = _channel.bytesSent();
    QElapsedTimer timer;
    timer.start();
    const bool ok = lockRequestSucceeded(root);
    record(root, ok, bytesBefore, timer.nsecsElapsed());
}

// Counted under the request's first action; what the requester was sent,
// its own replies and any failure reply.
void KTActionRunner::record(const KTRequestElement& root, bool ok, qint64 bytesBefore, qint64 nanoseconds)
{
    if (_context.metrics)
        _context.metrics->recordRequest(firstAction(root).tagName(), ok, _channel.bytesSent() - bytesBefore,
                                        nanoseconds / 1000);
}

bool KTActionRunner::actionRequestSucceeded(const KTRequestElement& root)
{
    beginRequest();
    const Access access = accessOf(root);
    const auto ended = qScopeGuard([this, access] {
        if (access == Access::SingleRead)
            _dbController->endReadOnlyRequest();
        endRequest();
    });
    if (!transactionBegun(root, access))
        return false;
    QList<QStringList> responses;
    QString logins;
    QVariant schedule;
    if (!runActions(root, &logins, &schedule, &responses))
        return false;
    // Nobody would learn of the outcome: work for a client that is gone is undone.
    if (_channel.peerGone()) {
        rollBack(QStringLiteral("ActionRequest"));
        emit eventMessage(tr("La conexión '%1' del usuario '%2' se cerró durante su solicitud; no se guardaron los "
                             "cambios").arg(_session.connectionID).arg(_session.user()), KT::WarningMessage, location);
        return false;
    }
    if (access != Access::SingleRead && !committed(root))
        return false;
    if (schedule.isValid())
        emit scheduleRequested(schedule);
    requestCommitted(responses, logins);
    return true;
}

// Declared by each component, never read from what the client sent.
KTActionRunner::Access KTActionRunner::accessOf(const KTRequestElement& root) const
{
    int actions = 0;
    for (KTRequestElement action = root.firstChildElement(); !action.isNull(); action = action.nextSiblingElement()) {
        if (action.tagName() == broadcastUsersTag || action.tagName() == scheduleTag)
            continue;
        const KTSercomBase* component = _registry.sercom(action.tagName());
        if (!component || !component->readsOnly())
            return Access::Write;
        ++actions;
    }
    return actions <= 1 ? Access::SingleRead : Access::ReadOnlyTransaction;
}

bool KTActionRunner::begun(Access access)
{
    switch (access) {
    case Access::SingleRead:
        return _dbController->startReadOnlyRequest();
    case Access::ReadOnlyTransaction:
        return _dbController->beginReadOnlyTransaction();
    case Access::Write:
        break;
    }
    return _dbController->beginTransaction();
}

bool KTActionRunner::transactionBegun(const KTRequestElement& root, Access access)
{
    const bool begun = this->begun(access);
    if (!begun)
        emit eventMessage(tr("Se produjo un error al iniciar una transacción en la BD. Conexión : %1, Usuario : %2")
                              .arg(_session.connectionID).arg(_session.user()), KT::BugMessage, location);
    _registry.clearShared();
    if (!begun)
        // The client is told, so that it does not wait for an answer that never comes.
        writeRequestFailure(firstAction(root), tr("No se pudo iniciar una transacción en la base de datos. "
                                                  "Intente nuevamente."));
    return begun;
}

// The request's actions in order; false, rolled back and answered, at the first that fails.
bool KTActionRunner::runActions(const KTRequestElement& root, QString* logins, QVariant* schedule,
                                QList<QStringList>* responses)
{
    int position = 0;
    for (KTRequestElement action = root.firstChildElement(); !action.isNull();
         action = action.nextSiblingElement(), ++position) {
        if (action.tagName() == broadcastUsersTag) {
            *logins = action.attribute(QStringLiteral("Logins"));
        } else if (action.tagName() == scheduleTag) {
            *schedule = QVariant(scheduleParameters(action));
        } else if (!runAction(action, position == 0 ? QStringLiteral("1") : QStringLiteral("0"), responses)) {
            rollBack(action.tagName());
            return false;
        }
    }
    return true;
}

bool KTActionRunner::committed(const KTRequestElement& root)
{
    if (_dbController->commit())
        return true;
    emit eventMessage(tr("No se pudo realizar Commit en la base de datos. Usuario '%1', Conexión '%2'")
                          .arg(_session.user()).arg(_session.connectionID), KT::BugMessage, location);
    _dbController->rollback();
    writeRequestFailure(firstAction(root), tr("No se pudieron guardar los cambios en la base de datos. "
                                              "Intente nuevamente."));
    return false;
}

bool KTActionRunner::lockRequestSucceeded(const KTRequestElement& root)
{
    if (lockRefused(root))
        return false;
    beginRequest();
    const auto ended = qScopeGuard([this] { endRequest(); });
    const QSqlQuery locked = _dbController->lock(list(root, "Tables"), list(root, "Aliases"), list(root, "Modes"));
    _registry.clearShared();
    if (!locked.isActive()) {
        // Running the actions unlocked would give the client the opposite of what it asked for.
        _dbController->unlock();
        emit eventMessage(tr("No se pudieron bloquear las tablas '%1'. Usuario '%2', Conexión '%3'. Error de BD : '%4'")
                              .arg(root.attribute(QStringLiteral("Tables")), _session.user()).arg(_session.connectionID)
                              .arg(locked.lastError().databaseText()), KT::WarningMessage, location);
        writeRequestFailure(firstAction(root), tr("No se pudieron bloquear las tablas solicitadas. Error de BD : '%1'")
                                                   .arg(locked.lastError().databaseText()));
        return false;
    }
    QList<QStringList> responses;
    bool ok = true;
    for (KTRequestElement action = root.firstChildElement(); ok && !action.isNull(); action = action.nextSiblingElement()) {
        ok = runAction(action, QString(), &responses);
        if (!ok)
            rollBack(action.tagName());
    }
    const QSqlQuery unlocked = _dbController->unlock();
    if (ok && !unlocked.isActive()) {
        emit eventMessage(tr("No se pudo realizar Commit en la base de datos. Usuario '%1', Conexión '%2'")
                              .arg(_session.user()).arg(_session.connectionID), KT::BugMessage, location);
        writeRequestFailure(firstAction(root), tr("No se pudieron guardar los cambios en la base de datos. "
                                                  "Intente nuevamente."));
        return false;
    }
    if (ok)
        requestCommitted(responses, QString());
    return ok;
}

// Calls the component an action names; false when the request has failed.
// firstTransaction is empty for the actions of a lock request, which carry no such key.
bool KTActionRunner::runAction(const KTRequestElement& action, const QString& firstTransaction,
                               QList<QStringList>* responses)
{
    QMultiMap<QString, QString> params = actionParameters(action, firstTransaction);
    KTSercomBase* component = _registry.sercom(action.tagName());
    if (!component) {
        const QString message = tr("Usuario '%1' con ID de Conexión '%2', solicitó acción '%3' no existente en la lista "
                                   "de objetos permitidos.").arg(_session.user()).arg(_session.connectionID)
                                    .arg(action.tagName());
        writeRequestFailure(action, tr("No se encontró la acción %1 en el servidor").arg(action.tagName()), message);
        emit eventMessage(message, KT::WarningMessage, location);
        return false;
    }
    if (actionRefused(action, params))
        return false;
    KTAccessPolicy::addRecordConditions(_session.accessList, action.tagName(), &params);
    const QString reply = component->processRequest(params);
    if (!component->lastResult()) {
        if (!statementCut(action))
            _channel.writeReply(reply, component->lastMessage(), KTReplyChannel::RequestAction);
        return false;
    }
    responses->append({QString::number(_session.connectionID), action.attribute(QStringLiteral("ObjectName")), reply,
                       component->lastMessage(),
                       component->broadcast() ? QStringLiteral("1") : QStringLiteral("0")});
    return true;
}

// An action the policy refuses gets a failure reply and a warning naming
// who asked for what.
bool KTActionRunner::actionRefused(const KTRequestElement& action, const QMultiMap<QString, QString>& params)
{
    const QString refusal = KTAccessPolicy::actionRefusal(_session.accessList, action.tagName(), params, databaseName());
    if (refusal.isEmpty())
        return false;
    const QString objectName = action.attribute(QStringLiteral("ObjectName"));
    writeRequestFailure(action, tr("%1 > Acción '%2' rechazada. %3").arg(objectName, action.tagName(), refusal));
    emit eventMessage(tr("Acción '%1' rechazada al usuario '%2' con ID de Conexión '%3' en el componente '%4' : %5")
                          .arg(action.tagName(), _session.user()).arg(_session.connectionID).arg(objectName, refusal),
                      KT::WarningMessage, location);
    return true;
}

bool KTActionRunner::lockRefused(const KTRequestElement& root)
{
    QStringList objectNames;
    for (KTRequestElement action = root.firstChildElement(); !action.isNull(); action = action.nextSiblingElement())
        objectNames << action.attribute(QStringLiteral("ObjectName"));
    const QString refusal = KTAccessPolicy::lockRefusal(_session.accessList, list(root, "Tables"), list(root, "Aliases"),
                                                        list(root, "Modes"), objectNames, databaseName());
    if (refusal.isEmpty())
        return false;
    const KTRequestElement action = firstAction(root);
    writeRequestFailure(action, tr("Bloqueo de tablas rechazado. %1").arg(refusal));
    emit eventMessage(tr("Bloqueo de tablas '%1' rechazado al usuario '%2' con ID de Conexión '%3' en el componente "
                         "'%4' : %5").arg(root.attribute(QStringLiteral("Tables")), _session.user())
                          .arg(_session.connectionID).arg(action.attribute(QStringLiteral("ObjectName")), refusal),
                      KT::WarningMessage, location);
    return true;
}

QMultiMap<QString, QString> KTActionRunner::actionParameters(const KTRequestElement& action,
                                                             const QString& firstTransaction) const
{
    QMultiMap<QString, QString> params;
    params.insert(QStringLiteral("_UserLogin"), _session.user());
    params.insert(QStringLiteral("_Group"), _session.group());
    params.insert(QStringLiteral("_UserCod"), _session.userCod());
    params.insert(QStringLiteral("_UserType"), QString::number(_session.userType()));
    for (const char* attribute : {"ObjectType", "ObjectName", "ObjectNameEmbedded"})
        params.insert(QLatin1Char('_') + QLatin1String(attribute), action.attribute(QLatin1String(attribute)));
    if (!firstTransaction.isEmpty())
        params.insert(QStringLiteral("_FirstTransaction"), firstTransaction);
    for (KTRequestElement child = action.firstChildElement(); !child.isNull(); child = child.nextSiblingElement())
        params.insert(child.tagName(), child.text());
    return params;
}

void KTActionRunner::rollBack(const QString& actionName)
{
    if (!_dbController->rollback())
        emit eventMessage(tr("No se pudo realizar Rollback de acción fallida '%1'. Usuario '%2', Conexión '%3'")
                              .arg(actionName, _session.user()).arg(_session.connectionID), KT::BugMessage, location);
}

// After the commit: the statistics of every changed table, then the replies.
void KTActionRunner::requestCommitted(const QList<QStringList>& responses, const QString& logins)
{
    // A table a component only prepared a vector for has nothing to report.
    const QMap<QString, QList<int> >& modifiers = _registry.transactionModifiers();
    for (auto it = modifiers.cbegin(); it != modifiers.cend(); ++it)
        if (std::any_of(it.value().cbegin(), it.value().cend(), [](int delta) { return delta != 0; }))
            emit updateTableRecordDataModelRequested(it.key(), it.value());
    if (_registry.tasksChanged())
        emit updateTaskScheduler();
    _registry.clearTasksChanged();
    // The requester's replies go out from here, before anyone else's copy.
    QList<QStringList> pushes;
    QList<KTSharedFramePointer> frames;
    for (const QStringList& entry : responses) {
        const KTSharedFramePointer frame = QSharedPointer<const KTSharedFrame>::create(entry.value(2));
        _channel.writeShared(frame, entry.value(3), KTReplyChannel::RequestAction);
        if (entry.value(4) == QLatin1String("1")) {
            pushes << entry;
            frames << frame;
        }
    }
    if (!pushes.isEmpty())
        emit pushRequested(pushes, frames, logins);
}

// The failure a request gets when no component answers it: the not-found
// reply's shape, with the client object of the given action.
void KTActionRunner::writeRequestFailure(const KTRequestElement& action, const QString& message,
                                         const QString& panelMessage)
{
    const QString reply = KTReplyXml::requestFailure(action.attribute(QStringLiteral("ObjectType")),
                                                     action.attribute(QStringLiteral("ObjectName")), message);
    _channel.writeReply(reply, panelMessage.isEmpty() ? message : panelMessage, KTReplyChannel::RequestAction);
}

void KTActionRunner::requestSchedule(const KTRequestElement& root)
{
    emit scheduleRequested(QVariant(scheduleParameters(root)));
}

QMap<QString, QVariant> KTActionRunner::scheduleParameters(const KTRequestElement& root) const
{
    QMap<QString, QVariant> schedule;
    const QMap<QString, QString> params = KTRequestParameters::of(root);
    for (auto it = params.cbegin(); it != params.cend(); ++it)
        schedule.insert(it.key(), it.value());
    // The requester's identity goes in after the client's own values, so that
    // a client cannot name someone else as the requester.
    schedule.insert(QStringLiteral("_UserCod"), _session.userCod());
    schedule.insert(QStringLiteral("_UserType"), _session.userType());
    return schedule;
}
