#include "KTConnectorThread.h"

#include "KTEventRelay.h"

#include "KTTcpSocket.h"

#include <QCoreApplication>

KTConnectorThread::KTConnectorThread(qintptr socketDescriptor, int connectionID,
                                     QMap<QString, KTDbTable*> dbDefinitionMap, const QStringList& dbParams,
                                     const QStringList& unitParams, QObject* parent)
    : QThread(parent)
    , _connectionID(connectionID)
    , _socketDescriptor(socketDescriptor)
    , _dbDefinitionMap(dbDefinitionMap)
    , _dbParams(dbParams)
    , _unitParams(unitParams)
{
}

int KTConnectorThread::connectionID() const
{
    return _connectionID;
}

void KTConnectorThread::closeConnection()
{
    emit closeRequest();
}

void KTConnectorThread::sendResponse(const QString& response, int compressionFactor, const QString& message, int role)
{
    emit sendResponseRequested(response, compressionFactor, message, role);
}

void KTConnectorThread::startLogin(int delayMs)
{
    emit startLoginRequested(delayMs);
}

void KTConnectorThread::sendFrame(const KTSharedFramePointer& frame, const QString& message, int role)
{
    emit sendFrameRequested(frame, message, role);
}

void KTConnectorThread::endConnection()
{
    closeConnection();
    emit connectionEnded(_connectionID);
    quit();
}

void KTConnectorThread::run()
{
    _socket = new KTTcpSocket(_dbParams, _unitParams);
    _socket->setContext(_context);
    _socket->setActivity(_activity);
    if (!_socket->setSocketDescriptor(_socketDescriptor)) {
        emit error(_socket->error());
        delete _socket;
        _socket = nullptr;
        return;
    }
    // Replies and pushed changes are small frames written back to back:
    // without this, each one after the first waits for the client's delayed ACK.
    _socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // Connected first, so that a socket which closes itself at once still ends its thread.
    connectSocket();
    _socket->setDbConnection(_connectionID, _dbDefinitionMap);
    // Under the negotiation deadline that setDbConnection started.
    if (_encrypted)
        _socket->startEncryption(_context.tls);
    _socket->loadAuthcoms(_context.applicationDirectory + QStringLiteral("/OmbrixServerComponents/OmbrixAuthenticate"), false);
    _socket->loadSercoms(_context.applicationDirectory + QStringLiteral("/OmbrixServerComponents/OmbrixDBManipulation"), true);
    exec();
    // The close request may still be queued when the loop ends: the database
    // connection is closed here, on the thread that opened it.
    _socket->closeConnection();
    delete _socket;
    _socket = nullptr;
}

void KTConnectorThread::connectSocket()
{
    if (_context.events)
        connect(_socket, &KTTcpSocket::eventMessage, _context.events, &KTEventRelay::post, Qt::DirectConnection);
    else
        connect(_socket, &KTTcpSocket::eventMessage, this, &KTConnectorThread::eventMessage);
    connect(_socket, &QAbstractSocket::disconnected, this, &KTConnectorThread::endConnection);
    connect(_socket, &KTTcpSocket::actionRequested, this, &KTConnectorThread::actionRequested);
    connect(_socket, &KTTcpSocket::updateTableRecordDataModelRequested, this,
            &KTConnectorThread::updateTableRecordDataModelRequested);
    connect(this, &KTConnectorThread::sendResponseRequested, _socket,
            qOverload<const QString&, int, const QString&, int>(&KTTcpSocket::writeData));
    connect(this, &KTConnectorThread::sendFrameRequested, _socket, &KTTcpSocket::writeShared);
    connect(_socket, &KTTcpSocket::pushRequested, this, &KTConnectorThread::pushRequested);
    connect(_socket, &KTTcpSocket::setActiveComponent, this, &KTConnectorThread::setActiveComponent);
    connect(this, &KTConnectorThread::closeRequest, _socket, &KTTcpSocket::closeConnection);
    connect(_socket, &KTTcpSocket::scheduleRequested, this, &KTConnectorThread::scheduleRequested);
    connect(_socket, &KTTcpSocket::updateTaskScheduler, this, &KTConnectorThread::updateTaskScheduler);
    connect(_socket, &KTTcpSocket::databaseLost, this, &KTConnectorThread::databaseLost);
    connect(_socket, &KTTcpSocket::accessListChanged, this, &KTConnectorThread::accessListChanged);
    connect(_socket, &KTTcpSocket::loginRequested, this, &KTConnectorThread::loginRequested);
    connect(_socket, &KTTcpSocket::loginAnswered, this, &KTConnectorThread::loginAnswered);
    connect(this, &KTConnectorThread::startLoginRequested, _socket, &KTTcpSocket::startLogin);
}
