#ifndef KTACTIONRUNNER_H
#define KTACTIONRUNNER_H

#include "KTConnectionContext.h"
#include "KTSharedFrame.h"

#include <QDomElement>
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
    void runActionRequest(const QDomElement& root);
    void runLockRequest(const QDomElement& root);
    void requestSchedule(const QDomElement& root);

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

    Access accessOf(const QDomElement& root) const;
    bool begun(Access access);
    bool actionRequestSucceeded(const QDomElement& root);
    bool lockRequestSucceeded(const QDomElement& root);
    void record(const QDomElement& root, bool ok, qint64 bytesBefore, qint64 nanoseconds);
    void beginRequest();
    void endRequest();
    bool transactionBegun(const QDomElement& root, Access access);
    bool runActions(const QDomElement& root, QString* logins, QVariant* schedule, QList<QStringList>* responses);
    bool committed(const QDomElement& root);
    bool statementCut(const QDomElement& action);
    bool runAction(const QDomElement& action, const QString& firstTransaction, QList<QStringList>* responses);
    QMultiMap<QString, QString> actionParameters(const QDomElement& action, const QString& firstTransaction) const;
    bool actionRefused(const QDomElement& action, const QMultiMap<QString, QString>& params);
    bool lockRefused(const QDomElement& root);
    void rollBack(const QString& actionName);
    void requestCommitted(const QList<QStringList>& responses, const QString& logins);
    void writeRequestFailure(const QDomElement& action, const QString& message,
                             const QString& panelMessage = QString());
    QMap<QString, QVariant> scheduleParameters(const QDomElement& root) const;
    QString databaseName() const;

    KTConnectionSession& _session;
    KTReplyChannel& _channel;
    KTComponentRegistry& _registry;
    KTDatabaseController* _dbController;
    KTConnectionContext _context;
};

#endif
