#include "KTTlsOptions.h"

#include "KTProtocolClient.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

const QString tlsName = QStringLiteral("tls");
const QString caName = QStringLiteral("ca");
const QString insecureName = QStringLiteral("insecure");

QString text(const char* source)
{
    return QCoreApplication::translate("KTTlsOptions", source);
}

} // namespace

QList<QCommandLineOption> KTTlsOptions::options()
{
    return {QCommandLineOption(tlsName, text("Conecta cifrado (TLS) al puerto cifrado del servidor; se verifican "
                                             "su certificado y el nombre del servidor.")),
            QCommandLineOption(caName, text("Confía además en las autoridades del archivo PEM (con --tls)."),
                               QStringLiteral("FILE")),
            QCommandLineOption(insecureName, text("Acepta cualquier certificado sin verificarlo, p. ej. uno "
                                                  "autofirmado de pruebas (con --tls).."))};
}

bool KTTlsOptions::apply(const QCommandLineParser& parser, KTProtocolClient* client, QString* error)
{
    const bool tls = parser.isSet(tlsName);
    if (!tls && (parser.isSet(caName) || parser.isSet(insecureName))) {
        *error = text("--ca y --insecure solo valen con --tls.");
        return false;
    }
    if (!tls)
        return true;
    if (!client->setTls(true, parser.value(caName), parser.isSet(insecureName))) {
        *error = text("El archivo %1 no contiene certificados PEM.").arg(parser.value(caName));
        return false;
    }
    return true;
}
