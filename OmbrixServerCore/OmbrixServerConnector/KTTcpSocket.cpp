#include "KTTcpSocket.h"

#include "KTAccessPolicy.h"
#include "KTFrame.h"
#include "KTXmlGuard.h"
#include "KTSharedFrame.h"
#include "KTRunningRequests.h"
#include "KTUserList.h"

#include <KT.h>
#include <KTAuthcomBase.h>
#include <KTDatabaseController.h>
#include <KTPluginLoader.h>
#include <KTSercomBase.h>
#include <KTVersion.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QMetaMethod>
#include <QLoggingCategory>
#include <QScopeGuard>
#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>
#include <QXmlStreamWriter>

#include <algorithm>

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
    : QTcpSocket(parent)
    , _negotiationDeadline(new QTimer(this))
    , _frameDeadline(new QTimer(this))
    , _dbParams(dbParams)
{
    _context.applicationDirectory = QCoreApplication::applicationDirPath();
    _dbController = new KTDatabaseController(this);
    _companyName = unitParams.value(0);
    _connectivityPassword = unitParams.value(1);
    _systemObjects = unitParams.value(2).split(QLatin1Char(','));
    _systemObjectsClient = unitParams.value(3).split(QLatin1Char(','));
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
    connect(_negotiationDeadline, &QTimer::timeout, this, [this] {
        deadlinePassed(tr("La conexión : '%1' no negoció en %2 s; se cierra la conexión")
                           .arg(_connectionID).arg(_context.limits.negotiationTimeoutMs / 1000));
    });
    connect(_frameDeadline, &QTimer::timeout, this, [this] {
        deadlinePassed(tr("La conexión : '%1' no completó un mensaje en %2 s; se cierra la conexión")
                           .arg(_connectionID).arg(_context.limits.frameTimeoutMs / 1000));
    });
}

KTTcpSocket::~KTTcpSocket()
{
    qDeleteAll(_authcomMap);
    qDeleteAll(_sercomMap);
}

void KTTcpSocket::setContext(const KTConnectionContext& context)
{
    _context = context;
}

void KTTcpSocket::setDbConnection(int connectionID, QMap<QString, KTDbTable*> dbDefinitionMap)
{
    _connectionID = connectionID;
    _dbDefinitionMap = dbDefinitionMap;
    _negotiationDeadline->start(_context.limits.negotiationTimeoutMs);
}

bool KTTcpSocket::openDatabase()
{
    if (_databaseOpen)
        return true;
    if (!_dbController->establishConnection(QStringList{QString::number(_connectionID)} + _dbParams)) {
        emit eventMessage(tr("No pudo generarse un enlace con la Base de Datos desde la conexión : '%1'")
                              .arg(_connectionID), KT::ClientErrorMessage, QStringLiteral("KTTcpSocket::openDatabase()"));
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
        _dbController->closeConnection(QString::number(_connectionID));
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

// What a frame may announce and inflate to depends on how far the client has
// come: little before it showed the company password, more before a login.
qint64 KTTcpSocket::frameLimit() const
{
    if (!_companyAccepted)
        return qMin(_context.limits.maxFrameSize, KTConnectionLimits::beforeNegotiationFrameSize);
    if (!_connectionAuthenticated)
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
    while (state() == ConnectedState && !_loginPending) {
        QByteArray payload;
        const qint64 limit = frameLimit();
        const KTFrame::ReadStatus status = KTFrame::read(this, _blockSize, limit, &payload);
        if (status == KTFrame::NeedMore)
            return watchFrameDeadline();
        if (status == KTFrame::TooLarge) {
            emit eventMessage(tr("La conexión : '%1' anunció un mensaje mayor al permitido (%2 bytes); se cierra la conexión")
                                  .arg(_connectionID).arg(limit), KT::ErrorMessage,
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

void KTTcpSocket::writeData(const QString& data, int compressionFactor, const QString& messageToPanel, int role)
{
    writeFrame(data, KTFrame::encode(data, compressionFactor == -1 ? _compressionFactor : compressionFactor),
               messageToPanel, role);
}

void KTTcpSocket::writeShared(const KTSharedFramePointer& frame, const QString& messageToPanel, int role)
{
    writeFrame(frame->text(), frame->frame(_compressionFactor), messageToPanel, role);
}

void KTTcpSocket::writeFrame(const QString& text, const QByteArray& frame, const QString& messageToPanel, int role)
{
    qCDebug(wireLog).noquote() << "Conexión" << _connectionID << "<-" << text;
    const qint64 written = write(frame);
    if (backlogExceeded(frame.size()))
        return;
    const QDateTime now = QDateTime::currentDateTime();
    emit actionRequested(_connectionID, _user, now.toString(QStringLiteral("yyyy-MM-dd")),
                         now.toString(QStringLiteral("hh:mm:ss")), _clientIP, _clientMAC, role,
                         quint64(qMax<qint64>(written, 0)), messageToPanel);
}

// A client that does not read its replies would have the server keep them
// all: once what is still unsent from earlier frames passes the limit, the
// connection is dropped. One frame alone may be larger.
bool KTTcpSocket::backlogExceeded(qint64 frameSize)
{
    flush();
    const qint64 backlog = bytesToWrite() - frameSize;
    if (backlog <= _context.limits.maxPendingBytes)
        return false;
    emit eventMessage(tr("La conexión : '%1' no lee sus respuestas (%2 bytes sin enviar); se cierra la conexión")
                          .arg(_connectionID).arg(bytesToWrite()), KT::WarningMessage,
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
    while (state() == ConnectedState && bytesToWrite() > _context.limits.maxPendingBytes / 2 && !deadline.hasExpired())
        waitForBytesWritten(int(qMax<qint64>(deadline.remainingTime(), 1)));
}

void KTTcpSocket::parseXML(const QString& text)
{
    parseDocument(text.toUtf8());
}

// The bounds pass and the DOM both read the bytes a piece at a time: neither
// holds a decoded copy of the whole text beside the bytes.
void KTTcpSocket::parseDocument(QByteArray utf8)
{
    QBuffer buffer(&utf8);
    buffer.open(QIODevice::ReadOnly);
    KTXmlGuard guard(_connectionAuthenticated ? KTXmlGuard::full : KTXmlGuard::beforeLogin);
    QDomDocument document;
    QString message;
    int line = 0;
    int column = 0;
    const bool guarded = guard.accepts(&buffer);
    if (!guarded) {
        message = guard.errorString();
        line = int(guard.lineNumber());
        column = int(guard.columnNumber());
    }
    if (guarded)
        buffer.seek(0);
    if (!guarded || !document.setContent(&buffer, false, &message, &line, &column)) {
        emit eventMessage(tr("XML recibido por la conexión : '%1' tiene un error en la línea %2 y columna %3. "
                             "Detalle del parser : '%4'").arg(_connectionID).arg(line).arg(column).arg(message),
                          KT::ErrorMessage, parseLocation);
        disconnectFromHost();
        return;
    }
    buffer.close();
    utf8 = QByteArray();
    dispatch(document.documentElement());
}

void KTTcpSocket::dispatch(const QDomElement& root)
{
    const QString tag = root.tagName();
    if (stateRefused(tag))
        return;
    if (tag == QLatin1String("NegotiateConnection")) {
        processNegotiationRequest(parameters(root));
    } else if (tag == QLatin1String("RequestUpdate")) {
        processUpdateRequest(parameters(root));
    } else if (tag == QLatin1String("ObjectStatus")) {
        processObjectStatus(root);
    } else if (tag == QLatin1String("KeepAlive")) {
        processKeepAlive();
    } else if (tag == QLatin1String("Authenticate")) {
        processAuthenticate(root);
    } else if (tag == QLatin1String("Schedule")) {
        processSchedule(root);
    } else if (tag == QLatin1String("ActionRequest")) {
        processActionRequest(root);
    } else if (tag == QLatin1String("LockRequest")) {
        processLockRequest(root);
    } else {
        emit eventMessage(tr("XML recibido por la conexión : '%1' no contiene protocolo OMX").arg(_connectionID),
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
    if (tag == QLatin1String("RequestUpdate") && !_companyAccepted)
        refuse(QStringLiteral("UpdateEnd"), notNegotiated, UpdateAction);
    else if ((tag == QLatin1String("Authenticate") || tag == QLatin1String("Schedule")) && !_connectionNegotiated)
        refuse(tag, notNegotiated, AuthenticationAction);
    else if (tag == QLatin1String("Schedule") && !_connectionAuthenticated)
        refuse(tag, notAuthenticated, AuthenticationAction);
    else if (tag == QLatin1String("ObjectStatus") && !_connectionAuthenticated)
        refuse(tag, notAuthenticated, RequestAction);
    else if ((tag == QLatin1String("ActionRequest") || tag == QLatin1String("LockRequest")) && !_connectionAuthenticated)
        refuse(QStringLiteral("ActionRequest"), notAuthenticated, RequestAction);
    else
        return false;
    return true;
}

void KTTcpSocket::processObjectStatus(const QDomElement& root)
{
    emit setActiveComponent(_connectionID, root.attribute(QStringLiteral("ObjectName")),
                            root.attribute(QStringLiteral("Active")).toInt() != 0);
}

void KTTcpSocket::processKeepAlive()
{
    if (!_connectionNegotiated)
        return;
    QString reply;
    QXmlStreamWriter writer(&reply);
    writer.setAutoFormatting(true);
    writer.writeStartDocument();
    writer.writeEmptyElement(QStringLiteral("KeepAliveAnswer"));
    writer.writeEndDocument();
    writeData(reply, _compressionFactor, QStringLiteral("Narajas"), RequestAction);
}

void KTTcpSocket::processAuthenticate(const QDomElement& root)
{
    // The client objects are the server's own list: a child of that name
    // must not choose which objects the client is granted.
    QMap<QString, QString> params = parameters(root);
    params.insert(QStringLiteral("ClientObjects"), _systemObjectsClient.join(QLatin1Char(',')));
    if (!_authcomMap.contains(params.value(QStringLiteral("IdentifierType"))))
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
    emit loginRequested(_connectionID, params.value(QStringLiteral("Login")), peerAddress().toString());
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
        emit loginAnswered(_connectionID, login, peerAddress().toString(), false, false);
        closeConnection();
        return;
    }
    KTAuthcomBase* authcom = _authcomMap.value(params.value(QStringLiteral("IdentifierType")));
    _dbController->resetLastErrorCode();
    QString reply = authcom->authenticate(params);
    _connectionAuthenticated = authcom->authenticated();
    // A lookup the database failed (a lock held too long, a lost connection)
    // says nothing of the key: it is answered as such and not counted.
    const bool databaseFailed = !_connectionAuthenticated && _dbController->lastErrorCode() != 0;
    QString message = authcom->lastMessage();
    if (databaseFailed) {
        message = tr("No se pudo verificar el usuario '%1': la base de datos no respondió. Intente nuevamente.")
                      .arg(login.trimmed());
        reply = refusalText(QStringLiteral("Authenticate"), message);
        emit eventMessage(tr("%1 Conexión : %2").arg(message).arg(_connectionID), KT::WarningMessage,
                          QStringLiteral("KTTcpSocket::authenticate()"));
    }
    _user = _connectionAuthenticated ? authcom->user() : QStringLiteral("?");
    _userCod = _connectionAuthenticated ? authcom->userCod() : QString();
    _userType = _connectionAuthenticated ? authcom->userType() : 0;
    _group = _connectionAuthenticated ? authcom->group() : QString();
    grantAccess(reply);
    // A connection that is not logged in holds no database connection.
    if (!_connectionAuthenticated)
        closeDatabase();
    emit loginAnswered(_connectionID, login, peerAddress().toString(), _connectionAuthenticated, !databaseFailed);
    writeData(reply, _compressionFactor, message, AuthenticationAction);
}

// Told to the connector before the login's reply, so that pushed replies
// follow the new rights from the first one on.
void KTTcpSocket::grantAccess(const QString& loginReply)
{
    _accessList = !_connectionAuthenticated ? KTAccessList()
        : _userType == 3 ? KTAccessList::fromLogin(_userType, loginReply, componentParents(), _dbController->dbDefinitionMap())
                         : KTAccessList::fromLogin(_userType, loginReply);
    emit accessListChanged(_connectionID, _accessList);
}

// A client object embedded in another (a detail in its master) is reached
// through the grant of the one it is embedded in.
QMap<QString, QString> KTTcpSocket::componentParents()
{
    QMap<QString, QString> parents;
    QSqlQuery query = _dbController->select(QStringLiteral("srvComponent"),
                                            {QStringLiteral("fldName"), QStringLiteral("fldParentComponent")},
                                            QStringLiteral("fldParentComponent IS NOT NULL"), QString(), QString(),
                                            QString());
    while (query.next())
        parents.insert(query.value(0).toString(), query.value(1).toString());
    return parents;
}

void KTTcpSocket::processSchedule(const QDomElement& root)
{
    emit scheduleRequested(QVariant(scheduleParameters(root)));
}

// A refusal for a request the connection's state does not allow yet: it is
// answered, reported and the connection closed.
void KTTcpSocket::refuse(const QString& root, const QString& message, int role)
{
    writeData(refusalText(root, message), _compressionFactor, message, role);
    emit eventMessage(message, KT::WarningMessage, parseLocation);
    closeConnection();
}

// A refusal's reply: the request's root with a failed status and the message.
QString KTTcpSocket::refusalText(const QString& root, const QString& message)
{
    QString reply;
    QXmlStreamWriter writer(&reply);
    writer.setAutoFormatting(true);
    writer.writeStartDocument();
    writer.writeStartElement(root);
    writer.writeTextElement(QStringLiteral("Status"), QStringLiteral("0"));
    writer.writeTextElement(QStringLiteral("Message"), message);
    writer.writeEndElement();
    writer.writeEndDocument();
    return reply;
}

QMap<QString, QVariant> KTTcpSocket::scheduleParameters(const QDomElement& root) const
{
    QMap<QString, QVariant> schedule;
    const QMap<QString, QString> params = parameters(root);
    for (auto it = params.cbegin(); it != params.cend(); ++it)
        schedule.insert(it.key(), it.value());
    // The requester's identity goes in after the client's own values, so that
    // a client cannot name someone else as the requester.
    schedule.insert(QStringLiteral("_UserCod"), _userCod);
    schedule.insert(QStringLiteral("_UserType"), _userType);
    return schedule;
}

QMap<QString, QString> KTTcpSocket::parameters(const QDomElement& root)
{
    QMap<QString, QString> params;
    for (QDomNode node = root.firstChild(); !node.isNull(); node = node.nextSibling()) {
        const QDomElement element = node.toElement();
        if (!element.isNull())
            params.insert(element.tagName(), element.text());
    }
    return params;
}

// ---------------------------------------------------------------------------
// Negotiation

void KTTcpSocket::processNegotiationRequest(const QMap<QString, QString>& params)
{
    _clientIP = QStringLiteral("%1 / %2").arg(peerAddress().toString(), params.value(QStringLiteral("ClientIP")));
    _clientMAC = params.value(QStringLiteral("ClientMAC"));
    _clientVersion = params.value(QStringLiteral("ClientVersion"));
    _compressionFactor = params.value(QStringLiteral("CompressionFactor")).toInt();
    _operatingSystem = params.value(QStringLiteral("OperatingSystem"));
    _packMaxCount = params.value(QStringLiteral("PackMaxCount")).toInt();
    if (negotiationRefused(params))
        return;

    const QString message = tr("Negociación Exitosa !");
    emit eventMessage(message, KT::SuccessMessage, QStringLiteral("KTTcpSocket::processNegotiationRequest()"));
    writeNegotiationReply(true, message, QString());
    _connectionNegotiated = true;
    _negotiationDeadline->stop();
}

// ---------------------------------------------------------------------------
// Client update

// Served in every state, so that a client refused for its version can update.
void KTTcpSocket::processUpdateRequest(const QMap<QString, QString>& params)
{
    _updateSuccess = true;
    const QString root = _context.applicationDirectory + QStringLiteral("/Downloads");
    // The platform names one folder of the download area and nothing else.
    if (!_operatingSystem.contains(QLatin1Char('/')) && !_operatingSystem.contains(QLatin1String(".."))
        && !_operatingSystem.contains(QLatin1Char('\\')))
        processUpdateRequestRecurse(params, root + QStringLiteral("/OmbrixClient-") + _operatingSystem, root);

    const QString location = QStringLiteral("KTTcpSocket::processUpdateRequest()");
    const QString message = _updateSuccess
        ? tr("Se envió con éxito todos los componentes de Ombrix Client")
        : tr("Hubo errores en la actualización de uno o más componentes de Ombrix Client");
    writeUpdateReply(QStringLiteral("UpdateEnd"), {{QStringLiteral("Status"), _updateSuccess ? "1" : "0"},
                                                   {QStringLiteral("Message"), message}});
    emit eventMessage(tr("%1 en la conexión con ID : %2").arg(message).arg(_connectionID),
                      _updateSuccess ? KT::SuccessMessage : KT::WarningMessage, location);
}

void KTTcpSocket::processUpdateRequestRecurse(const QMap<QString, QString>& params, const QString& folder,
                                              const QString& root)
{
    const QDir dir(folder);
    QSettings index(root + QStringLiteral("/ClientVersion.txt"), QSettings::IniFormat);
    index.beginGroup(QStringLiteral("Files"));
    for (const QString& name : dir.entryList(QDir::Files | QDir::NoSymLinks | QDir::Hidden, QDir::Unsorted)) {
        // A value with commas reads back as a list.
        const QVariant entry = index.value(name);
        const QStringList parts = entry.typeId() == QMetaType::QStringList ? entry.toStringList()
                                                                           : entry.toString().split(QLatin1Char(','));
        sendUpdateFile(folder, name, params.value(name, QStringLiteral("-")), parts.value(1));
    }
    for (const QString& subfolder : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks | QDir::Hidden,
                                                  QDir::Unsorted))
        if (subfolder != QLatin1String("Downloads"))
            processUpdateRequestRecurse(params, folder + QLatin1Char('/') + subfolder, root);
}

void KTTcpSocket::sendUpdateFile(const QString& folder, const QString& name, const QString& clientSha1,
                                 const QString& relativePath)
{
    waitForBacklog();
    QFile file(folder + QLatin1Char('/') + name);
    if (!file.open(QIODevice::ReadOnly)) {
        _updateSuccess = false;
        writeUpdateReply(QStringLiteral("UpdateFile"),
                         {{QStringLiteral("Status"), QStringLiteral("0")}, {QStringLiteral("Name"), name},
                          {QStringLiteral("Message"), tr("Error al abrir objeto : '%1'").arg(name)},
                          {QStringLiteral("RelativePath"), relativePath}});
        emit eventMessage(tr("No se pudo abrir el archivo : %1").arg(file.fileName()), KT::ErrorMessage,
                          QStringLiteral("KTTcpSocket::processUpdateRequestRecurse()"));
        return;
    }
    const QByteArray contents = file.readAll();
    const QString sha1 = QString::fromLatin1(QCryptographicHash::hash(contents, QCryptographicHash::Sha1).toBase64());
    const bool current = sha1 == clientSha1;
    QList<QPair<QString, QString> > children{
        {QStringLiteral("Status"), QStringLiteral("1")}, {QStringLiteral("Name"), name},
        {QStringLiteral("Sha1"), sha1},
        {QStringLiteral("Message"), current ? tr("No se requiere actualizar objeto : '%1'").arg(name)
                                            : tr("Actualizando objeto : '%1'").arg(name)},
        {QStringLiteral("RelativePath"), relativePath}};
    if (!current)
        children.append({QStringLiteral("Contents"), QString::fromLatin1(contents.toBase64())});
    writeUpdateReply(QStringLiteral("UpdateFile"), children);
}

// Update replies carry their Message as the panel message.
void KTTcpSocket::writeUpdateReply(const QString& tag, const QList<QPair<QString, QString> >& children)
{
    QString reply;
    QXmlStreamWriter writer(&reply);
    writer.setAutoFormatting(true);
    writer.writeStartDocument();
    writer.writeStartElement(tag);
    QString message;
    for (const auto& child : children) {
        writer.writeTextElement(child.first, child.second);
        if (child.first == QLatin1String("Message"))
            message = child.second;
    }
    writer.writeEndDocument();
    writeData(reply, _compressionFactor, message, UpdateAction);
}

// ---------------------------------------------------------------------------
// Negotiation checks

// Answers and reports the first check the request fails; false when it passes them all.
bool KTTcpSocket::negotiationRefused(const QMap<QString, QString>& params)
{
    const QString location = QStringLiteral("KTTcpSocket::processNegotiationRequest()");
    const QString password = params.value(QStringLiteral("CompanyPassword"));
    const QString company = params.value(QStringLiteral("Company")).simplified();
    if (password != _connectivityPassword || company != _companyName) {
        writeNegotiationReply(false, tr("Password de empresa incorrecto! Contáctese con el administrador de sistemas."),
                              QString());
        // The password a client sent is never written to the log, right or wrong.
        emit eventMessage(tr("Negociación iniciada por la conexión '%1' no tuvo éxito. SO: '%2', Empresa : '%3'. "
                             "Password : '%4'").arg(_connectionID).arg(_operatingSystem, company,
                                                                         password.isEmpty() ? tr("(vacío)") : tr("(recibido, oculto)")),
                          KT::ErrorMessage, location);
        closeConnection();
        return true;
    }
    _companyAccepted = true;
    // A client refused for its version may still take the client program.
    _negotiationDeadline->stop();
    if (_packMaxCount < 1 || _compressionFactor < 0 || _compressionFactor > 9) {
        writeNegotiationReply(false, tr("Parámetros de conexión incorrectos !"), QString());
        emit eventMessage(tr("Negociación iniciada por la conexión '%1' recibió parámetros erróneos. PackMaxCount: '%2', "
                             "CompressionFactor : '%3'.").arg(_connectionID).arg(_packMaxCount).arg(_compressionFactor),
                          KT::BugMessage, location);
        closeConnection();
        return true;
    }
    const QString minimum = minimumClientVersion();
    const QString builtIn = KTVersion::ombrixClientVersionSimplified();
    const QString message = tr("Servidor requiere mínimo la versión '%1' de OmbrixClient.").arg(builtIn);
    if (!minimum.isEmpty() && _clientVersion < minimum) {
        writeNegotiationReply(false, message,
                              tr("Servidor requiere mínimo la versión '%1' de OmbrixClient.\nDesea actualizar OmbrixClient "
                                 "desde OmbrixServer ?\nSi lo prefiere, puede actualizar su versión desde la página web")
                                      .arg(minimum) + QLatin1Char(' ') + KTVersion::vendorWebAddress());
        emit eventMessage(message, KT::InformationMessage, location);
        return true;
    }
    if (minimum.isEmpty() && KTVersion::lessThan(_clientVersion, builtIn)) {
        writeNegotiationReply(false, message, QString());
        emit eventMessage(message, KT::InformationMessage, location);
        closeConnection();
        return true;
    }
    return false;
}

QString KTTcpSocket::minimumClientVersion() const
{
    const QString path = _context.applicationDirectory + QStringLiteral("/Downloads/ClientVersion.txt");
    if (!QFile::exists(path))
        return QString();
    QSettings settings(path, QSettings::IniFormat);
    return KTVersion::simplifiedVersion(settings.value(QStringLiteral("ClientValues/ClientVersion")).toString());
}

void KTTcpSocket::writeNegotiationReply(bool success, const QString& message, const QString& messageBox)
{
    QString reply;
    QXmlStreamWriter writer(&reply);
    writer.setAutoFormatting(true);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("NegotiateConnection"));
    writer.writeTextElement(QStringLiteral("Status"), success ? QStringLiteral("1") : QStringLiteral("0"));
    writer.writeTextElement(QStringLiteral("ServerVersion"), KTVersion::ombrixServerVersionSimplified());
    writer.writeTextElement(QStringLiteral("Message"), message);
    if (!messageBox.isEmpty())
        writer.writeTextElement(QStringLiteral("MessageBox"), messageBox);
    if (success) {
        writer.writeStartElement(QStringLiteral("UserList"));
        const QList<KTUserList::User> users = _context.userList ? _context.userList->users() : QList<KTUserList::User>();
        for (const KTUserList::User& user : users) {
            writer.writeStartElement(QStringLiteral("User"));
            writer.writeTextElement(QStringLiteral("Key"), user.key);
            writer.writeTextElement(QStringLiteral("Login"), user.login);
            writer.writeTextElement(QStringLiteral("IconSha1"), user.iconSha1);
            writer.writeEndElement();
        }
        writer.writeEndElement();
    }
    writer.writeEndElement();
    writer.writeEndDocument();
    writeData(reply, _compressionFactor, message, NegotiationAction);
}

// ---------------------------------------------------------------------------
// Component loading

void KTTcpSocket::loadAuthcoms(const QString& path, bool recursive)
{
    loadComponents(path, recursive, true, _authcomMap);
}

void KTTcpSocket::loadSercoms(const QString& path, bool recursive)
{
    loadComponents(path, recursive, true, _sercomMap);
}

namespace {

template <class Component> struct ComponentTexts;

template <> struct ComponentTexts<KTAuthcomBase> {
    static QString location() { return QStringLiteral("KTTcpSocket::loadAuthcoms()"); }
    static QString loaded(const QString& name)
    {
        return KTTcpSocket::tr("Authcom : '%1' fue cargado exitosamente.").arg(name);
    }
    static QString failed(const QString& fileName, const QString&, const QString& error)
    {
        return KTTcpSocket::tr("El Authcom : '%1' no pudo ser cargado. Mensaje : '%2'").arg(fileName, error);
    }
};

template <> struct ComponentTexts<KTSercomBase> {
    static QString location() { return QStringLiteral("KTTcpSocket::loadSercoms()"); }
    static QString loaded(const QString& name)
    {
        return KTTcpSocket::tr("Componente de servidor : '%1' fue cargado exitosamente.").arg(name);
    }
    static QString failed(const QString&, const QString& objectName, const QString& error)
    {
        return KTTcpSocket::tr("No se pudo cargar Componente de Servidor : '%1', Mensaje : '%2' ").arg(objectName, error);
    }
};

} // namespace

template <class Component>
void KTTcpSocket::loadComponents(const QString& path, bool recursive, bool topLevel, QMap<QString, Component*>& map)
{
    using Texts = ComponentTexts<Component>;
    if (topLevel) {
        qDeleteAll(map);
        map.clear();
    }
    for (const KTPluginLoader::File& file : KTPluginLoader::files(path)) {
        if (!_systemObjects.contains(file.objectName))
            continue;
        QFile readable(file.absolutePath);
        if (!readable.open(QIODevice::ReadOnly)) {
            emit eventMessage(tr("No se pudo leer archivo : %1 ").arg(file.fileName), KT::ErrorMessage, Texts::location());
            continue;
        }
        QString error;
        Component* prototype = KTPluginLoader::load<Component>(file.absolutePath, &error);
        Component* component = prototype ? prototype->createInstance() : nullptr;
        if (!component) {
            emit eventMessage(Texts::failed(file.fileName, file.objectName, error), KT::ErrorMessage, Texts::location());
            continue;
        }
        delete map.value(component->name());
        map.insert(component->name(), component);
        setUpComponent(component);
        component->postSetup();
        connect(component, &Component::eventMessage, this, &KTTcpSocket::eventMessage);
        // The slot is declared by each component, which knows the controller's class.
        connect(this, SIGNAL(setDbController(KTDatabaseController*)), component,
                SLOT(setDbController(KTDatabaseController*)));
        emit setDbController(_dbController);
        emit eventMessage(Texts::loaded(component->name()), KT::SuccessMessage, Texts::location());
    }
    if (recursive)
        for (const QString& subdirectory : KTPluginLoader::subdirectories(path))
            loadComponents(subdirectory, true, false, map);
}

void KTTcpSocket::setUpComponent(KTAuthcomBase* component)
{
    component->setup(_connectionID);
}

void KTTcpSocket::setUpComponent(KTSercomBase* component)
{
    component->setup(_connectionID, &_lastKeysMap, &_transactionModifiers);
    connect(component, &KTSercomBase::updateTaskScheduler, this, [this] { _tasksChanged = true; });
}

// ---------------------------------------------------------------------------
// Action and lock requests

namespace {

const QString broadcastUsersTag = QStringLiteral("BroadcastUsers");
const QString scheduleTag = QStringLiteral("Schedule");

// The action that speaks for a whole request in a failure reply: its first
// child that names a component.
QDomElement firstAction(const QDomElement& root)
{
    for (QDomElement child = root.firstChildElement(); !child.isNull(); child = child.nextSiblingElement())
        if (child.tagName() != broadcastUsersTag && child.tagName() != scheduleTag)
            return child;
    return QDomElement();
}

// A lock's attributes are lists that keep their empty parts.
QStringList list(const QDomElement& root, const char* name)
{
    return root.attribute(QLatin1String(name)).split(QLatin1Char(','));
}

} // namespace

// While a request runs, its session is listed, so that its statement can be
// ended from outside should its client go.
void KTTcpSocket::beginRequest()
{
    _dbController->resetLastErrorCode();
    if (_context.runningRequests)
        _context.runningRequests->begin(_connectionID, _dbController->sessionId(), socketDescriptor());
}

void KTTcpSocket::endRequest()
{
    if (_context.runningRequests)
        _context.runningRequests->end(_connectionID);
}

// A statement MariaDB ended (its time ran out, it waited too long for a
// lock, or the server cancelled it) fails the request with a message that
// says so, rather than with the database's own text.
bool KTTcpSocket::statementCut(const QDomElement& action)
{
    QString message;
    switch (_dbController->lastErrorCode()) {
    case 1969:
        message = tr("La operación superó el tiempo máximo de %1 s y fue cancelada.").arg(_context.limits.statementSeconds);
        break;
    case 1205:
        message = tr("La operación esperó más de %1 s por datos bloqueados por otro usuario y fue cancelada. "
                     "Intente nuevamente.").arg(_context.limits.lockWaitSeconds);
        break;
    case 1317:
        message = tr("La operación fue cancelada por el servidor.");
        break;
    default:
        return false;
    }
    writeRequestFailure(action, message);
    emit eventMessage(tr("Solicitud del usuario '%1' con ID de Conexión '%2' cancelada en la BD : %3")
                          .arg(_user).arg(_connectionID).arg(message), KT::WarningMessage, parseLocation);
    return true;
}

void KTTcpSocket::processActionRequest(const QDomElement& root)
{
    beginRequest();
    const auto ended = qScopeGuard([this] { endRequest(); });
    const bool begun = _dbController->beginTransaction();
    if (!begun)
        emit eventMessage(tr("Se produjo un error al iniciar una transacción en la BD. Conexión : %1, Usuario : %2")
                              .arg(_connectionID).arg(_user), KT::BugMessage, parseLocation);
    _transactionModifiers.clear();
    _lastKeysMap.clear();
    _tasksChanged = false;
    if (!begun) {
        // The client is told, so that it does not wait for an answer that never comes.
        writeRequestFailure(firstAction(root), tr("No se pudo iniciar una transacción en la base de datos. "
                                                  "Intente nuevamente."));
        return;
    }

    QList<QStringList> responses;
    QString logins;
    QVariant schedule;
    bool ok = true;
    int position = 0;
    for (QDomElement action = root.firstChildElement(); ok && !action.isNull();
         action = action.nextSiblingElement(), ++position) {
        if (action.tagName() == broadcastUsersTag) {
            logins = action.attribute(QStringLiteral("Logins"));
        } else if (action.tagName() == scheduleTag) {
            schedule = QVariant(scheduleParameters(action));
        } else {
            ok = runAction(action, position == 0 ? QStringLiteral("1") : QStringLiteral("0"), &responses);
            if (!ok)
                rollBack(action.tagName());
        }
    }
    if (!ok)
        return;
    // Nobody would learn of the outcome: work for a client that is gone is undone.
    if (peerGone()) {
        rollBack(QStringLiteral("ActionRequest"));
        emit eventMessage(tr("La conexión '%1' del usuario '%2' se cerró durante su solicitud; no se guardaron los "
                             "cambios").arg(_connectionID).arg(_user), KT::WarningMessage, parseLocation);
        return;
    }
    if (!_dbController->commit()) {
        emit eventMessage(tr("No se pudo realizar Commit en la base de datos. Usuario '%1', Conexión '%2'")
                              .arg(_user).arg(_connectionID), KT::BugMessage, parseLocation);
        _dbController->rollback();
        writeRequestFailure(firstAction(root), tr("No se pudieron guardar los cambios en la base de datos. "
                                                  "Intente nuevamente."));
        return;
    }
    if (schedule.isValid())
        emit scheduleRequested(schedule);
    requestCommitted(responses, logins);
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

void KTTcpSocket::processLockRequest(const QDomElement& root)
{
    if (lockRefused(root))
        return;
    beginRequest();
    const auto ended = qScopeGuard([this] { endRequest(); });
    const QSqlQuery locked = _dbController->lock(list(root, "Tables"), list(root, "Aliases"), list(root, "Modes"));
    _transactionModifiers.clear();
    _lastKeysMap.clear();
    _tasksChanged = false;
    if (!locked.isActive()) {
        // Running the actions unlocked would give the client the opposite of what it asked for.
        _dbController->unlock();
        emit eventMessage(tr("No se pudieron bloquear las tablas '%1'. Usuario '%2', Conexión '%3'. Error de BD : '%4'")
                              .arg(root.attribute(QStringLiteral("Tables")), _user).arg(_connectionID)
                              .arg(locked.lastError().databaseText()), KT::WarningMessage, parseLocation);
        writeRequestFailure(firstAction(root), tr("No se pudieron bloquear las tablas solicitadas. Error de BD : '%1'")
                                                   .arg(locked.lastError().databaseText()));
        return;
    }
    QList<QStringList> responses;
    bool ok = true;
    for (QDomElement action = root.firstChildElement(); ok && !action.isNull(); action = action.nextSiblingElement()) {
        ok = runAction(action, QString(), &responses);
        if (!ok)
            rollBack(action.tagName());
    }
    const QSqlQuery unlocked = _dbController->unlock();
    if (ok && !unlocked.isActive()) {
        emit eventMessage(tr("No se pudo realizar Commit en la base de datos. Usuario '%1', Conexión '%2'")
                              .arg(_user).arg(_connectionID), KT::BugMessage, parseLocation);
        writeRequestFailure(firstAction(root), tr("No se pudieron guardar los cambios en la base de datos. "
                                                  "Intente nuevamente."));
        return;
    }
    if (ok)
        requestCommitted(responses, QString());
}

// Calls the component an action names; false when the request has failed.
// firstTransaction is empty for the actions of a lock request, which carry no such key.
bool KTTcpSocket::runAction(const QDomElement& action, const QString& firstTransaction,
                            QList<QStringList>* responses)
{
    QMultiMap<QString, QString> params = actionParameters(action, firstTransaction);
    KTSercomBase* component = _sercomMap.value(action.tagName());
    if (!component) {
        const QString message = tr("Usuario '%1' con ID de Conexión '%2', solicitó acción '%3' no existente en la lista "
                                   "de objetos permitidos.").arg(_user).arg(_connectionID).arg(action.tagName());
        writeRequestFailure(action, tr("No se encontró la acción %1 en el servidor").arg(action.tagName()), message);
        emit eventMessage(message, KT::WarningMessage, parseLocation);
        return false;
    }
    if (actionRefused(action, params))
        return false;
    KTAccessPolicy::addRecordConditions(_accessList, action.tagName(), &params);
    const QString reply = component->processRequest(params);
    if (!component->lastResult()) {
        if (!statementCut(action))
            writeData(reply, _compressionFactor, component->lastMessage(), RequestAction);
        return false;
    }
    responses->append({QString::number(_connectionID), action.attribute(QStringLiteral("ObjectName")), reply,
                       component->lastMessage(),
                       component->broadcast() ? QStringLiteral("1") : QStringLiteral("0")});
    return true;
}

// An action the policy refuses gets a failure reply and a warning naming
// who asked for what.
bool KTTcpSocket::actionRefused(const QDomElement& action, const QMultiMap<QString, QString>& params)
{
    const QString refusal = KTAccessPolicy::actionRefusal(
        _accessList, action.tagName(), params, _dbController->dbParameters().value(KTDatabaseController::DatabaseName));
    if (refusal.isEmpty())
        return false;
    const QString objectName = action.attribute(QStringLiteral("ObjectName"));
    writeRequestFailure(action, tr("%1 > Acción '%2' rechazada. %3").arg(objectName, action.tagName(), refusal));
    emit eventMessage(tr("Acción '%1' rechazada al usuario '%2' con ID de Conexión '%3' en el componente '%4' : %5")
                          .arg(action.tagName(), _user).arg(_connectionID).arg(objectName, refusal),
                      KT::WarningMessage, parseLocation);
    return true;
}

bool KTTcpSocket::lockRefused(const QDomElement& root)
{
    QStringList objectNames;
    for (QDomElement action = root.firstChildElement(); !action.isNull(); action = action.nextSiblingElement())
        objectNames << action.attribute(QStringLiteral("ObjectName"));
    const QString refusal = KTAccessPolicy::lockRefusal(_accessList, list(root, "Tables"), list(root, "Aliases"),
                                                        list(root, "Modes"), objectNames,
                                                        _dbController->dbParameters().value(KTDatabaseController::DatabaseName));
    if (refusal.isEmpty())
        return false;
    const QDomElement action = firstAction(root);
    writeRequestFailure(action, tr("Bloqueo de tablas rechazado. %1").arg(refusal));
    emit eventMessage(tr("Bloqueo de tablas '%1' rechazado al usuario '%2' con ID de Conexión '%3' en el componente "
                         "'%4' : %5").arg(root.attribute(QStringLiteral("Tables")), _user).arg(_connectionID)
                          .arg(action.attribute(QStringLiteral("ObjectName")), refusal),
                      KT::WarningMessage, parseLocation);
    return true;
}

QMultiMap<QString, QString> KTTcpSocket::actionParameters(const QDomElement& action,
                                                          const QString& firstTransaction) const
{
    QMultiMap<QString, QString> params;
    params.insert(QStringLiteral("_UserLogin"), _user);
    params.insert(QStringLiteral("_Group"), _group);
    params.insert(QStringLiteral("_UserCod"), _userCod);
    params.insert(QStringLiteral("_UserType"), QString::number(_userType));
    for (const char* attribute : {"ObjectType", "ObjectName", "ObjectNameEmbedded"})
        params.insert(QLatin1Char('_') + QLatin1String(attribute), action.attribute(QLatin1String(attribute)));
    if (!firstTransaction.isEmpty())
        params.insert(QStringLiteral("_FirstTransaction"), firstTransaction);
    for (QDomElement child = action.firstChildElement(); !child.isNull(); child = child.nextSiblingElement())
        params.insert(child.tagName(), child.text());
    return params;
}

void KTTcpSocket::rollBack(const QString& actionName)
{
    if (!_dbController->rollback())
        emit eventMessage(tr("No se pudo realizar Rollback de acción fallida '%1'. Usuario '%2', Conexión '%3'")
                              .arg(actionName, _user).arg(_connectionID), KT::BugMessage, parseLocation);
}

// After the commit: the statistics of every changed table, then the replies.
void KTTcpSocket::requestCommitted(const QList<QStringList>& responses, const QString& logins)
{
    // A table a component only prepared a vector for has nothing to report.
    for (auto it = _transactionModifiers.cbegin(); it != _transactionModifiers.cend(); ++it)
        if (std::any_of(it.value().cbegin(), it.value().cend(), [](int delta) { return delta != 0; }))
            emit updateTableRecordDataModelRequested(it.key(), it.value());
    if (_tasksChanged)
        emit updateTaskScheduler();
    _tasksChanged = false;
    emit broadcastActionRequest(responses, logins);
}

// The failure a request gets when no component answers it: the not-found
// reply's shape, with the client object of the given action.
void KTTcpSocket::writeRequestFailure(const QDomElement& action, const QString& message, const QString& panelMessage)
{
    QString reply;
    QXmlStreamWriter writer(&reply);
    writer.setAutoFormatting(true);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("ActionRequest"));
    writer.writeAttribute(QStringLiteral("ObjectType"), action.attribute(QStringLiteral("ObjectType")));
    writer.writeAttribute(QStringLiteral("ObjectName"), action.attribute(QStringLiteral("ObjectName")));
    writer.writeStartElement(QStringLiteral("LogMessage"));
    writer.writeTextElement(QStringLiteral("Status"), QStringLiteral("0"));
    writer.writeTextElement(QStringLiteral("Message"), message);
    writer.writeEndElement();
    writer.writeEndElement();
    writer.writeEndDocument();
    writeData(reply, _compressionFactor, panelMessage.isEmpty() ? message : panelMessage, RequestAction);
}
