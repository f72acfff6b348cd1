#ifndef KTTCPSOCKET_H
#define KTTCPSOCKET_H

#include "KTAccessList.h"
#include "KTConnectionActivity.h"
#include "KTConnectionContext.h"
#include "KTConnectionSession.h"
#include "KTReplyChannel.h"
#include "KTRequestElement.h"
#include "KTSharedFrame.h"

#include <KTDbTable.h>

#include <QList>
#include <QMap>
#include <QMultiMap>
#include <QStringList>
#include <QSslSocket>
#include <QVariant>

#include <memory>

class KTActionRunner;
class KTClientUpdateHandler;
class KTComponentRegistry;
class KTDatabaseController;
class KTLoginHandler;
class KTNegotiationHandler;
class QTimer;

// The server end of one client connection, living on that connection's own
// thread: reads and writes frames, keeps the conversation's stage and
// dispatches every received document by its root element to the handler of
// that stage of the protocol. It owns the connection's database controller,
// its component set and its handlers. On the encrypted port the same frames
// travel inside TLS: the socket reads only what the handshake has decrypted.
class KTTcpSocket : public QSslSocket, public KTReplyChannel
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
    // Where the monitor reads the replies to requests; without it each one
    // is announced by actionRequested, as the other frames always are.
    void setActivity(const std::shared_ptr<KTConnectionActivity>& activity) { _activity = activity; }
    // Shakes hands as the server with configuration; until the handshake is
    // done nothing the client sends is read, and the negotiation deadline
    // bounds how long it may take.
    void startEncryption(const QSslConfiguration& configuration);
    static constexpr qint64 defaultMaxPendingBytes = KTConnectionLimits::defaultMaxPendingBytes;
    // Whether the connection holds a database connection of its own now.
    bool holdsDatabase() const { return _databaseOpen; }
    void loadAuthcoms(const QString& path, bool recursive);
    void loadSercoms(const QString& path, bool recursive);
    void parseXML(const QString& text);

    void writeReply(const QString& text, const QString& messageToPanel, int role) override;
    void waitForBacklog() override;
    bool peerGone() override;
    void requestClose() override { closeConnection(); }
    qintptr descriptor() const override { return socketDescriptor(); }
    qint64 bytesSent() const override { return _bytesSent; }

public Q_SLOTS:
    void closeConnection();
    void readData();
    void writeData(const QString& data, int compressionFactor, const QString& messageToPanel, int role);
    // Answers the login that loginRequested announced, after delayMs.
    void startLogin(int delayMs);
    // A reply shared with other connections, at this connection's level.
    void writeShared(const KTSharedFramePointer& frame, const QString& messageToPanel, int role) override;

Q_SIGNALS:
    void eventMessage(const QString& message, int type, const QString& objectLocation);
    void actionRequested(int connectionID, QString user, QString date, QString time, QString ip, QString mac,
                         int actionType, quint64 answerSize, QString message);
    void updateTableRecordDataModelRequested(const QString tableName, QList<int> modifiers);
    void setActiveComponent(int connectionID, QString componentName, bool active);
    // The replies of a committed request that other connections receive
    // too; the requester has had them already.
    void pushRequested(QList<QStringList> responseList, QList<KTSharedFramePointer> frames, QString broadcastUsers);
    void scheduleRequested(QVariant schedule);
    void updateTaskScheduler();
    // This connection's database connection was found gone.
    void databaseLost();
    // What the connection's login granted; an empty list when it is not logged in.
    void accessListChanged(int connectionID, KTAccessList accessList);
    // A login waits for startLogin when this is connected.
    void loginRequested(int connectionID, QString login, QString address);
    // A login was answered, granted or refused; a refusal the database
    // caused (not the key) is not counted against the user.
    void loginAnswered(int connectionID, QString login, QString address, bool granted, bool counted);

protected:
    using QSslSocket::readData;
    using QSslSocket::writeData;

private:
    void connectHandlers();
    qint64 frameLimit() const;
    void watchFrameDeadline();
    void deadlinePassed(const QString& message);
    void negotiationTimedOut();
    void reportEncryption();
    void handshakeFailed(QAbstractSocket::SocketError error);
    qint64 unsentBytes() const;
    bool openDatabase();
    void closeDatabase();
    void parseDocument(QByteArray utf8);
    void writeFrame(const QString& text, const QByteArray& frame, const QString& messageToPanel, int role);
    void dispatch(const KTRequestElement& root);
    bool backlogExceeded(qint64 frameSize);
    bool stateRefused(const QString& tag);
    void processNegotiation(const KTRequestElement& root);
    void processObjectStatus(const KTRequestElement& root);
    void processKeepAlive();
    void processAuthenticate(const KTRequestElement& root);
    void authenticate(const QMap<QString, QString>& params);
    void refuse(const QString& root, const QString& message, int role);

    KTDatabaseController* _dbController = nullptr;
    KTConnectionSession _session;
    qint64 _blockSize = 0;
    qint64 _bytesSent = 0;
    std::shared_ptr<KTConnectionActivity> _activity;
    KTConnectionContext _context;
    QTimer* _negotiationDeadline;
    QTimer* _frameDeadline;
    bool _databaseOpen = false;
    // Accepted on the encrypted port; and whether its failure was reported.
    bool _tlsPort = false;
    bool _handshakeEnded = false;
    bool _tlsFailed = false;
    // Inside readData(), which a flush may call again.
    bool _reading = false;
    QMap<QString, KTDbTable*> _dbDefinitionMap;
    bool _loginPending = false;
    QMap<QString, QString> _pendingLogin;
    QStringList _dbParams;
    QStringList _systemObjectsClient;
    // Destroyed before the database controller, which the components use.
    std::unique_ptr<KTComponentRegistry> _components;
    std::unique_ptr<KTNegotiationHandler> _negotiation;
    std::unique_ptr<KTClientUpdateHandler> _clientUpdate;
    std::unique_ptr<KTActionRunner> _actions;
    std::unique_ptr<KTLoginHandler> _login;
};

#endif
