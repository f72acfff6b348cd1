#include "KTBrokerAddress.h"

#include <QCoreApplication>
#include <QUrl>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("KTBrokerAddress", text);
}

} // namespace

KTBrokerAddress KTBrokerAddress::parse(const QString& text)
{
    KTBrokerAddress address;
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    if (url.scheme() == QLatin1String("rediss")) {
        address._error = tr("TLS no está disponible en esta versión del cliente Redis");
        return address;
    }
    if (!url.isValid() || url.scheme() != QLatin1String("redis") || url.host().isEmpty()) {
        address._error = tr("la dirección debe tener la forma redis://servidor:puerto");
        return address;
    }
    const int port = url.port(defaultPort);
    if (port <= 0 || port > 65535) {
        address._error = tr("puerto no válido");
        return address;
    }
    address._host = url.host();
    address._port = quint16(port);
    address._user = url.userName();
    address._password = url.password();
    return address;
}
