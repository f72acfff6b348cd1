#include "KTTcpSocket.h"

#include "KTActionRunner.h"
#include "KTClientUpdateHandler.h"
#include "KTComponentRegistry.h"
#include "KTFrame.h"
#include "KTLoginHandler.h"
#include <KTLocalClock.h>
#include "KTNegotiationHandler.h"
#include "KTReplyXml.h"
#include "KTRequestParameters.h"
#include "KTRequestDocument.h"

#include <KT.h>
#include <KTAuthcomBase.h>
#include <KTDatabaseController.h>

#include <QBuffer>
#include <QScopedValueRollback>
#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QMetaMethod>
#include <QLoggingCategory>
#include <QSslCipher>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/socket.h>
#endif

namespace {

const QString parseLocation = QStringLiteral("KTTcpSocket::parseXML()");
// How long an update waits for a client to take its pending files.
constexpr qint64 backlogWaitMs = 30000;

// Every reply as it goes out, for whoever debugs a client: off unless
// QT_LOGGING_RULES="ombrix.wire.debug=true" asks for it.
Q_LOGGING_CATEGORY(wireLog, "ombrix.wire", QtInfoMsg)

} // namespace

KTTcpSocket::KTTcpSocket(const QStringList& dbParams, const QStringList& unitParams, QObject* parent)
    : QSslSocket(parent)
    , _negotiationDeadline(new QTimer(this))
    , _frameDeadline(new QTimer(this))
    , _dbParams(dbParams)
{
    _context.applicationDirectory = QCoreApplication::applicationDirPath();
    _dbController = new KTDatabaseController(this);
    _systemObjectsClient = unitParams.value(3).split(QLatin1Char(','));
    _components = std::make_unique<KTComponentRegistry>(_dbController, unitParams.value(2).split(QLatin1Char(',')));
    _negotiation = std::make_unique<KTNegotiationHandler>(_session, *this, unitParams.value(0), unitParams.value(1));
    _clientUpdate = std::make_unique<KTClientUpdateHandler>(_session, *this);
    _actions = std::make_unique<KTActionRunner>(_session, *this, *_components, _dbController);
    _login = std::make_unique<KTLoginHandler>(_session, *_components, _dbController);
    _clientUpdate->setApplicationDirectory(_context.applicationDirectory);
    connectHandlers();
    connect(_dbController, &KTDatabaseController::eventMessage, this, &KTTcpSocket::eventMessage);
    _dbController->setReportsConnectionLoss(false);
    _dbController->setCreatesDatabase(false);
    connect(_dbController, &KTDatabaseController::dbStatusChanged, this, [this](bool up) {
        if (!up && _dbController->connectionLost())
            emit databaseLost();
    });
    connect(_dbController, &KTDatabaseController::updateTableRecordDataModelRequested, this,
            &KTTcpSocket::updateTableRecordDataModelRequested);
    connect(this, &QTcpSocket::readyRead, this, qOverload<>(&KTTcpSocket::readData));
    _negotiationDeadline->setSingleShot(true);
    _frameDeadline->setSingleShot(true);
    connect(_negotiationDeadline, &QTimer::timeout, this, &KTTcpSocket::negotiationTimedOut);
    connect(_frameDeadline, &QTimer::timeout, this, [this] {
        deadlinePassed(tr("La conexión : '%1' no completó un mensaje en %2 s; se cierra la conexión")
                           .arg(_session.connectionID).arg(_context.limits.frameTimeoutMs / 1000));
    });
}

KTTcpSocket::~KTTcpSocket() = default;

void KTTcpSocket::connectHandlers()
{
    connect(_components.get(), &KTComponentRegistry::eventMessage, this, &KTTcpSocket::eventMessage);
    connect(_negotiation.get(), &KTNegotiationHandler::eventMessage, this, &KTTcpSocket::eventMessage);
    connect(_clientUpdate.get(), &KTClientUpdateHandler::eventMessage, this, &KTTcpSocket::eventMessage);
    connect(_actions.get(), &KTActionRunner::eventMessage, this, &KTTcpSocket::eventMessage);
    connect(_login.get(), &KTLoginHandler::eventMessage, this, &KTTcpSocket::eventMessage);
    connect(_login.get(), &KTLoginHandler::accessListChanged, this, &KTTcpSocket::accessListChanged);
    connect(_actions.get(), &KTActionRunner::updateTableRecordDataModelRequested, this,
            &KTTcpSocket::updateTableRecordDataModelRequested);
    connect(_actions.get(), &KTActionRunner::updateTaskScheduler, this, &KTTcpSocket::updateTaskScheduler);
    connect(_actions.get(), &KTActionRunner::pushRequested, this, &KTTcpSocket::pushRequested);
    connect(_actions.get(), &KTActionRunner::scheduleRequested, this, &KTTcpSocket::scheduleRequested);
}

void KTTcpSocket::setContext(const KTConnectionContext& context)
{
    _context = context;
    _negotiation->setContext(context);
    _clientUpdate->setApplicationDirectory(context.applicationDirectory);
    _actions->setContext(context);
}

void KTTcpSocket::setDbConnection(int connectionID, QMap<QString, KTDbTable*> dbDefinitionMap)
{
    _session.connectionID = connectionID;
    _components->setConnectionID(connectionID);
    _dbDefinitionMap = dbDefinitionMap;
    _negotiationDeadline->start(_context.limits.negotiationTimeoutMs);
}

void KTTcpSocket::loadAuthcoms(const QString& path, bool recursive)
{
    _components->loadAuthcoms(path, recursive);
}

void KTTcpSocket::loadSercoms(const QString& path, bool recursive)
{
    _components->loadSercoms(path, recursive);
}

bool KTTcpSocket::openDatabase()
{
    if (_databaseOpen)
        return true;
    if (!_dbController->establishConnection(QStringList{QString::number(_session.connectionID)} + _dbParams)) {
        emit eventMessage(tr("No pudo generarse un enlace con la Base de Datos desde la conexión : '%1'")
                              .arg(_session.connectionID), KT::ClientErrorMessage, QStringLiteral("KTTcpSocket::openDatabase()"));
        return false;
    }
    // Client text reaches this connection's statements.
    _dbController->setMultipleStatements(false);
    _dbController->setSessionLimits(_context.limits.statementSeconds, _context.limits.lockWaitSeconds);
    _dbController->setDbDefinitionMap(_dbDefinitionMap);
    _databaseOpen = true;
    return true;
}

void KTTcpSocket::closeDatabase()
{
    if (_databaseOpen)
        _dbController->closeConnection(QString::number(_session.connectionID));
    _databaseOpen = false;
}

void KTTcpSocket::closeConnection()
{
    closeDatabase();
    _negotiationDeadline->stop();
    _frameDeadline->stop();
    if (state() != UnconnectedState && state() != ClosingState)
        disconnectFromHost();
}

void KTTcpSocket::deadlinePassed(const QString& message)
{
    emit eventMessage(message, KT::WarningMessage, QStringLiteral("KTTcpSocket::readData()"));
    abort();
    closeConnection();
}

void KTTcpSocket::negotiationTimedOut()
{
    const int seconds = _context.limits.negotiationTimeoutMs / 1000;
    if (_tlsPort && !isEncrypted()) {
        _handshakeEnded = true;
        return deadlinePassed(tr("La conexión : '%1' desde %2 no completó el saludo TLS en %3 s; se cierra la conexión")
                                  .arg(_session.connectionID).arg(peerAddress().toString()).arg(seconds));
    }
    deadlinePassed(tr("La conexión : '%1' no negoció en %2 s; se cierra la conexión")
                       .arg(_session.connectionID).arg(seconds));
}

void KTTcpSocket::startEncryption(const QSslConfiguration& configuration)
{
    _tlsPort = true;
    setSslConfiguration(configuration);
    connect(this, &QSslSocket::encrypted, this, &KTTcpSocket::reportEncryption);
    connect(this, &QAbstractSocket::errorOccurred, this, &KTTcpSocket::handshakeFailed);
    startServerEncryption();
}

void KTTcpSocket::reportEncryption()
{
    _handshakeEnded = true;
    const QString protocol = sessionProtocol() == QSsl::TlsV1_3 ? QStringLiteral("TLS 1.3")
                             : sessionProtocol() == QSsl::TlsV1_2 ? QStringLiteral("TLS 1.2")
                                                                  : tr("TLS");
    emit eventMessage(tr("La conexión : '%1' desde %2 está cifrada (%3, %4)")
                          .arg(_session.connectionID).arg(peerAddress().toString(), protocol, sessionCipher().name()),
                      KT::InformationMessage, QStringLiteral("KTTcpSocket::startEncryption()"));
}

// Whatever a peer sends instead of a handshake (plain frames, noise, an old
// protocol) ends it at the first error: one warning, and the connection goes.
// So does a record that does not decrypt once the session is up.
void KTTcpSocket::handshakeFailed(QAbstractSocket::SocketError error)
{
    const bool broken = isEncrypted() && error != RemoteHostClosedError;
    if ((_handshakeEnded && !broken) || _tlsFailed)
        return;
    _handshakeEnded = true;
    _tlsFailed = true;
    const QString message = broken ? tr("La conexión : '%1' desde %2 envió datos TLS no válidos: %3; se cierra la conexión")
                                   : tr("La conexión : '%1' desde %2 no pudo cifrarse: %3; se cierra la conexión");
    emit eventMessage(message.arg(_session.connectionID).arg(peerAddress().toString(), errorString()),
                      KT::WarningMessage, QStringLiteral("KTTcpSocket::startEncryption()"));
    // Not from within the TLS layer's own report.
    QMetaObject::invokeMethod(this, [this] {
        abort();
        closeConnection();
    }, Qt::QueuedConnection);
}

// What is still to go out, before and after encryption.
qint64 KTTcpSocket::unsentBytes() const
{
    return bytesToWrite() + encryptedBytesToWrite();
}

// What a frame may announce and inflate to depends on how far the client has
// come: little before it showed the company password, more before a login.
qint64 KTTcpSocket::frameLimit() const
{
    if (!_session.companyAccepted())
        return qMin(_context.limits.maxFrameSize, KTConnectionLimits::beforeNegotiationFrameSize);
    if (!_session.authenticated())
        return qMin(_context.limits.maxFrameSize, KTConnectionLimits::beforeLoginFrameSize);
    return _context.limits.maxFrameSize;
}

// A frame that has begun must end in time; the clock runs from its first
// byte, however slowly the rest trickles in.
void KTTcpSocket::watchFrameDeadline()
{
    if (_blockSize == 0 && bytesAvailable() == 0)
        _frameDeadline->stop();
    else if (!_frameDeadline->isActive())
        _frameDeadline->start(_context.limits.frameTimeoutMs);
}

// Frames already received are handled in a loop, so that a burst of small
// frames cannot deepen the stack.
void KTTcpSocket::readData()
{
    // Flushing an encrypted reply reads the peer's next records and may
    // announce them at once, from inside the loop below; that loop reads on
    // by itself, and a nested call would go one level deeper per frame a
    // client queued, until the thread's stack ran out.
    if (_reading)
        return;
    const QScopedValueRollback<bool> reading(_reading, true);
    while (state() == ConnectedState && !_loginPending) {
        QByteArray payload;
        const qint64 limit = frameLimit();
        const KTFrame::ReadStatus status = KTFrame::read(this, _blockSize, limit, &payload);
        if (status == KTFrame::NeedMore)
            return watchFrameDeadline();
        if (status == KTFrame::TooLarge) {
            emit eventMessage(tr("La conexión : '%1' anunció un mensaje mayor al permitido (%2 bytes); se cierra la conexión")
                                  .arg(_session.connectionID).arg(limit), KT::ErrorMessage,
                              QStringLiteral("KTTcpSocket::readData()"));
            abort();
            closeConnection();
            return;
        }
        _frameDeadline->stop();
        QByteArray text = KTFrame::decodeUtf8(payload, limit);
        payload = QByteArray();
        parseDocument(std::move(text));
    }
}

void KTTcpSocket::writeReply(const QString& text, const QString& messageToPanel, int role)
{
    writeFrame(text, KTFrame::encode(text, _session.compressionFactor), messageToPanel, role);
}

void KTTcpSocket::writeData(const QString& data, int compressionFactor, const QString& messageToPanel, int role)
{
    writeFrame(data, KTFrame::encode(data, compressionFactor == -1 ? _session.compressionFactor : compressionFactor),
               messageToPanel, role);
}

void KTTcpSocket::writeShared(const KTSharedFramePointer& frame, const QString& messageToPanel, int role)
{
    writeFrame(frame->text(), frame->frame(_session.compressionFactor), messageToPanel, role);
}

void KTTcpSocket::writeFrame(const QString& text, const QByteArray& frame, const QString& messageToPanel, int role)
{
    qCDebug(wireLog).noquote() << "Conexión" << _session.connectionID << "<-" << text;
    const qint64 msecs = QDateTime::currentMSecsSinceEpoch();
    const quint64 bytes = quint64(frame.size());
    if (_activity)
        _activity->record({_session.user(), _session.clientIP, _session.clientMAC,
                           msecs, role, bytes, messageToPanel});
    // Negotiations and logins change who the connection is: the connector
    // hears of those at once, before the client reads the answer, so that a
    // stop right after a login still finds the user to log out.
    if (!_activity || role != RequestAction) {
        const QDateTime now = KTLocalClock::at(msecs);
        emit actionRequested(_session.connectionID, _session.user(), now.toString(QStringLiteral("yyyy-MM-dd")),
                             now.toString(QStringLiteral("hh:mm:ss")), _session.clientIP, _session.clientMAC, role,
                             bytes, messageToPanel);
    }
    const qint64 written = write(frame);
    _bytesSent += qMax<qint64>(written, 0);
    backlogExceeded(frame.size());
}

// A client that does not read its replies would have the server keep them
// all: once what is still unsent from earlier frames passes the limit, the
// connection is dropped. One frame alone may be larger.
bool KTTcpSocket::backlogExceeded(qint64 frameSize)
{
    flush();
    const qint64 backlog = unsentBytes() - frameSize;
    if (backlog <= _context.limits.maxPendingBytes)
        return false;
    emit eventMessage(tr("La conexión : '%1' no lee sus respuestas (%2 bytes sin enviar); se cierra la conexión")
                          .arg(_session.connectionID).arg(unsentBytes()), KT::WarningMessage,
                      QStringLiteral("KTTcpSocket::writeData()"));
    abort();
    closeConnection();
    return true;
}

// An update writes file after file without returning to the event loop; it
// lets the client take what is pending first, as a client that reads does.
void KTTcpSocket::waitForBacklog()
{
    QDeadlineTimer deadline(backlogWaitMs);
    while (state() == ConnectedState && unsentBytes() > _context.limits.maxPendingBytes / 2 && !deadline.hasExpired())
        waitForBytesWritten(int(qMax<qint64>(deadline.remainingTime(), 1)));
}

void KTTcpSocket::parseXML(const QString& text)
{
    parseDocument(text.toUtf8());
}

// The document is read once, from the bytes a piece at a time: no decoded
// copy of the whole text is held beside them.
void KTTcpSocket::parseDocument(QByteArray utf8)
{
    QBuffer buffer(&utf8);
    buffer.open(QIODevice::ReadOnly);
    KTRequestDocument document(_session.authenticated() ? KTXmlGuard::full : KTXmlGuard::beforeLogin);
    if (!document.read(&buffer)) {
        emit eventMessage(tr("XML recibido por la conexión : '%1' tiene un error en la línea %2 y columna %3. "
                             "Detalle del parser : '%4'")
                              .arg(_session.connectionID)
                              .arg(document.lineNumber())
                              .arg(document.columnNumber())
                              .arg(document.errorString()),
                          KT::ErrorMessage, parseLocation);
        disconnectFromHost();
        return;
    }
    buffer.close();
    utf8 = QByteArray();
    dispatch(document.documentElement());
}

void KTTcpSocket::dispatch(const KTRequestElement& root)
{
    const QString tag = root.tagName();
    if (stateRefused(tag))
        return;
    if (tag == QLatin1String("NegotiateConnection")) {
        processNegotiation(root);
    } else if (tag == QLatin1String("RequestUpdate")) {
        _clientUpdate->handle(KTRequestParameters::of(root));
    } else if (tag == QLatin1String("ObjectStatus")) {
        processObjectStatus(root);
    } else if (tag == QLatin1String("KeepAlive")) {
        processKeepAlive();
    } else if (tag == QLatin1String("Authenticate")) {
        processAuthenticate(root);
    } else if (tag == QLatin1String("Schedule")) {
        _actions->requestSchedule(root);
    } else if (tag == QLatin1String("ActionRequest")) {
        _actions->runActionRequest(root);
    } else if (tag == QLatin1String("LockRequest")) {
        _actions->runLockRequest(root);
    } else {
        emit eventMessage(tr("XML recibido por la conexión : '%1' no contiene protocolo OMX").arg(_session.connectionID),
                          KT::ErrorMessage, parseLocation);
    }
}

// Refuses, and closes the connection for, a request its state does not
// allow yet. Before a login nothing but negotiation, the client program
// download and the login itself is served.
bool KTTcpSocket::stateRefused(const QString& tag)
{
    const QString notNegotiated = tr("Conexión no fue negociada exitosamente.");
    const QString notAuthenticated = tr("Conexión no fue autenticada exitosamente.");
    if (tag == QLatin1String("RequestUpdate") && !_session.companyAccepted())
        refuse(QStringLiteral("UpdateEnd"), notNegotiated, UpdateAction);
    else if ((tag == QLatin1String("Authenticate") || tag == QLatin1String("Schedule")) && !_session.negotiated())
        refuse(tag, notNegotiated, AuthenticationAction);
    else if (tag == QLatin1String("Schedule") && !_session.authenticated())
        refuse(tag, notAuthenticated, AuthenticationAction);
    else if (tag == QLatin1String("ObjectStatus") && !_session.authenticated())
        refuse(tag, notAuthenticated, RequestAction);
    else if ((tag == QLatin1String("ActionRequest") || tag == QLatin1String("LockRequest")) && !_session.authenticated())
        refuse(QStringLiteral("ActionRequest"), notAuthenticated, RequestAction);
    else
        return false;
    return true;
}

void KTTcpSocket::processObjectStatus(const KTRequestElement& root)
{
    emit setActiveComponent(_session.connectionID, root.attribute(QStringLiteral("ObjectName")),
                            root.attribute(QStringLiteral("Active")).toInt() != 0);
}

void KTTcpSocket::processNegotiation(const KTRequestElement& root)
{
    _negotiation->handle(peerAddress().toString(), KTRequestParameters::of(root));
    // Once the company is known the client may stay to download the client program.
    if (_session.companyAccepted())
        _negotiationDeadline->stop();
}

void KTTcpSocket::processKeepAlive()
{
    if (!_session.negotiated())
        return;
    writeReply(KTReplyXml::keepAlive(), QStringLiteral("Narajas"), RequestAction);
}

void KTTcpSocket::processAuthenticate(const KTRequestElement& root)
{
    // The client objects are the server's own list: a child of that name
    // must not choose which objects the client is granted.
    QMap<QString, QString> params = KTRequestParameters::of(root);
    params.insert(QStringLiteral("ClientObjects"), _systemObjectsClient.join(QLatin1Char(',')));
    if (!_components->authcom(params.value(QStringLiteral("IdentifierType"))))
        return;
    // Whoever throttles logins says when this one may be answered; until
    // then nothing else from this client is read, so that its requests keep
    // their order.
    if (!isSignalConnected(QMetaMethod::fromSignal(&KTTcpSocket::loginRequested)))
        return authenticate(params);
    _pendingLogin = params;
    _loginPending = true;
    _frameDeadline->stop();
    // While the login waits, the client may send on: the kernel holds it back.
    setReadBufferSize(frameLimit() + 16);
    emit loginRequested(_session.connectionID, params.value(QStringLiteral("Login")), peerAddress().toString());
}

void KTTcpSocket::startLogin(int delayMs)
{
    if (!_loginPending)
        return;
    QTimer::singleShot(delayMs, Qt::PreciseTimer, this, [this] {
        _loginPending = false;
        setReadBufferSize(0);
        if (state() != ConnectedState)
            return;
        authenticate(_pendingLogin);
        readData();
    });
}

void KTTcpSocket::authenticate(const QMap<QString, QString>& params)
{
    const QString login = params.value(QStringLiteral("Login"));
    if (!openDatabase()) {
        emit loginAnswered(_session.connectionID, login, peerAddress().toString(), false, false);
        closeConnection();
        return;
    }
    const KTLoginHandler::Answer answer = _login->answer(params);
    // A connection that is not logged in holds no database connection.
    if (!answer.granted)
        closeDatabase();
    emit loginAnswered(_session.connectionID, login, peerAddress().toString(), answer.granted, answer.counted);
    writeReply(answer.reply, answer.message, AuthenticationAction);
}

// A refusal for a request the connection's state does not allow yet: it is
// answered, reported and the connection closed.
void KTTcpSocket::refuse(const QString& root, const QString& message, int role)
{
    writeReply(KTReplyXml::refusal(root, message), message, role);
    emit eventMessage(message, KT::WarningMessage, parseLocation);
    closeConnection();
}

// The event loop learns of a closed connection only after the request; the
// kernel knows already: a peek that reads the end of the stream, or a reset.
bool KTTcpSocket::peerGone()
{
#ifdef Q_OS_UNIX
    char byte;
    const ssize_t peeked = ::recv(int(socketDescriptor()), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return peeked == 0 || (peeked < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
#else
    return state() != QAbstractSocket::ConnectedState;
#endif
}
