#include "KTNegotiationHandler.h"

#include "KTConnectionSession.h"
#include "KTReplyChannel.h"
#include "KTReplyXml.h"
#include "KTUserList.h"

#include <KT.h>
#include <KTVersion.h>

#include <QFile>
#include <QSettings>

namespace {

const QString location = QStringLiteral("KTTcpSocket::processNegotiationRequest()");

} // namespace

KTNegotiationHandler::KTNegotiationHandler(KTConnectionSession& session, KTReplyChannel& channel,
                                           const QString& companyName, const QString& connectivityPassword)
    : _session(session)
    , _channel(channel)
    , _companyName(companyName)
    , _connectivityPassword(connectivityPassword)
{
}

void KTNegotiationHandler::handle(const QString& peerAddress, const QMap<QString, QString>& params)
{
    _session.clientIP = QStringLiteral("%1 / %2").arg(peerAddress, params.value(QStringLiteral("ClientIP")));
    _session.clientMAC = params.value(QStringLiteral("ClientMAC"));
    _session.clientVersion = params.value(QStringLiteral("ClientVersion"));
    _session.compressionFactor = params.value(QStringLiteral("CompressionFactor")).toInt();
    _session.operatingSystem = params.value(QStringLiteral("OperatingSystem"));
    _session.packMaxCount = params.value(QStringLiteral("PackMaxCount")).toInt();
    if (refused(params))
        return;

    const QString message = tr("Negociación Exitosa !");
    emit eventMessage(message, KT::SuccessMessage, location);
    reply(true, message, QString());
    _session.completeNegotiation();
}

bool KTNegotiationHandler::refused(const QMap<QString, QString>& params)
{
    const QString password = params.value(QStringLiteral("CompanyPassword"));
    const QString company = params.value(QStringLiteral("Company")).simplified();
    if (password != _connectivityPassword || company != _companyName) {
        reply(false, tr("Password de empresa incorrecto! Contáctese con el administrador de sistemas."), QString());
        // The password a client sent is never written to the log, right or wrong.
        emit eventMessage(tr("Negociación iniciada por la conexión '%1' no tuvo éxito. SO: '%2', Empresa : '%3'. "
                             "Password : '%4'").arg(_session.connectionID)
                              .arg(_session.operatingSystem, company,
                                   password.isEmpty() ? tr("(vacío)") : tr("(recibido, oculto)")),
                          KT::ErrorMessage, location);
        _channel.requestClose();
        return true;
    }
    // A client refused for its version may still take the client program.
    _session.acceptCompany();
    const int compression = _session.compressionFactor;
    if (_session.packMaxCount < 1 || compression < 0 || compression > 9) {
        reply(false, tr("Parámetros de conexión incorrectos !"), QString());
        emit eventMessage(tr("Negociación iniciada por la conexión '%1' recibió parámetros erróneos. PackMaxCount: '%2', "
                             "CompressionFactor : '%3'.").arg(_session.connectionID).arg(_session.packMaxCount)
                              .arg(compression), KT::BugMessage, location);
        _channel.requestClose();
        return true;
    }
    return versionRefused();
}

bool KTNegotiationHandler::versionRefused()
{
    const QString minimum = minimumClientVersion();
    const QString builtIn = KTVersion::ombrixClientVersionSimplified();
    const QString message = tr("Servidor requiere mínimo la versión '%1' de OmbrixClient.").arg(builtIn);
    if (!minimum.isEmpty() && _session.clientVersion < minimum) {
        reply(false, message,
              tr("Servidor requiere mínimo la versión '%1' de OmbrixClient.\nDesea actualizar OmbrixClient "
                 "desde OmbrixServer ?\nSi lo prefiere, puede actualizar su versión desde la página web")
                      .arg(minimum) + QLatin1Char(' ') + KTVersion::vendorWebAddress());
        emit eventMessage(message, KT::InformationMessage, location);
        return true;
    }
    if (minimum.isEmpty() && KTVersion::lessThan(_session.clientVersion, builtIn)) {
        reply(false, message, QString());
        emit eventMessage(message, KT::InformationMessage, location);
        _channel.requestClose();
        return true;
    }
    return false;
}

QString KTNegotiationHandler::minimumClientVersion() const
{
    const QString path = _context.applicationDirectory + QStringLiteral("/Downloads/ClientVersion.txt");
    if (!QFile::exists(path))
        return QString();
    QSettings settings(path, QSettings::IniFormat);
    return KTVersion::simplifiedVersion(settings.value(QStringLiteral("ClientValues/ClientVersion")).toString());
}

void KTNegotiationHandler::reply(bool success, const QString& message, const QString& messageBox)
{
    const QList<KTUserList::User> users = success && _context.userList ? _context.userList->users()
                                                                        : QList<KTUserList::User>();
    _channel.writeReply(KTReplyXml::negotiation(success, message, messageBox, users), message,
                        KTReplyChannel::NegotiationAction);
}
