#include "KTServerConnector.h"

#include "KTAccessPolicy.h"
#include "KTConnectorThread.h"
#include <KTLocalClock.h>
#include "KTTcpSocket.h"
#include "KTSharedFrame.h"
#include "KTTlsListener.h"

#include <KT.h>
#include <KTDatabaseController.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QFont>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

namespace {

const QColor idColour(104, 72, 101);
const QColor textColour(50, 55, 95);
const QColor actionColour(200, 154, 113);
const QList<int> logModifiers{1, 0, 1, 0, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0};

QStandardItem* cell(const QString& text, const QColor& colour, bool bold = false, bool italic = false)
{
    auto* item = new QStandardItem(text);
    item->setForeground(colour);
    QFont font = item->font();
    font.setBold(bold);
    font.setItalic(italic);
    item->setFont(font);
    return item;
}

QString actionText(int actionType)
{
    switch (actionType) {
    case 0: return KTServerConnector::tr("Negociando Conexión");
    case 1: return KTServerConnector::tr("Actualizando Ombrix Client");
    case 2: return KTServerConnector::tr("Autenticación");
    case 3: return KTServerConnector::tr("Solicitud de acción");
    default: return QString();
    }
}

// The operator tells encrypted connections from plain ones by their address.
QString addressText(const QString& address, bool encrypted)
{
    return encrypted ? KTServerConnector::tr("%1 (TLS)").arg(address) : address;
}

} // namespace

KTServerConnector::KTServerConnector(QObject* parent)
    : QTcpServer(parent)
    , _connectionInfoModel(new QStandardItemModel(0, 5, this))
    , _userListTimer(new QTimer(this))
    , _abandonedTimer(new QTimer(this))
    , _monitorTimer(new QTimer(this))
{
    _encryptedListener = new KTTlsListener(this);
    connect(_encryptedListener, &KTTlsListener::accepted, this,
            [this](qintptr socketDescriptor) { accept(socketDescriptor, true); });
    // The monitor shows each connection's last reply a few times a second,
    // not once per frame.
    _monitorTimer->setInterval(250);
    connect(_monitorTimer, &QTimer::timeout, this, &KTServerConnector::refreshMonitor);
    _monitorTimer->start();
    // A statement that runs for a client that has gone, or past its request's
    // time, is ended within a second.
    _abandonedTimer->setInterval(1000);
    connect(_abandonedTimer, &QTimer::timeout, this, &KTServerConnector::watchRunningRequests);
    _abandonedTimer->start();
    _context.applicationDirectory = QCoreApplication::applicationDirPath();
    _context.userList = &_userList;
    _context.runningRequests = &_runningRequests;
    _context.metrics = &_metrics;
    _context.events = &_events;
    connect(&_events, &KTEventRelay::eventsPosted, this, &KTServerConnector::connectionEvents);
    // Users added or changed outside the server show in negotiations within this time.
    _userListTimer->setInterval(30000);
    connect(_userListTimer, &QTimer::timeout, this, &KTServerConnector::refreshUserList);
    _connectionInfoModel->setHorizontalHeaderLabels(
        {tr("ID Conexión"), tr("Usuario"), tr("Fecha de Conexión"), tr("Dirección IP"), tr("Última acción")});
}

KTServerConnector::~KTServerConnector()
{
    for (KTConnectorThread* thread : std::as_const(_connectionTable)) {
        thread->closeConnection();
        thread->quit();
        thread->wait();
    }
}

bool KTServerConnector::listenEncrypted(const QHostAddress& address, quint16 port)
{
    return _encryptedListener->listen(address, port);
}

QString KTServerConnector::encryptedErrorString() const
{
    return _encryptedListener->errorString();
}

bool KTServerConnector::isListeningEncrypted() const
{
    return _encryptedListener->isListening();
}

quint16 KTServerConnector::encryptedPort() const
{
    return _encryptedListener->serverPort();
}

void KTServerConnector::closePorts()
{
    close();
    _encryptedListener->close();
}

void KTServerConnector::shutDown()
{
    closePorts();
    // What the connections reported before the stop (a login just answered)
    // is taken in first, so that every user they let in is logged out below;
    // their reports wait in the queues of their thread objects.
    for (KTConnectorThread* thread : std::as_const(_connectionTable))
        QCoreApplication::sendPostedEvents(thread, QEvent::MetaCall);
    // A thread blocked in a long statement would hold the stop up until it ended.
    for (int connectionID : _connectionTable.keys())
        cancelRequest(connectionID, tr("el servidor se detiene"));
    endCancelledStatements();
    for (KTConnectorThread* thread : std::as_const(_connectionTable)) {
        // Each end is recorded below, once; what the thread would still queue is not wanted.
        disconnect(thread, nullptr, this, nullptr);
        thread->closeConnection();
        thread->quit();
    }
    for (KTConnectorThread* thread : std::as_const(_connectionTable)) {
        thread->wait();
        delete thread;
    }
    _connectionTable.clear();
    QList<int> connections;
    for (int row = 0; row < _connectionInfoModel->rowCount(); ++row)
        connections << _connectionInfoModel->item(row, IdColumn)->text().toInt();
    for (int connectionID : std::as_const(connections))
        removeConnection(connectionID);
}

QList<int> KTServerConnector::connectionIDs() const
{
    return _connectionTable.keys();
}

QStringList KTServerConnector::loggedUsers() const
{
    return _loggedUsers;
}

QMap<int, QStringList> KTServerConnector::activeComponents() const
{
    return _activeComponents;
}

namespace {

// The descriptor is ours once accepted; leaving it open would leak it.
void refuse(qintptr socketDescriptor)
{
    QTcpSocket refused;
    if (refused.setSocketDescriptor(socketDescriptor))
        refused.abort();
}

// The client's address as its connection's socket will give it.
QString peerOf(qintptr socketDescriptor)
{
#ifdef Q_OS_UNIX
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (::getpeername(int(socketDescriptor), reinterpret_cast<sockaddr*>(&storage), &length) == 0)
        return QHostAddress(reinterpret_cast<sockaddr*>(&storage)).toString();
    return QString();
#else
    QTcpSocket peer;
    peer.setSocketDescriptor(socketDescriptor);
    const QString address = peer.peerAddress().toString();
    peer.setSocketDescriptor(-1);
    return address;
#endif
}

} // namespace

void KTServerConnector::incomingConnection(qintptr socketDescriptor)
{
    accept(socketDescriptor, false);
}

// Both ports admit alike: the bounds count every connection, encrypted or not.
void KTServerConnector::accept(qintptr socketDescriptor, bool encrypted)
{
    const QString location = QStringLiteral("KTServerConnector::incomingConnection()");
    if (_connectionTable.size() - _evicted.size() >= _maxConnections && !evictOldestUnauthenticated()) {
        emit eventMessage(tr("Conexión rechazada: el servidor ya atiende el máximo de %1 conexiones simultáneas")
                              .arg(_maxConnections), KT::WarningMessage, location);
        return refuse(socketDescriptor);
    }
    if (_connectionTable.contains(_nextConnectionID)) {
        emit eventMessage(tr("ID de conexión : %1, ya existe").arg(_nextConnectionID), KT::BugMessage, location);
        return refuse(socketDescriptor);
    }
    const QString address = peerOf(socketDescriptor);
    if (unauthenticatedFrom(address) >= _maxUnauthenticatedPerAddress) {
        emit eventMessage(tr("Conexión rechazada desde %1: ya tiene %2 conexiones sin autenticar")
                              .arg(address).arg(_maxUnauthenticatedPerAddress), KT::WarningMessage, location);
        return refuse(socketDescriptor);
    }
    const int connectionID = _nextConnectionID++;
    auto* thread = new KTConnectorThread(socketDescriptor, connectionID, _dbDefinitionMap, _dbParams, _unitParams,
                                         this);
    thread->setContext(_context);
    thread->setEncrypted(encrypted);
    _connectionTable.insert(connectionID, thread);
    _addresses.insert(connectionID, address);
    if (encrypted)
        _encrypted.insert(connectionID);
    connectThread(thread);
    thread->start();
    appendConnectionRow(connectionID, encrypted);
}

// A full server makes room for a newcomer by closing the connection that has
// waited longest without logging in: whoever holds the places with idle
// sockets cannot keep a user who logs in at once from getting one.
bool KTServerConnector::evictOldestUnauthenticated()
{
    for (auto it = _addresses.cbegin(); it != _addresses.cend(); ++it) {
        const int connectionID = it.key();
        if (_accessLists.contains(connectionID) || _evicted.contains(connectionID))
            continue;
        KTConnectorThread* thread = _connectionTable.value(connectionID);
        if (!thread)
            continue;
        _evicted.insert(connectionID);
        thread->closeConnection();
        emit eventMessage(tr("Servidor lleno: se cierra la conexión '%1' desde %2, que no se había autenticado, "
                             "para atender una nueva").arg(connectionID).arg(it.value()),
                          KT::WarningMessage, QStringLiteral("KTServerConnector::incomingConnection()"));
        return true;
    }
    return false;
}

int KTServerConnector::unauthenticatedFrom(const QString& address) const
{
    int count = 0;
    for (auto it = _addresses.cbegin(); it != _addresses.cend(); ++it)
        if (it.value() == address && !_accessLists.contains(it.key()) && !_evicted.contains(it.key()))
            ++count;
    return count;
}

void KTServerConnector::connectThread(KTConnectorThread* thread)
{
    connect(thread, &QThread::finished, this, &KTServerConnector::removeThread);
    connect(thread, &KTConnectorThread::connectionEnded, this, &KTServerConnector::removeConnection);
    connect(thread, &KTConnectorThread::eventMessage, this, &KTServerConnector::eventMessage);
    connect(thread, &KTConnectorThread::actionRequested, this, &KTServerConnector::updateConnectionInfo);
    connect(thread, &KTConnectorThread::updateTableRecordDataModelRequested, this,
            &KTServerConnector::updateTableRecordDataModelRequested);
    connect(thread, &KTConnectorThread::updateTableRecordDataModelRequested, this, &KTServerConnector::tableChanged);
    connect(thread, &KTConnectorThread::pushRequested, this, &KTServerConnector::pushAction);
    connect(thread, &KTConnectorThread::setActiveComponent, this, &KTServerConnector::setActiveComponent);
    connect(thread, &KTConnectorThread::scheduleRequested, this, &KTServerConnector::scheduleRequested);
    connect(thread, &KTConnectorThread::updateTaskScheduler, this, &KTServerConnector::updateTaskScheduler);
    connect(thread, &KTConnectorThread::databaseLost, this, &KTServerConnector::databaseLost);
    connect(thread, &KTConnectorThread::accessListChanged, this, &KTServerConnector::setAccessList);
    connect(thread, &KTConnectorThread::loginRequested, this, &KTServerConnector::admitLogin);
    connect(thread, &KTConnectorThread::loginAnswered, this, &KTServerConnector::loginAnswered);
}

void KTServerConnector::appendConnectionRow(int connectionID, bool encrypted)
{
    const QDateTime now = QDateTime::currentDateTime();
    QStandardItem* arrival = cell(now.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" , ")
                                      + now.toString(QStringLiteral("hh:mm:ss")), textColour);
    arrival->setData(now, ArrivalRole);
    _connectionInfoModel->appendRow({cell(QString::number(connectionID), idColour, true),
                                     cell(QStringLiteral("?"), idColour, true), arrival,
                                     cell(addressText(QStringLiteral(" --- "), encrypted), textColour),
                                     cell(tr("Conexion Entrante ..."), actionColour, false, true)});
}

int KTServerConnector::modelRow(int connectionID) const
{
    const QList<QStandardItem*> items =
        _connectionInfoModel->findItems(QString::number(connectionID), Qt::MatchExactly, IdColumn);
    return items.isEmpty() ? -1 : items.first()->row();
}

// Only the frames that change who a connection is come this way; the
// connection's last frame is what is shown, so that a late signal never puts
// an older one back.
void KTServerConnector::updateConnectionInfo(int connectionID, QString user, QString, QString, QString, QString,
                                             int actionType, quint64, QString)
{
    const int row = modelRow(connectionID);
    KTConnectorThread* thread = _connectionTable.value(connectionID);
    if (row < 0 || !thread)
        return;
    showActivity(row, thread->activity().latest());
    if (actionType == 2)
        registerUser(connectionID, user);
}

void KTServerConnector::refreshMonitor()
{
    KTConnectionActivity::Frame frame;
    for (auto it = _connectionTable.cbegin(); it != _connectionTable.cend(); ++it)
        if (it.value()->activity().takeChange(&frame))
            showActivity(modelRow(it.key()), frame);
}

// The cells a frame sets, as updateConnectionInfo sets them.
void KTServerConnector::showActivity(int row, const KTConnectionActivity::Frame& frame)
{
    if (row < 0)
        return;
    const QDateTime when = KTLocalClock::at(frame.msecsSinceEpoch);
    _connectionInfoModel->item(row, UserColumn)->setText(frame.user);
    QStandardItem* address = _connectionInfoModel->item(row, AddressColumn);
    address->setText(addressText(frame.address.section(QLatin1Char(','), 0, 0),
                                 _encrypted.contains(_connectionInfoModel->item(row, IdColumn)->text().toInt())));
    address->setToolTip(tr("MAC : %1\nIP6 : %2").arg(frame.mac, frame.address.section(QLatin1Char(','), 1, 1)));
    QStandardItem* lastAction = _connectionInfoModel->item(row, LastActionColumn);
    lastAction->setText(QStringLiteral("%1 %2   %3").arg(when.toString(QStringLiteral("yyyy-MM-dd")),
                                                         when.toString(QStringLiteral("hh:mm:ss")),
                                                         actionText(frame.role)));
    lastAction->setToolTip(tr("Respuesta (%1 bytes) -  %2").arg(frame.bytes).arg(frame.message));
}

void KTServerConnector::registerUser(int connectionID, QString userLogin)
{
    // A refused login on a logged-in connection ends that user's session at
    // once: no more broadcasts, and no "elsewhere" for a later login.
    if (userLogin == QLatin1String("?")) {
        if (_userConnector.contains(connectionID)) {
            const QString user = _userConnector.value(connectionID);
            unregisterUser(connectionID);
            _activeComponents.remove(connectionID);
            writeLogout(user);
        }
        return;
    }
    // A connection that logs in again gives up its earlier login first, so
    // that it is neither counted twice nor mistaken for "elsewhere".
    unregisterUser(connectionID);
    if (_loggedUsers.contains(userLogin)) {
        const int previous = _userConnector.key(userLogin);
        if (KTConnectorThread* thread = _connectionTable.value(previous)) {
            cancelRequest(previous, tr("el usuario se conectó desde otra ubicación"));
            thread->closeConnection();
            emit eventMessage(tr("Usuario : '%1' estaba conectado desde otra ubicación. ID de conexión anterior: %2. "
                                 "ID de conexión nueva: %3").arg(userLogin).arg(previous).arg(connectionID),
                              KT::InformationMessage, QStringLiteral("KTServerConnector::registerUser()"));
        }
    }
    _loggedUsers << userLogin;
    _activeComponents.insert(connectionID, QStringList());
    _userConnector.insert(connectionID, userLogin);
    emit userLoggedIn(userLogin, connectionID);
}

void KTServerConnector::unregisterUser(int connectionID)
{
    if (!_userConnector.contains(connectionID))
        return;
    const QString user = _userConnector.take(connectionID);
    _loggedUsers.removeOne(user);
    emit userLoggedOut(user, connectionID);
}

void KTServerConnector::closeSession(QString user, int connectionID)
{
    KTConnectorThread* thread = _connectionTable.value(connectionID);
    if (!thread || _userConnector.value(connectionID) != user)
        return;
    cancelRequest(connectionID, tr("el usuario se conectó en otra instancia"));
    thread->closeConnection();
    emit eventMessage(tr("Usuario : '%1' se conectó en otra instancia del servidor. Se cierra su conexión : %2")
                          .arg(user).arg(connectionID),
                      KT::InformationMessage, QStringLiteral("KTServerConnector::closeSession()"));
}

// Attempts of one name from one address are answered in turn, so that
// parallel connections guess no faster than one.
void KTServerConnector::admitLogin(int connectionID, QString login, QString address)
{
    const QString key = _loginThrottle.turnKey(login, address);
    if (_loginInProgress.contains(key))
        _loginsWaiting[key].append({connectionID, login});
    else
        startLogin(connectionID, login, address, key);
}

void KTServerConnector::startLogin(int connectionID, const QString& login, const QString& address, const QString& key)
{
    KTConnectorThread* thread = _connectionTable.value(connectionID);
    if (!thread)
        return;
    _loginInProgress.insert(key, connectionID);
    _loginTurns.insert(connectionID, key);
    const int delay = _loginThrottle.delay(login, address);
    if (delay > 0)
        emit eventMessage(tr("Autenticación de '%1' desde %2 demorada %3 ms tras %4 intentos fallidos. ID de conexión : %5")
                              .arg(login, address).arg(delay).arg(_loginThrottle.failures(login, address))
                              .arg(connectionID),
                          KT::WarningMessage, QStringLiteral("KTServerConnector::admitLogin()"));
    thread->startLogin(delay);
}

void KTServerConnector::loginAnswered(int connectionID, QString login, QString address, bool granted, bool counted)
{
    if (counted && _loginThrottle.answered(login, address, granted))
        emit eventMessage(tr("El usuario '%1' acumula intentos fallidos desde %2 o más direcciones; la última: %3")
                              .arg(login).arg(KTLoginThrottle::sprayAddresses).arg(address),
                          KT::WarningMessage, QStringLiteral("KTServerConnector::loginAnswered()"));
    const QString key = _loginTurns.take(connectionID);
    if (!key.isEmpty() && _loginInProgress.value(key, -1) == connectionID)
        finishLogin(key);
}

// The next waiting attempt under the key gets its turn.
void KTServerConnector::finishLogin(const QString& key)
{
    _loginInProgress.remove(key);
    QList<QPair<int, QString> >& waiting = _loginsWaiting[key];
    while (!waiting.isEmpty()) {
        const QPair<int, QString> next = waiting.takeFirst();
        if (!_connectionTable.contains(next.first))
            continue;
        startLogin(next.first, next.second, _addresses.value(next.first), key);
        break;
    }
    if (waiting.isEmpty())
        _loginsWaiting.remove(key);
}

// Ends the statement a connection's request is running, from the panel's
// own connection: the connection's thread is blocked inside it.
void KTServerConnector::cancelRequest(int connectionID, const QString& reason)
{
    const quint64 session = _runningRequests.session(connectionID);
    if (session == 0 || !_dbController || !_runningRequests.cancel(connectionID))
        return;
    _dbController->customQuery(QStringLiteral("KILL QUERY %1").arg(session));
    emit eventMessage(tr("Se canceló la consulta en curso de la conexión '%1' : %2").arg(connectionID).arg(reason),
                      KT::WarningMessage, QStringLiteral("KTServerConnector::cancelRequest()"));
}

// Again each time: an end that fell between two statements of a request ended nothing.
void KTServerConnector::endCancelledStatements()
{
    if (!_dbController)
        return;
    for (quint64 session : _runningRequests.cancelledSessions())
        _dbController->customQuery(QStringLiteral("KILL QUERY %1").arg(session));
}

void KTServerConnector::watchRunningRequests()
{
    endCancelledStatements();
    for (int connectionID : _runningRequests.abandoned())
        cancelRequest(connectionID, tr("el cliente cerró la conexión"));
    for (int connectionID : _runningRequests.overdue(qint64(_context.limits.requestSeconds) * 1000))
        cancelRequest(connectionID, tr("la solicitud superó el tiempo máximo de %1 s").arg(_context.limits.requestSeconds));
}

void KTServerConnector::refreshUserList()
{
    _userListRefreshQueued = false;
    _userList.refresh(_dbController);
}

// A committed change to the users or their icons shows in the next negotiation.
void KTServerConnector::tableChanged(const QString& tableName)
{
    if (_userListRefreshQueued || (tableName != QLatin1String("accUser") && tableName != QLatin1String("srvBlob")))
        return;
    _userListRefreshQueued = true;
    QTimer::singleShot(0, this, &KTServerConnector::refreshUserList);
}

void KTServerConnector::setActiveComponent(int connectionID, QString componentName, bool active)
{
    QStringList& components = _activeComponents[connectionID];
    if (!active)
        components.removeOne(componentName);
    else if (!components.contains(componentName))
        components << componentName;
}

void KTServerConnector::sendResponse(int connectionID, QString response, int compressionFactor, QString message,
                                     int role)
{
    if (KTConnectorThread* thread = _connectionTable.value(connectionID))
        thread->sendResponse(response, compressionFactor, message, role);
}

void KTServerConnector::broadcastAction(QList<QStringList> responseList, QString broadcastUsers)
{
    for (const QStringList& entry : responseList)
        deliver(QSharedPointer<const KTSharedFrame>::create(entry.value(2)), entry.value(3),
                recipients(entry, broadcastUsers));
    publishPushes(responseList, broadcastUsers);
}

void KTServerConnector::pushAction(QList<QStringList> responseList, QList<KTSharedFramePointer> frames,
                                   QString broadcastUsers)
{
    for (int i = 0; i < responseList.size() && i < frames.size(); ++i) {
        QList<int> others = recipients(responseList.at(i), broadcastUsers);
        others.removeOne(responseList.at(i).value(0).toInt());
        deliver(frames.at(i), responseList.at(i).value(3), others);
    }
    publishPushes(responseList, broadcastUsers);
}

// Only what other users receive leaves the instance; the requester's own
// replies never do.
void KTServerConnector::publishPushes(const QList<QStringList>& responseList, const QString& broadcastUsers)
{
    QList<QStringList> pushes;
    for (const QStringList& entry : responseList)
        if (entry.value(4).toInt() != 0)
            pushes << entry;
    if (!pushes.isEmpty())
        emit pushPublished(pushes, broadcastUsers);
}

// The requester's connection ID means nothing here: it is left out, so that
// a connection that happens to have the same number gets only what its user
// is entitled to.
void KTServerConnector::deliverRemotePush(QList<QStringList> responseList, QString broadcastUsers)
{
    for (QStringList entry : responseList) {
        if (entry.size() < 5 || entry.value(4).toInt() == 0)
            continue;
        entry[0] = QStringLiteral("0");
        QList<int> receivers = recipients(entry, broadcastUsers);
        receivers.removeOne(0);
        if (!receivers.isEmpty())
            deliver(QSharedPointer<const KTSharedFrame>::create(entry.value(2)), entry.value(3), receivers);
    }
}

// The requester alone, unless the component broadcasts: then the requester
// first, whoever else the request names, and every other connection with an
// entry in the active components whose user the request names (all when it
// names none) and whose rights let it read the reply's client object.
QList<int> KTServerConnector::recipients(const QStringList& entry, const QString& broadcastUsers) const
{
    const int requester = entry.value(0).toInt();
    if (entry.value(4).toInt() == 0)
        return {requester};
    const QStringList users = broadcastUsers.split(QLatin1Char(','));
    QList<int> connectionIDs{requester};
    std::optional<bool> rowsShown;
    for (auto it = _activeComponents.cbegin(); it != _activeComponents.cend(); ++it)
        if (it.key() != requester && (broadcastUsers.isEmpty() || users.contains(_userConnector.value(it.key())))
            && mayReceive(it.key(), entry, &rowsShown))
            connectionIDs << it.key();
    return connectionIDs;
}

// One reply for all its receivers: each compression level in use is encoded
// once, and every receiver writes the same frame.
void KTServerConnector::deliver(const KTSharedFramePointer& frame, const QString& message,
                                const QList<int>& connectionIDs)
{
    for (int connectionID : connectionIDs)
        if (KTConnectorThread* thread = _connectionTable.value(connectionID))
            thread->sendFrame(frame, message, 3);
}

// Another connection gets a pushed reply only when it is logged in and its
// rights let it read the client object the reply is for; a restricted user
// also only when it may see every record the reply carries (read once per
// reply, and only when such a user is among the receivers).
bool KTServerConnector::mayReceive(int connectionID, const QStringList& entry, std::optional<bool>* rowsShown) const
{
    const KTAccessList access = _accessLists.value(connectionID);
    if (!KTAccessPolicy::mayReceive(access, entry.value(1)))
        return false;
    if (access.unrestricted())
        return true;
    if (!rowsShown->has_value())
        *rowsShown = KTAccessPolicy::rowsShownToRestricted(entry.value(2));
    return **rowsShown;
}

void KTServerConnector::setAccessList(int connectionID, KTAccessList accessList)
{
    if (accessList.authenticated() && _connectionTable.contains(connectionID))
        _accessLists.insert(connectionID, accessList);
    else
        _accessLists.remove(connectionID);
}

void KTServerConnector::removeConnection(int connectionID)
{
    const QString location = QStringLiteral("KTServerConnector::removeConnection()");
    const QString user = _userConnector.value(connectionID);
    const QList<QStandardItem*> rows =
        _connectionInfoModel->findItems(QString::number(connectionID), Qt::MatchExactly, IdColumn);
    if (rows.isEmpty()) {
        emit eventMessage(tr("No existe ID de conexión : '%1'").arg(connectionID), KT::BugMessage, location);
        return;
    }
    if (rows.size() > 1)
        emit eventMessage(tr("Múltiples conexiones con el mismo ID : '%1'").arg(connectionID), KT::BugMessage,
                          location);
    _connectionInfoModel->removeRow(rows.first()->row());
    _activeComponents.remove(connectionID);
    _accessLists.remove(connectionID);
    _addresses.remove(connectionID);
    _encrypted.remove(connectionID);
    _evicted.remove(connectionID);
    // A login whose connection went before its answer lets the next one of its name and address go.
    const QString unanswered = _loginTurns.take(connectionID);
    if (!unanswered.isEmpty() && _loginInProgress.value(unanswered, -1) == connectionID)
        finishLogin(unanswered);
    if (!_userConnector.contains(connectionID) || !_loggedUsers.contains(user)) {
        emit eventMessage(tr("Se desconectó conexión con ID : '%1'").arg(connectionID), KT::InformationMessage,
                          location);
        return;
    }
    unregisterUser(connectionID);
    emit eventMessage(tr("Usuario : '%1' desconectado. ID de conexión : %2").arg(user).arg(connectionID),
                      KT::InformationMessage, location);
    writeLogout(user);
}

void KTServerConnector::writeLogout(const QString& user)
{
    if (!_dbController)
        return;
    QSqlQuery key = _dbController->selectMulti({QStringLiteral("accUser T1")}, {QStringLiteral("T1.pkyUser")},
                                               QStringLiteral("T1.fldLogin = %1").arg(_dbController->quoted(user)),
                                               QString(), QString(), QString());
    // A login without a user row is still logged, with a null key rather than broken SQL.
    const QString userKey = key.next() ? key.value(0).toString() : QStringLiteral("NULL");
    const QDateTime now = QDateTime::currentDateTime();
    const QString quote = QStringLiteral("'%1'");
    _dbController->insertRecords(QStringLiteral("dbaUserLog"),
                                 {{QStringLiteral("NULL"), userKey, "1", "209001", "2", "0",
                                   quote.arg(now.toString(QStringLiteral("yyyy-MM-dd"))),
                                   quote.arg(now.toString(QStringLiteral("hhmmss"))), "1", "0", "1", "2", "0", "1"}},
                                 logModifiers, {});
}

void KTServerConnector::removeThread()
{
    auto* thread = qobject_cast<KTConnectorThread*>(sender());
    if (!thread)
        return;
    _connectionTable.remove(thread->connectionID());
    thread->deleteLater();
}

void KTServerConnector::updateData(KTDatabaseController* controller)
{
    _dbController = controller;
    _dbDefinitionMap = controller ? controller->dbDefinitionMap() : QMap<QString, KTDbTable*>();
    refreshUserList();
    if (controller)
        _userListTimer->start();
    else
        _userListTimer->stop();
}
