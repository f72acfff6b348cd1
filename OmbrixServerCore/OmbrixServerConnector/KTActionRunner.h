#ifndef KTACTIONRUNNER_H
#define KTACTIONRUNNER_H

#include "KTConnectionContext.h"

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
    void broadcastActionRequest(QList<QStringList> responseList, QString broadcastUsers);
    void scheduleRequested(QVariant schedule);

private:
    void beginRequest();
    void endRequest();
    bool transactionBegun(const QDomElement& root);
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
