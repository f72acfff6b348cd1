#ifndef KTCLUSTERBROKER_H
#define KTCLUSTERBROKER_H

#include "KTBrokerAddress.h"
#include "KTClusterMessage.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QStringList>

struct redisContext;
struct redisReply;
class QSocketNotifier;
class QTimer;

// This instance's link to the broker (Redis), on a thread of its own: one
// connection publishes and keeps the session keys, the other listens to the
// instances' channel. It connects again by itself after a loss, and talks
// to the rest of the server only through its slots and signals.
class KTClusterBroker : public QObject
{
    Q_OBJECT
public:
    // A session key outlives its instance by at most this long.
    static constexpr int sessionSeconds = 30;

    // origin names this run of this instance; channel is shared by every
    // instance of one installation.
    KTClusterBroker(const KTBrokerAddress& address, const QString& origin, const QString& channel,
                    QObject* parent = nullptr);
    ~KTClusterBroker() override;

    QString origin() const { return _origin; }

public Q_SLOTS:
    void start();
    void stop();
    void publishPush(QList<QStringList> entries, QString users);
    void publishStatistics(QString table, QList<int> modifiers);
    void registerLogin(QString user, int connectionID);
    void unregisterLogin(QString user, int connectionID);

Q_SIGNALS:
    void pushReceived(QList<QStringList> entries, QString users);
    // Deltas to apply: only those that follow what this instance has read.
    void statisticsReceived(QString table, QList<int> modifiers);
    // Another instance committed a change to the table.
    void tableChangedElsewhere(QString table);
    void closeSessionRequested(QString user, int connectionID);
    void stateChanged(bool up);
    // Another instance's messages were missed while the link stood.
    void messagesLost();
    void eventMessage(QString message, int type, QString objectLocation);

private:
    void connectToBroker();
    redisContext* openContext(QString* error);
    bool subscribe(QString* error);
    void lose(const QString& reason);
    void closeContexts();
    void readSubscription();
    void handleReply(redisReply* reply);
    void receive(const QByteArray& payload);
    bool sequenceFollows(const KTClusterMessage& message);
    void publish(KTClusterMessage message);
    redisReply* command(const QList<QByteArray>& arguments);
    bool commandOk(const QList<QByteArray>& arguments);
    void keepAlive();
    void writeSession(const QString& user, int connectionID, bool claim);
    QByteArray sessionKey(const QString& user) const;
    QByteArray sessionValue(int connectionID) const;

    const KTBrokerAddress _address;
    const QString _origin;
    const QByteArray _channel;
    redisContext* _publisher = nullptr;
    redisContext* _subscriber = nullptr;
    QSocketNotifier* _notifier = nullptr;
    QTimer* _retryTimer = nullptr;
    QTimer* _keepAliveTimer = nullptr;
    bool _up = false;
    bool _lossReported = false;
    quint64 _sequence = 0;
    // Last sequence seen from each other origin.
    QHash<QString, quint64> _lastSequence;
    // The sessions of this instance, kept alive in the broker.
    QMap<QString, int> _sessions;
};

#endif
