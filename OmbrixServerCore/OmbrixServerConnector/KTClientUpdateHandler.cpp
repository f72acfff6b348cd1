#include "KTClientUpdateHandler.h"

#include "KTConnectionSession.h"
#include "KTReplyChannel.h"
#include "KTReplyXml.h"

#include <KT.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSettings>

KTClientUpdateHandler::KTClientUpdateHandler(const KTConnectionSession& session, KTReplyChannel& channel)
    : _session(session)
    , _channel(channel)
{
}

// Served in every state, so that a client refused for its version can update.
void KTClientUpdateHandler::handle(const QMap<QString, QString>& params)
{
    _success = true;
    const QString root = _applicationDirectory + QStringLiteral("/Downloads");
    const QString& platform = _session.operatingSystem;
    // The platform names one folder of the download area and nothing else.
    if (!platform.contains(QLatin1Char('/')) && !platform.contains(QLatin1String(".."))
        && !platform.contains(QLatin1Char('\\')))
        sendFolder(params, root + QStringLiteral("/OmbrixClient-") + platform, root);

    const QString message = _success ? tr("Se envió con éxito todos los componentes de Ombrix Client")
                                     : tr("Hubo errores en la actualización de uno o más componentes de Ombrix Client");
    reply(QStringLiteral("UpdateEnd"), {{QStringLiteral("Status"), _success ? "1" : "0"},
                                        {QStringLiteral("Message"), message}});
    emit eventMessage(tr("%1 en la conexión con ID : %2").arg(message).arg(_session.connectionID),
                      _success ? KT::SuccessMessage : KT::WarningMessage,
                      QStringLiteral("KTTcpSocket::processUpdateRequest()"));
}

void KTClientUpdateHandler::sendFolder(const QMap<QString, QString>& params, const QString& folder,
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
        sendFile(folder, name, params.value(name, QStringLiteral("-")), parts.value(1));
    }
    for (const QString& subfolder : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks | QDir::Hidden,
                                                  QDir::Unsorted))
        if (subfolder != QLatin1String("Downloads"))
            sendFolder(params, folder + QLatin1Char('/') + subfolder, root);
}

void KTClientUpdateHandler::sendFile(const QString& folder, const QString& name, const QString& clientSha1,
                                     const QString& relativePath)
{
    _channel.waitForBacklog();
    QFile file(folder + QLatin1Char('/') + name);
    if (!file.open(QIODevice::ReadOnly)) {
        _success = false;
        reply(QStringLiteral("UpdateFile"),
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
    reply(QStringLiteral("UpdateFile"), children);
}

void KTClientUpdateHandler::reply(const QString& tag, const QList<QPair<QString, QString> >& children)
{
    QString message;
    for (const auto& child : children)
        if (child.first == QLatin1String("Message"))
            message = child.second;
    _channel.writeReply(KTReplyXml::flat(tag, children), message, KTReplyChannel::UpdateAction);
}
