#ifndef KTTCPSOCKET_H
#define KTTCPSOCKET_H

#include "KTAccessList.h"
#include "KTConnectionContext.h"
#include "KTSharedFrame.h"

#include <KTDbTable.h>

#include <QDomDocument>
#include <QList>
#include <QMap>
#include <QMultiMap>
#include <QStringList>
#include <QTcpSocket>
#include <QVariant>

class KTAuthcomBase;
class KTDatabaseController;
class KTSercomBase;
class QTimer;

// The server end of one client connection, living on that connection's own
// thread: reads and writes frames, keeps the state of the conversation and
// dispatches every received document by its root element. It owns the
// connection's database controller and component instances.
class KTTcpSocket : public QTcpSocket
{
    Q_OBJECT
public:
    KTTcpSocket(const QStringList& dbParams, const QStringList& unitParams, QObject* parent = nullptr);
    ~KTTcpSocket() override;

    // Names the connection and starts its negotiation deadline. Its own
    // database connection opens only when the client logs in.
    void setDbConnection(int connectionID, QMap<QString, KTDbTable*> dbDefinitionMap);
    // Limits, installation folder, and where the users a negotiation lists
    // and the requests under way are kept; without them a negotiation lists
    // nobody and requests are not listed.
    void setContext(const KTConnectionContext& context);
    static constexpr qint64 defaultMaxPendingBytes = KTConnectionLimits::defaultMaxPendingBytes;
    // Whether the connection holds a database connection of its own now.
    bool holdsDatabase() const { return _databaseOpen; }
    void loadAuthcoms(const QString& path, bool recursive);
    void loadSercoms(const QString& path, bool recursive);
    void parseXML(const QString& text);

public Q_SLOTS:
    void closeConnection();
    void readData();
    void writeData(const QString& data, int compressionFactor, const QString& messageToPanel, int role);
    // Answers the login that loginRequested announced, after delayMs.
    void startLogin(int delayMs);
    // A reply shared with other connections, at this connection's level.
    void writeShared(const KTSharedFramePointer& frame, const QString& messageToPanel, int role);

Q_SIGNALS:
    void eventMessage(const QString& message, int type, const QString& objectLocation);
    void actionRequested(int connectionID, QString user, QString date, QString time, QString ip, QString mac,
                         int actionType, quint64 answerSize, QString message);
    void updateTableRecordDataModelRequested(const QString tableName, QList<int> modifiers);
    void setActiveComponent(int connectionID, QString componentName, bool active);
    void broadcastActionRequest(QList<QStringList> responseList, QString broadcastUsers);
    void scheduleRequested(QVariant schedule);
    void updateTaskScheduler();
    // This connection's database connection was found gone.
    void databaseLost();
    void setDbController(KTDatabaseController* controller);
    // What the connection's login granted; an empty list when it is not logged in.
    void accessListChanged(int connectionID, KTAccessList accessList);
    // A login waits for startLogin when this is connected.
    void loginRequested(int connectionID, QString login, QString address);
    // A login was answered, granted or refused; a refusal the database
    // caused (not the key) is not counted against the user.
    void loginAnswered(int connectionID, QString login, QString address, bool granted, bool counted);

protected:
    using QTcpSocket::readData;
    using QTcpSocket::writeData;

private:
    enum ActionType { NegotiationAction = 0, UpdateAction = 1, AuthenticationAction = 2, RequestAction = 3 };

    qint64 frameLimit() const;
    void watchFrameDeadline();
    void deadlinePassed(const QString& message);
    bool openDatabase();
    void closeDatabase();
    void parseDocument(QByteArray utf8);
    void writeFrame(const QString& text, const QByteArray& frame, const QString& messageToPanel, int role);
    void dispatch(const QDomElement& root);
    bool backlogExceeded(qint64 frameSize);
    void waitForBacklog();
    bool peerGone();
    void processNegotiationRequest(const QMap<QString, QString>& params);
    bool negotiationRefused(const QMap<QString, QString>& params);
    QString minimumClientVersion() const;
    void writeNegotiationReply(bool success, const QString& message, const QString& messageBox);
    template <class Component>
    void loadComponents(const QString& path, bool recursive, bool topLevel, QMap<QString, Component*>& map);
    void setUpComponent(KTAuthcomBase* component);
    void setUpComponent(KTSercomBase* component);
    void processUpdateRequest(const QMap<QString, QString>& params);
    void processUpdateRequestRecurse(const QMap<QString, QString>& params, const QString& folder, const QString& root);
    void sendUpdateFile(const QString& folder, const QString& name, const QString& clientSha1,
                        const QString& relativePath);
    void writeUpdateReply(const QString& tag, const QList<QPair<QString, QString> >& children);
    bool stateRefused(const QString& tag);
    void processObjectStatus(const QDomElement& root);
    void processKeepAlive();
    void processAuthenticate(const QDomElement& root);
    void authenticate(const QMap<QString, QString>& params);
    void processSchedule(const QDomElement& root);
    void processActionRequest(const QDomElement& root);
    void processLockRequest(const QDomElement& root);
    void beginRequest();
    void endRequest();
    bool statementCut(const QDomElement& action);
    bool runAction(const QDomElement& action, const QString& firstTransaction, QList<QStringList>* responses);
    QMultiMap<QString, QString> actionParameters(const QDomElement& action, const QString& firstTransaction) const;
    void rollBack(const QString& actionName);
    void requestCommitted(const QList<QStringList>& responses, const QString& logins);
    void writeRequestFailure(const QDomElement& action, const QString& message,
                             const QString& panelMessage = QString());
    void refuse(const QString& root, const QString& message, int role);
    static QString refusalText(const QString& root, const QString& message);
    void grantAccess(const QString& loginReply);
    QMap<QString, QString> componentParents();
    bool actionRefused(const QDomElement& action, const QMultiMap<QString, QString>& params);
    bool lockRefused(const QDomElement& root);
    static QMap<QString, QString> parameters(const QDomElement& root);
    QMap<QString, QVariant> scheduleParameters(const QDomElement& root) const;

    KTDatabaseController* _dbController = nullptr;
    bool _connectionNegotiated = false;
    bool _connectionAuthenticated = false;
    // The client knew the company's name and password, whatever became of
    // its version: it may download the client program.
    bool _companyAccepted = false;
    bool _updateSuccess = false;
    // A component changed the scheduled tasks in the request under way: the
    // scheduler reloads them once the request has committed.
    bool _tasksChanged = false;
    // Until negotiation sets it, replies go out at zlib's default level.
    int _compressionFactor = -1;
    int _connectionID = 0;
    int _packMaxCount = 0;
    qint64 _blockSize = 0;
    KTConnectionContext _context;
    QTimer* _negotiationDeadline;
    QTimer* _frameDeadline;
    bool _databaseOpen = false;
    QMap<QString, KTDbTable*> _dbDefinitionMap;
    bool _loginPending = false;
    QMap<QString, QString> _pendingLogin;
    QMap<QString, KTAuthcomBase*> _authcomMap;
    QMap<QString, KTSercomBase*> _sercomMap;
    QMap<QString, QMap<int, quint64> > _lastKeysMap;
    QMap<QString, QList<int> > _transactionModifiers;
    QString _clientIP;
    QString _clientMAC;
    QString _clientVersion;
    QString _operatingSystem;
    QString _companyName;
    QString _connectivityPassword;
    QString _user = QStringLiteral("?");
    QString _userCod;
    QString _group;
    int _userType = 0;
    KTAccessList _accessList;
    QStringList _dbParams;
    QStringList _systemObjects;
    QStringList _systemObjectsClient;
};

#endif
