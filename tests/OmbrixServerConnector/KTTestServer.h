#ifndef KTTESTSERVER_H
#define KTTESTSERVER_H

#include <QDomDocument>
#include <QSignalSpy>
#include <QStringList>
#include <QTcpSocket>

#include <memory>

class KTDatabaseController;
class KTServerConnector;

// A client speaking the wire format by hand (see KTRawFrames.h).
class KTRawClient
{
public:
    bool connectTo(quint16 port);
    void send(const QByteArray& bytes);
    void sendText(const QString& xml);
    // Collects the frames that have arrived; call it from QTRY loops.
    int replies();
    // Waits for the next reply and returns it, or an empty text after timeoutMs.
    QString nextReply(int timeoutMs = 10000);
    bool connected() const;

    std::unique_ptr<QTcpSocket> socket = std::make_unique<QTcpSocket>();
    QByteArray buffer;
    QStringList received;
    int taken = 0;
};

// A connector listening on loopback in the test's thread, serving a
// database built from the installation's own definitions and data.
class KTTestServer
{
public:
    static const QString companyName;
    static const QString companyPassword;

    // Creates dbName afresh with the installation's tables and data.
    static bool prepareDatabase(KTDatabaseController* controller, const QString& dbName);
    static QStringList clientObjects();
    // Makes dir an application directory holding the installation's
    // authentication and server components and the given plug-in files.
    static bool stageComponents(const QString& dir, const QStringList& extraSercoms = QStringList());
    // The password of a demo user, read from its login row.
    static QString password(KTDatabaseController* controller, int userKey);
    static QString negotiation(const QString& version = QStringLiteral("2.8.1"), int compression = 6,
                               int packMaxCount = 10, const QString& company = companyName,
                               const QString& password = companyPassword);
    static QString login(const QString& login, const QString& password, const QString& iconHash = QString());

    KTTestServer(KTDatabaseController* controller, const QString& dbName,
                 const QString& systemObjects = QStringLiteral("PasswordAuthcom"));
    ~KTTestServer();

    KTServerConnector* connector() const { return _connector.get(); }
    QSignalSpy& events() { return *_events; }
    std::unique_ptr<KTRawClient> client();
    // A client that negotiated successfully.
    std::unique_ptr<KTRawClient> negotiatedClient();
    bool waitForConnections(int count);

    static QString element(const QString& xml, const QString& tag);
    static QStringList eventsOfType(const QSignalSpy& spy, int type);

private:
    std::unique_ptr<KTServerConnector> _connector;
    std::unique_ptr<QSignalSpy> _events;
};

#endif
