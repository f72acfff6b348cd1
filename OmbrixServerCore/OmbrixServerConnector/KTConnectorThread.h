#ifndef KTCONNECTORTHREAD_H
#define KTCONNECTORTHREAD_H

#include "KTAccessList.h"
#include "KTConnectionActivity.h"
#include "KTConnectionContext.h"
#include "KTSharedFrame.h"

#include <KTDbTable.h>

#include <QAbstractSocket>
#include <QList>
#include <QMap>
#include <QStringList>
#include <QThread>
#include <QVariant>

#include <memory>

class KTTcpSocket;

// One client connection's thread. The object lives in the main thread and is
// the connector's handle; run() creates the protocol socket on the new
// thread, so that everything one client does happens there, and the object
// relays signals between socket and connector.
class KTConnectorThread : public QThread
{
    Q_OBJECT
public:
    KTConnectorThread(qintptr socketDescriptor, int connectionID, QMap<QString, KTDbTable*> dbDefinitionMap,
                      const QStringList& dbParams, const QStringList& unitParams, QObject* parent = nullptr);

    int connectionID() const;
    // The connection's socket while run() is serving it; null before and after.
    KTTcpSocket* socket() const { return _socket; }
    void setContext(const KTConnectionContext& context) { _context = context; }
    // The connection came to the encrypted port: its socket shakes hands
    // with the context's certificate before anything else.
    void setEncrypted(bool encrypted) { _encrypted = encrypted; }
    bool encrypted() const { return _encrypted; }
    // The connection's last frame, kept by its thread for the monitor.
    KTConnectionActivity& activity() const { return *_activity; }

public Q_SLOTS:
    void closeConnection();
    void sendResponse(const QString& response, int compressionFactor, const QString& message, int role);
    // A reply other connections write too, at this connection's negotiated level.
    void sendFrame(const KTSharedFramePointer& frame, const QString& message, int role);
    void endConnection();
    void startLogin(int delayMs);

Q_SIGNALS:
    void eventMessage(const QString& message, int type, const QString& objectLocation);
    void actionRequested(int connectionID, QString user, QString date, QString time, QString ip, QString mac,
                         int actionType, quint64 answerSize, QString message);
    void updateTableRecordDataModelRequested(const QString tableName, QList<int> modifiers);
    void pushRequested(QList<QStringList> responseList, QList<KTSharedFramePointer> frames, QString broadcastUsers);
    void setActiveComponent(int connectionID, QString componentName, bool active);
    void scheduleRequested(QVariant schedule);
    void updateTaskScheduler();
    // This connection's database connection was found gone.
    void databaseLost();
    void accessListChanged(int connectionID, KTAccessList accessList);
    void sendResponseRequested(QString response, int compressionFactor, QString message, int role);
    void sendFrameRequested(KTSharedFramePointer frame, QString message, int role);
    void closeRequest();
    void loginRequested(int connectionID, QString login, QString address);
    void loginAnswered(int connectionID, QString login, QString address, bool granted, bool counted);
    void startLoginRequested(int delayMs);
    void connectionEnded(int connectionID);
    void error(QAbstractSocket::SocketError socketError);

protected:
    void run() override;

private:
    void connectSocket();

    KTTcpSocket* _socket = nullptr;
    int _connectionID;
    qintptr _socketDescriptor;
    QMap<QString, KTDbTable*> _dbDefinitionMap;
    QStringList _dbParams;
    QStringList _unitParams;
    KTConnectionContext _context;
    bool _encrypted = false;
    const std::shared_ptr<KTConnectionActivity> _activity = std::make_shared<KTConnectionActivity>();
};

#endif
