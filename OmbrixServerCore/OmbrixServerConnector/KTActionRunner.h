#ifndef KTACTIONRUNNER_H
#define KTACTIONRUNNER_H

#include "KTConnectionContext.h"
#include "KTSharedFrame.h"

#include "KTRequestElement.h"
#include <QList>
#include <QMultiMap>
#include <QObject>
#include <QStringList>
#include <QVariant>

class KTComponentRegistry;
class KTConnectionSession;
class KTDatabaseController;
class KTReplyChannel;

// Runs a logged-in client's requests: action requests in one transaction,
// lock requests under their table locks, and scheduled tasks handed to the
// scheduler. A failed request gets one failure reply; a successful one hands
// its replies to whoever delivers them.
class KTActionRunner : public QObject
{
    Q_OBJECT
public:
    KTActionRunner(KTConnectionSession& session, KTReplyChannel& channel, KTComponentRegistry& registry,
                   KTDatabaseController* dbController);

    void setContext(const KTConnectionContext& context) { _context = context; }
    void runActionRequest(const KTRequestElement& root);
    void runLockRequest(const KTRequestElement& root);
    void requestSchedule(const KTRequestElement& root);

Q_SIGNALS:
    void eventMessage(const QString& message, int type, const QString& objectLocation);
    void updateTableRecordDataModelRequested(const QString tableName, QList<int> modifiers);
    void updateTaskScheduler();
    void pushRequested(QList<QStringList> responseList, QList<KTSharedFramePointer> frames, QString broadcastUsers);
    void scheduleRequested(QVariant schedule);

private:
    // How a request meets the database: a request whose components all only
    // read needs no transaction when it is one action, and a read-only one
    // otherwise.
    enum class Access { Write, ReadOnlyTransaction, SingleRead };

    Access accessOf(const KTRequestElement& root) const;
    bool begun(Access access);
    bool actionRequestSucceeded(const KTRequestElement& root);
    bool lockRequestSucceeded(const KTRequestElement& root);
    void record(const KTRequestElement& root, bool ok, qint64 bytesBefore, qint64 nanoseconds);
    void beginRequest();
    void endRequest();
    bool transactionBegun(const KTRequestElement& root, Access access);
    bool runActions(const KTRequestElement& root, QString* logins, QVariant* schedule, QList<QStringList>* responses);
    bool committed(const KTRequestElement& root);
    bool statementCut(const KTRequestElement& action);
    bool runAction(const KTRequestElement& action, const QString& firstTransaction, QList<QStringList>* responses);
    QMultiMap<QString, QString> actionParameters(const KTRequestElement& action, const QString& firstTransaction) const;
    bool actionRefused(const KTRequestElement& action, const QMultiMap<QString, QString>& params);
    bool lockRefused(const KTRequestElement& root);
    void rollBack(const QString& actionName);
    void requestCommitted(const QList<QStringList>& responses, const QString& logins);
    void writeRequestFailure(const KTRequestElement& action, const QString& message,
                             const QString& panelMessage = QString());
    QMap<QString, QVariant> scheduleParameters(const KTRequestElement& root) const;
    QString databaseName() const;

    KTConnectionSession& _session;
    KTReplyChannel& _channel;
    KTComponentRegistry& _registry;
    KTDatabaseController* _dbController;
    KTConnectionContext _context;
};

#endif
