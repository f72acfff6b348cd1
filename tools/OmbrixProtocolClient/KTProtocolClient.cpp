#include "KTProtocolClient.h"

#include <KTFrame.h>

#include <QDeadlineTimer>
#include <QDomDocument>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QXmlStreamWriter>

namespace {

// A frame that takes longer than this to leave is taken as a dead connection.
constexpr int writeTimeoutMs = 30000;
constexpr int closeTimeoutMs = 3000;

// A request document being written: declaration and indented elements, as
// the server writes its own replies.
class Document
{
public:
    explicit Document(const QString& root)
        : _writer(&_text)
    {
        _writer.setAutoFormatting(true);
        _writer.writeStartDocument();
        _writer.writeStartElement(root);
    }

    QXmlStreamWriter& writer() { return _writer; }

    QString finish()
    {
        _writer.writeEndDocument();
        return _text;
    }

    void parameters(const QMap<QString, QString>& params)
    {
        for (auto it = params.cbegin(); it != params.cend(); ++it)
            _writer.writeTextElement(it.key(), it.value());
    }

    void attributeIfSet(const QString& name, const QString& value)
    {
        if (!value.isEmpty())
            _writer.writeAttribute(name, value);
    }

    void actions(const QList<KTProtocolClient::Action>& actions)
    {
        for (const KTProtocolClient::Action& action : actions) {
            _writer.writeStartElement(action.component);
            attributeIfSet(QStringLiteral("ObjectType"), action.objectType);
            attributeIfSet(QStringLiteral("ObjectName"), action.objectName);
            attributeIfSet(QStringLiteral("ObjectNameEmbedded"), action.objectNameEmbedded);
            for (const auto& parameter : action.parameters)
                _writer.writeTextElement(parameter.first, parameter.second);
            _writer.writeEndElement();
        }
    }

private:
    QString _text;
    QXmlStreamWriter _writer;
};

QString parameterDocument(const QString& root, const QMap<QString, QString>& params)
{
    Document document(root);
    document.parameters(params);
    return document.finish();
}

} // namespace

KTProtocolClient::KTProtocolClient(QObject* parent)
    : QObject(parent)
    , _socket(new QSslSocket(this))
    , _maxFrameSize(KTFrame::defaultMaxSize)
{
    // The blocking calls below read through the same slot, so frames are
    // taken exactly once whichever way the bytes were noticed.
    connect(_socket, &QSslSocket::readyRead, this, &KTProtocolClient::takeFrames);
}

KTProtocolClient::~KTProtocolClient() = default;

bool KTProtocolClient::connectToServer(const QString& host, quint16 port, int timeoutMs)
{
    _socket->abort();
    _frames.clear();
    _blockSize = 0;
    _errorString.clear();
    if (_tls)
        return handshake(host, port, timeoutMs);
    _socket->connectToHost(host, port);
    if (!_socket->waitForConnected(timeoutMs)) {
        _errorString = tr("No se pudo conectar con %1:%2. %3").arg(host).arg(port).arg(_socket->errorString());
        _socket->abort();
        return false;
    }
    // Requests are small and each one waits for its answer.
    _socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return true;
}

bool KTProtocolClient::setTls(bool enabled, const QString& caFile, bool insecure)
{
    _tls = enabled;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    configuration.setPeerVerifyMode(insecure ? QSslSocket::VerifyNone : QSslSocket::VerifyPeer);
    bool read = true;
    if (!caFile.isEmpty()) {
        const QList<QSslCertificate> authorities = QSslCertificate::fromPath(caFile, QSsl::Pem);
        read = !authorities.isEmpty();
        configuration.addCaCertificates(authorities);
    }
    _socket->setSslConfiguration(configuration);
    return read;
}

// The host name given is the one the certificate must name.
bool KTProtocolClient::handshake(const QString& host, quint16 port, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    _socket->connectToHostEncrypted(host, port);
    if (_socket->waitForEncrypted(int(qMax<qint64>(deadline.remainingTime(), 1)))) {
        _socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        return true;
    }
    QStringList reasons;
    for (const QSslError& error : _socket->sslHandshakeErrors())
        reasons << error.errorString();
    if (reasons.isEmpty())
        reasons << _socket->errorString();
    _errorString = tr("No se pudo establecer una conexión cifrada con %1:%2. %3")
                       .arg(host).arg(port).arg(reasons.join(QStringLiteral("; ")));
    _socket->abort();
    return false;
}

void KTProtocolClient::disconnectFromServer()
{
    if (_socket->state() == QAbstractSocket::UnconnectedState)
        return;
    // Frames still being written go out before the connection closes.
    _socket->disconnectFromHost();
    if (_socket->state() != QAbstractSocket::UnconnectedState && !_socket->waitForDisconnected(closeTimeoutMs))
        _socket->abort();
}

bool KTProtocolClient::isConnected() const
{
    return _socket->state() == QAbstractSocket::ConnectedState;
}

bool KTProtocolClient::send(const QString& xml, int compressionLevel)
{
    if (!isConnected()) {
        _errorString = tr("No hay conexión con el servidor.");
        return false;
    }
    _errorString.clear();
    const QByteArray frame = KTFrame::encode(xml, compressionLevel);
    bool written = _socket->write(frame) == frame.size();
    const QDeadlineTimer deadline(writeTimeoutMs);
    while (written && _socket->bytesToWrite() > 0)
        written = _socket->waitForBytesWritten(int(deadline.remainingTime()));
    if (!written) {
        // Whatever the server answered before the failure is kept; a bad
        // frame among it is the better explanation of a lost connection.
        const QString reason = _socket->errorString();
        takeFrames();
        if (_errorString.isEmpty())
            fail(tr("No se pudo enviar la trama al servidor. %1").arg(reason));
        return false;
    }
    return true;
}

bool KTProtocolClient::waitForReply(QString* reply, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    takeFrames();
    while (_frames.isEmpty() && isConnected() && !deadline.hasExpired()) {
        _socket->waitForReadyRead(int(deadline.remainingTime()));
        // readyRead is not emitted again while a slot of it is running, so
        // a caller waiting from inside frameReceived still gets its frames.
        takeFrames();
    }
    if (_frames.isEmpty())
        return false;
    const QString text = _frames.dequeue();
    if (reply)
        *reply = text;
    return true;
}

QStringList KTProtocolClient::replies(int idleMs)
{
    takeFrames();
    while (isConnected() && _socket->waitForReadyRead(idleMs))
        takeFrames();
    takeFrames();
    QStringList texts(_frames.cbegin(), _frames.cend());
    _frames.clear();
    return texts;
}

bool KTProtocolClient::waitForDisconnected(int timeoutMs)
{
    takeFrames();
    const bool closed =
        _socket->state() == QAbstractSocket::UnconnectedState || _socket->waitForDisconnected(timeoutMs);
    takeFrames();
    return closed;
}

void KTProtocolClient::clearReplies()
{
    _frames.clear();
}

void KTProtocolClient::setMaxFrameSize(qint64 bytes)
{
    _maxFrameSize = bytes;
}

void KTProtocolClient::takeFrames()
{
    QByteArray payload;
    for (;;) {
        const KTFrame::ReadStatus status = KTFrame::read(_socket, _blockSize, _maxFrameSize, &payload);
        if (status == KTFrame::NeedMore)
            return;
        if (status == KTFrame::TooLarge) {
            fail(tr("El servidor anunció una trama de más de %1 bytes.").arg(_maxFrameSize));
            return;
        }
        bool ok = false;
        const QString text = KTFrame::decode(payload, _maxFrameSize, &ok);
        if (!ok) {
            // The frame boundaries are still known, but a peer that sends
            // garbage is not one to keep talking to.
            fail(tr("El servidor envió una trama que no pudo descomprimirse."));
            return;
        }
        _frames.enqueue(text);
        emit frameReceived(text);
    }
}

void KTProtocolClient::fail(const QString& message)
{
    _errorString = message;
    _blockSize = 0;
    _socket->abort();
}

QString KTProtocolClient::negotiation(const QMap<QString, QString>& params)
{
    return parameterDocument(QStringLiteral("NegotiateConnection"), params);
}

QString KTProtocolClient::keepAlive()
{
    return Document(QStringLiteral("KeepAlive")).finish();
}

QString KTProtocolClient::login(const QString& identifierType, const QString& login, const QString& password,
                                const QMap<QString, QString>& extra)
{
    Document document(QStringLiteral("Authenticate"));
    QXmlStreamWriter& writer = document.writer();
    writer.writeTextElement(QStringLiteral("IdentifierType"), identifierType);
    writer.writeTextElement(QStringLiteral("Login"), login);
    writer.writeTextElement(QStringLiteral("Password"), password);
    document.parameters(extra);
    return document.finish();
}

QString KTProtocolClient::actionRequest(const QList<Action>& actions, const QStringList& broadcastLogins)
{
    Document document(QStringLiteral("ActionRequest"));
    document.actions(actions);
    // Last, so that the first action stays the first child of the request
    // (the server marks the child at position 0 as the first transaction).
    if (!broadcastLogins.isEmpty()) {
        document.writer().writeEmptyElement(QStringLiteral("BroadcastUsers"));
        document.writer().writeAttribute(QStringLiteral("Logins"), broadcastLogins.join(QLatin1Char(',')));
    }
    return document.finish();
}

QString KTProtocolClient::lockRequest(const QStringList& tables, const QStringList& aliases,
                                      const QStringList& modes, const QList<Action>& actions)
{
    Document document(QStringLiteral("LockRequest"));
    QXmlStreamWriter& writer = document.writer();
    writer.writeAttribute(QStringLiteral("Tables"), tables.join(QLatin1Char(',')));
    writer.writeAttribute(QStringLiteral("Aliases"), aliases.join(QLatin1Char(',')));
    writer.writeAttribute(QStringLiteral("Modes"), modes.join(QLatin1Char(',')));
    document.actions(actions);
    return document.finish();
}

QString KTProtocolClient::objectStatus(const QString& objectName, bool active)
{
    Document document(QStringLiteral("ObjectStatus"));
    document.writer().writeAttribute(QStringLiteral("Active"), active ? QStringLiteral("1") : QStringLiteral("0"));
    document.writer().writeAttribute(QStringLiteral("ObjectName"), objectName);
    return document.finish();
}

QString KTProtocolClient::requestUpdate(const QMap<QString, QString>& fileDigests)
{
    return parameterDocument(QStringLiteral("RequestUpdate"), fileDigests);
}

QString KTProtocolClient::schedule(const QMap<QString, QString>& params)
{
    return parameterDocument(QStringLiteral("Schedule"), params);
}

QString KTProtocolClient::element(const QString& xml, const QString& tag)
{
    QDomDocument document;
    if (!document.setContent(xml))
        return QString();
    const QDomNodeList found = document.elementsByTagName(tag);
    return found.isEmpty() ? QString() : found.at(0).toElement().text();
}

QString KTProtocolClient::rootTag(const QString& xml)
{
    QDomDocument document;
    if (!document.setContent(xml))
        return QString();
    return document.documentElement().tagName();
}
