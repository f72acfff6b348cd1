#ifndef KTPROTOCOLCLIENT_H
#define KTPROTOCOLCLIENT_H

#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QQueue>
#include <QString>
#include <QStringList>

class QSslSocket;

// A client of the server's wire protocol for tests and operator tools: one
// TCP connection, one XML document per frame in each direction.
//
// Every call blocks until it is done or its time runs out, so the client
// works from any thread without an event loop; it must only be used from the
// thread it lives in. Received frames are queued in arrival order and also
// announced with frameReceived() for callers that run an event loop; such
// callers take or clear the queue themselves so that it does not grow.
class KTProtocolClient : public QObject
{
    Q_OBJECT
public:
    // Parameters in the order they are written; a key may repeat.
    using Parameters = QList<QPair<QString, QString>>;

    // One child of an action or lock request: the element named after the
    // server component (or "Schedule"), the attributes describing the client
    // object that asks (left out when empty) and one child per parameter.
    struct Action
    {
        QString component;
        Parameters parameters;
        QString objectType;
        QString objectName;
        QString objectNameEmbedded;
    };

    explicit KTProtocolClient(QObject* parent = nullptr);
    ~KTProtocolClient() override;

    // Later connections are encrypted (TLS) when enabled. The server's
    // certificate must then be signed by an authority the system trusts, or
    // by one in caFile (PEM), and name the host connected to; insecure takes
    // any certificate, for a test server's self-signed one. False when caFile
    // holds no certificate.
    bool setTls(bool enabled, const QString& caFile = QString(), bool insecure = false);
    bool tlsEnabled() const { return _tls; }

    // Connects afresh (dropping any earlier connection and its queued frames).
    bool connectToServer(const QString& host, quint16 port, int timeoutMs = 5000);
    void disconnectFromServer();
    bool isConnected() const;

    // Writes xml as one frame at zlib level compressionLevel (0 to 9, -1 for
    // zlib's default) and waits until it has left for the network.
    bool send(const QString& xml, int compressionLevel = 6);
    // Takes the next received frame, waiting up to timeoutMs (-1: forever).
    // False when none came in time or the connection ended without one.
    bool waitForReply(QString* reply, int timeoutMs = 5000);
    // Takes every frame received until no byte has arrived for idleMs, or
    // the connection has ended.
    QStringList replies(int idleMs);
    bool waitForDisconnected(int timeoutMs);
    void clearReplies();

    // Frames announcing more than this are refused and end the connection.
    void setMaxFrameSize(qint64 bytes);
    qint64 maxFrameSize() const { return _maxFrameSize; }
    // The last failure, for the operator; empty when none.
    QString errorString() const { return _errorString; }

    // Request documents. Parameter names become element names and must be
    // valid XML names; texts and attribute values are escaped.
    static QString negotiation(const QMap<QString, QString>& params);
    static QString keepAlive();
    static QString login(const QString& identifierType, const QString& login, const QString& password,
                         const QMap<QString, QString>& extra = {});
    // broadcastLogins limits the users other than the sender who receive the replies.
    static QString actionRequest(const QList<Action>& actions, const QStringList& broadcastLogins = {});
    static QString lockRequest(const QStringList& tables, const QStringList& aliases, const QStringList& modes,
                               const QList<Action>& actions);
    static QString objectStatus(const QString& objectName, bool active);
    // Client file name to the base64 form of the SHA-1 of the copy the client holds.
    static QString requestUpdate(const QMap<QString, QString>& fileDigests);
    static QString schedule(const QMap<QString, QString>& params);

    // Reading replies: the text of the first element named tag in document
    // order (the root included), and the root's name; empty when xml is not
    // well formed or holds no such element.
    static QString element(const QString& xml, const QString& tag);
    static QString rootTag(const QString& xml);

Q_SIGNALS:
    void frameReceived(const QString& text);

private:
    void takeFrames();
    void fail(const QString& message);

    bool handshake(const QString& host, quint16 port, int timeoutMs);

    QSslSocket* _socket = nullptr;
    bool _tls = false;
    QQueue<QString> _frames;
    qint64 _blockSize = 0;
    qint64 _maxFrameSize;
    QString _errorString;
};

#endif
