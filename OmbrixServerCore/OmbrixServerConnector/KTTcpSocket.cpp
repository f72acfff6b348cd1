#include "KTTcpSocket.h"

#include "KTFrame.h"

#include <KT.h>
#include <KTAuthcomBase.h>
#include <KTDatabaseController.h>
#include <KTSercomBase.h>

#include <QDateTime>
#include <QXmlStreamWriter>

namespace {

const QString parseLocation = QStringLiteral("KTTcpSocket::parseXML()");

} // namespace

KTTcpSocket::KTTcpSocket(const QStringList& dbParams, const QStringList& unitParams, QObject* parent)
    : QTcpSocket(parent)
    , _maxFrameSize(KTFrame::defaultMaxSize)
    , _dbParams(dbParams)
{
    _dbController = new KTDatabaseController(this);
    _companyName = unitParams.value(0);
    _connectivityPassword = unitParams.value(1);
    _systemObjects = unitParams.value(2).split(QLatin1Char(','));
    _systemObjectsClient = unitParams.value(3).split(QLatin1Char(','));
    connect(_dbController, &KTDatabaseController::eventMessage, this, &KTTcpSocket::eventMessage);
    connect(_dbController, &KTDatabaseController::updateTableRecordDataModelRequested, this,
            &KTTcpSocket::updateTableRecordDataModelRequested);
    connect(this, &QTcpSocket::readyRead, this, qOverload<>(&KTTcpSocket::readData));
}

KTTcpSocket::~KTTcpSocket()
{
    qDeleteAll(_authcomMap);
    qDeleteAll(_sercomMap);
}

void KTTcpSocket::setMaxFrameSize(qint64 bytes)
{
    _maxFrameSize = bytes;
}

void KTTcpSocket::setDbConnection(int connectionID, QMap<QString, KTDbTable*> dbDefinitionMap)
{
    _connectionID = connectionID;
    if (!_dbController->establishConnection(QStringList{QString::number(connectionID)} + _dbParams)) {
        emit eventMessage(tr("No pudo generarse un enlace con la Base de Datos desde la conexión : '%1'")
                              .arg(connectionID), KT::ClientErrorMessage, QStringLiteral("KTTcpSocket::setDbConnection()"));
        closeConnection();
        return;
    }
    _dbController->setDbDefinitionMap(dbDefinitionMap);
}

void KTTcpSocket::closeConnection()
{
    _dbController->closeConnection(QString::number(_connectionID));
    if (state() != UnconnectedState && state() != ClosingState)
        disconnectFromHost();
}

// Frames already received are handled in a loop, so that a burst of small
// frames cannot deepen the stack.
void KTTcpSocket::readData()
{
    while (state() == ConnectedState) {
        QByteArray payload;
        const KTFrame::ReadStatus status = KTFrame::read(this, _blockSize, _maxFrameSize, &payload);
        if (status == KTFrame::NeedMore)
            return;
        if (status == KTFrame::TooLarge) {
            emit eventMessage(tr("La conexión : '%1' anunció un mensaje mayor al permitido (%2 bytes); se cierra la conexión")
                                  .arg(_connectionID).arg(_maxFrameSize), KT::ErrorMessage,
                              QStringLiteral("KTTcpSocket::readData()"));
            abort();
            closeConnection();
            return;
        }
        parseXML(KTFrame::decode(payload, _maxFrameSize));
    }
}

void KTTcpSocket::writeData(const QString& data, int compressionFactor, const QString& messageToPanel, int role)
{
    qDebug().noquote() << data;
    const QByteArray frame = KTFrame::encode(data, compressionFactor == -1 ? _compressionFactor : compressionFactor);
    const qint64 written = write(frame);
    const QDateTime now = QDateTime::currentDateTime();
    emit actionRequested(_connectionID, _user, now.toString(QStringLiteral("yyyy-MM-dd")),
                         now.toString(QStringLiteral("hh:mm:ss")), _clientIP, _clientMAC, role,
                         quint64(qMax<qint64>(written, 0)), messageToPanel);
}

void KTTcpSocket::parseXML(const QString& text)
{
    QDomDocument document;
    QString message;
    int line = 0;
    int column = 0;
    const bool tooDeep = KTFrame::tooDeep(text);
    if (tooDeep)
        message = tr("el documento anida demasiados elementos");
    if (tooDeep || !document.setContent(text, false, &message, &line, &column)) {
        emit eventMessage(tr("XML recibido por la conexión : '%1' tiene un error en la línea %2 y columna %3. "
                             "Detalle del parser : '%4'").arg(_connectionID).arg(line).arg(column).arg(message),
                          KT::ErrorMessage, parseLocation);
        disconnectFromHost();
        return;
    }
    dispatch(document.documentElement());
}

void KTTcpSocket::dispatch(const QDomElement& root)
{
    const QString tag = root.tagName();
    if (tag == QLatin1String("NegotiateConnection") || tag == QLatin1String("RequestUpdate")) {
        // Served by the negotiation and client update steps of the protocol.
    } else if (tag == QLatin1String("ObjectStatus")) {
        processObjectStatus(root);
    } else if (tag == QLatin1String("KeepAlive")) {
        processKeepAlive();
    } else if (tag == QLatin1String("Authenticate")) {
        processAuthenticate(root);
    } else if (tag == QLatin1String("Schedule")) {
        processSchedule(root);
    } else if (tag == QLatin1String("ActionRequest") || tag == QLatin1String("LockRequest")) {
        if (!_connectionAuthenticated)
            refuse(QStringLiteral("ActionRequest"), tr("Conexión no fue autenticada exitosamente."), RequestAction);
    } else {
        emit eventMessage(tr("XML recibido por la conexión : '%1' no contiene protocolo OMX").arg(_connectionID),
                          KT::ErrorMessage, parseLocation);
    }
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
    if (!_connectionNegotiated) {
        refuse(QStringLiteral("Authenticate"), tr("Conexión no fue negociada exitosamente."), AuthenticationAction);
        return;
    }
    QMap<QString, QString> params{{QStringLiteral("ClientObjects"), _systemObjectsClient.join(QLatin1Char(','))}};
    params.insert(parameters(root));
    KTAuthcomBase* authcom = _authcomMap.value(params.value(QStringLiteral("IdentifierType")));
    if (!authcom)
        return;
    const QString reply = authcom->authenticate(params);
    _connectionAuthenticated = authcom->authenticated();
    _user = _connectionAuthenticated ? authcom->user() : QStringLiteral("?");
    _userCod = _connectionAuthenticated ? authcom->userCod() : QString();
    _userType = _connectionAuthenticated ? authcom->userType() : 0;
    _group = _connectionAuthenticated ? authcom->group() : QString();
    writeData(reply, _compressionFactor, authcom->lastMessage(), AuthenticationAction);
}

void KTTcpSocket::processSchedule(const QDomElement& root)
{
    if (!_connectionNegotiated) {
        refuse(QStringLiteral("Schedule"), tr("Conexión no fue negociada exitosamente."), AuthenticationAction);
        return;
    }
    QMap<QString, QVariant> schedule;
    const QMap<QString, QString> params = parameters(root);
    for (auto it = params.cbegin(); it != params.cend(); ++it)
        schedule.insert(it.key(), it.value());
    emit scheduleRequested(QVariant(schedule));
}

// A refusal for a request the connection's state does not allow yet: it is
// answered, reported and the connection closed.
void KTTcpSocket::refuse(const QString& root, const QString& message, int role)
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
    writeData(reply, _compressionFactor, message, role);
    emit eventMessage(message, KT::WarningMessage, parseLocation);
    closeConnection();
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
