#ifndef KTSERVERCONNECTOR_H
#define KTSERVERCONNECTOR_H

#include "KTAccessList.h"
#include "KTConnectionActivity.h"
#include "KTConnectionContext.h"
#include "KTEventRelay.h"
#include "KTLoginThrottle.h"
#include "KTRunningRequests.h"
#include "KTServerMetrics.h"
#include "KTSharedFrame.h"
#include "KTUserList.h"

#include <KTDbTable.h>

#include <QList>
#include <QMap>
#include <QStandardItemModel>
#include <QHash>
#include <QSet>
#include <QStringList>
#include <QTcpServer>
#include <QVariant>

#include <optional>

class KTConnectorThread;
class KTDatabaseController;
class KTTlsListener;
class QTimer;

// The listening side of the protocol, in the main thread: gives every
// accepted socket a connection ID and a thread of its own, keeps the
// registry of connections and logged-in users with its monitor model, routes
// replies and broadcasts to connection threads and logs logouts.
class KTServerConnector : public QTcpServer
{
    Q_OBJECT
public:
    enum Column { IdColumn, UserColumn, DateColumn, AddressColumn, LastActionColumn };
    // The date cell's QDateTime of the connection's arrival.
    static constexpr int ArrivalRole = Qt::UserRole + 1;

    explicit KTServerConnector(QObject* parent = nullptr);
    ~KTServerConnector() override;

    QStandardItemModel* model() const { return _connectionInfoModel; }
    void setDbParams(const QStringList& dbParams) { _dbParams = dbParams; }
    void setUnitParams(const QStringList& unitParams) { _unitParams = unitParams; }
    QStringList unitParams() const { return _unitParams; }
    // Largest frame a logged-in client may announce; larger ones close the connection.
    void setMaxFrameSize(qint64 bytes) { _context.limits.maxFrameSize = bytes; }
    // Unsent bytes a client may leave behind before it is disconnected.
    void setMaxPendingBytes(qint64 bytes) { _context.limits.maxPendingBytes = bytes; }
    void setNegotiationTimeout(int ms) { _context.limits.negotiationTimeoutMs = ms; }
    void setFrameTimeout(int ms) { _context.limits.frameTimeoutMs = ms; }
    // Seconds a client's statement may run, and wait for a lock.
    void setStatementLimits(int statementSeconds, int lockWaitSeconds)
    {
        _context.limits.statementSeconds = statementSeconds;
        _context.limits.lockWaitSeconds = lockWaitSeconds;
    }
    // Seconds a whole request may run before its statement is ended.
    void setRequestTimeLimit(int seconds) { _context.limits.requestSeconds = seconds; }
    const KTConnectionLimits& limits() const { return _context.limits; }
    // Connections from one address that have not logged in; the ones past it
    // are closed on arrival.
    void setMaxUnauthenticatedPerAddress(int connections) { _maxUnauthenticatedPerAddress = connections; }
    static constexpr int defaultMaxUnauthenticatedPerAddress = 64;
    // Connections served at once; the ones past it are closed on arrival, so
    // that a flood cannot exhaust threads or database connections.
    void setMaxConnections(int connections) { _maxConnections = connections; }
    int maxConnections() const { return _maxConnections; }
    static constexpr int defaultMaxConnections = 200;
    // Where the component folders and the client area are; the program's folder by default.
    void setApplicationDirectory(const QString& dir) { _context.applicationDirectory = dir; }

    // The encrypted port, beside the plain one that listen() opens. New
    // connections there shake hands with the configuration in force when
    // they arrive; a new one leaves the connections already open alone.
    bool listenEncrypted(const QHostAddress& address, quint16 port);
    QString encryptedErrorString() const;
    bool isListeningEncrypted() const;
    quint16 encryptedPort() const;
    void setTlsConfiguration(const QSslConfiguration& configuration) { _context.tls = configuration; }
    QSslConfiguration tlsConfiguration() const { return _context.tls; }
    // Whether either port is open; closePorts() closes both.
    bool isServing() const { return isListening() || isListeningEncrypted(); }
    void closePorts();
    // Whether the connection came through the encrypted port.
    bool isEncrypted(int connectionID) const { return _encrypted.contains(connectionID); }

    QList<int> connectionIDs() const;
    QStringList loggedUsers() const;
    QMap<int, QStringList> activeComponents() const;
    // The address the connection came from, as its socket saw it.
    QString peerAddress(int connectionID) const { return _addresses.value(connectionID); }
    // The counts every connection adds its requests to.
    KTServerMetrics* metrics() { return &_metrics; }
    // Where the connections write their events as they happen, from their
    // own threads; without one they are only handed on in batches.
    void setEventSink(KTEventSink* sink) { _events.setSink(sink); }
    // Stops serving: the port closed, every connection closed and its thread
    // ended, and every user still logged in logged out, while the database is
    // still there to record it.
    void shutDown();

public Q_SLOTS:
    void updateConnectionInfo(int connectionID, QString user, QString date, QString time, QString ip, QString mac,
                              int actionType, quint64 answerSize, QString message);
    void removeConnection(int connectionID);
    void removeThread();
    void broadcastAction(QList<QStringList> responseList, QString broadcastUsers);
    // A committed request's replies for everyone but its requester, who
    // wrote them itself; each frame as the requester encoded it.
    void pushAction(QList<QStringList> responseList, QList<KTSharedFramePointer> frames, QString broadcastUsers);
    void setActiveComponent(int connectionID, QString componentName, bool active);
    void updateData(KTDatabaseController* controller);
    void sendResponse(int connectionID, QString response, int compressionFactor, QString message, int role);
    void registerUser(int connectionID, QString userLogin);
    void setAccessList(int connectionID, KTAccessList accessList);
    // Another instance's committed pushes: delivered here as this instance's
    // own would be, to every connection they concern (none is the requester).
    void deliverRemotePush(QList<QStringList> responseList, QString broadcastUsers);
    // The user logged in on another instance: the session here ends.
    void closeSession(QString user, int connectionID);
    void admitLogin(int connectionID, QString login, QString address);
    void loginAnswered(int connectionID, QString login, QString address, bool granted, bool counted);
    // Reads the users a negotiation lists again.
    void refreshUserList();

Q_SIGNALS:
    // The connector's own events; the connections' come in batches, already
    // written to the event sink.
    void eventMessage(QString message, int type, QString objectLocation);
    void connectionEvents(const QList<KTEvent>& events);
    void actionRequested(int connectionID, QString user, QString date, QString time, QString ip, QString mac,
                         int actionType, quint64 answerSize, QString message);
    void updateTableRecordDataModelRequested(QString tableName, QList<int> modifiers);
    void scheduleRequested(QVariant schedule);
    void updateTaskScheduler();
    // A connection found the database gone: the panel checks its own connection.
    void databaseLost();
    // What other instances must hear of: the pushes of a committed request
    // (or of a scheduled message), and the users that log in and out here.
    void pushPublished(QList<QStringList> responseList, QString broadcastUsers);
    void userLoggedIn(QString user, int connectionID);
    void userLoggedOut(QString user, int connectionID);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    void accept(qintptr socketDescriptor, bool encrypted);
    void connectThread(KTConnectorThread* thread);
    void appendConnectionRow(int connectionID, bool encrypted);
    int modelRow(int connectionID) const;
    void writeLogout(const QString& user);
    bool mayReceive(int connectionID, const QStringList& entry, std::optional<bool>* rowsShown) const;
    void unregisterUser(int connectionID);
    QList<int> recipients(const QStringList& entry, const QString& broadcastUsers) const;
    void refreshMonitor();
    void showActivity(int row, const KTConnectionActivity::Frame& frame);
    void publishPushes(const QList<QStringList>& responseList, const QString& broadcastUsers);
    void deliver(const KTSharedFramePointer& frame, const QString& message, const QList<int>& connectionIDs);
    int unauthenticatedFrom(const QString& address) const;
    bool evictOldestUnauthenticated();
    void startLogin(int connectionID, const QString& login, const QString& address, const QString& key);
    void finishLogin(const QString& key);
    void tableChanged(const QString& tableName);
    void cancelRequest(int connectionID, const QString& reason);
    void watchRunningRequests();
    void endCancelledStatements();

    KTDatabaseController* _dbController = nullptr;
    QMap<QString, KTDbTable*> _dbDefinitionMap;
    QMap<int, QStringList> _activeComponents;
    int _nextConnectionID = 1;
    QMap<int, KTConnectorThread*> _connectionTable;
    QMap<int, QString> _userConnector;
    // What each logged-in connection's login granted; pushed replies go only
    // to the connections listed here that may read them.
    QMap<int, KTAccessList> _accessLists;
    QStandardItemModel* _connectionInfoModel;
    QStringList _dbParams;
    QStringList _loggedUsers;
    QStringList _unitParams;
    KTConnectionContext _context;
    KTLoginThrottle _loginThrottle;
    // Per turn key (name and address, or a slowed address): the connection
    // whose login is being answered, and the ones that wait behind it; and
    // the key each answered connection took its turn under.
    QHash<QString, int> _loginInProgress;
    QHash<int, QString> _loginTurns;
    QHash<QString, QList<QPair<int, QString> > > _loginsWaiting;
    // Addresses by connection, in order of arrival.
    QMap<int, QString> _addresses;
    // Connections that came through the encrypted port.
    QSet<int> _encrypted;
    KTTlsListener* _encryptedListener;
    // Connections closed to make room, until their threads have ended.
    QSet<int> _evicted;
    int _maxUnauthenticatedPerAddress = defaultMaxUnauthenticatedPerAddress;
    KTUserList _userList;
    KTRunningRequests _runningRequests;
    KTServerMetrics _metrics;
    KTEventRelay _events;
    QTimer* _userListTimer;
    QTimer* _abandonedTimer;
    QTimer* _monitorTimer;
    bool _userListRefreshQueued = false;
    int _maxConnections = defaultMaxConnections;
};

#endif
