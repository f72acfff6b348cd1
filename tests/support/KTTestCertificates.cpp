#include "KTTestCertificates.h"

#include <QFile>
#include <QProcess>

namespace {

// Small, quick to make, and what Qt and OpenSSL take without options.
const QStringList ecKey{QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                        QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};

} // namespace

KTTestCertificates::KTTestCertificates(const QString& authorityName)
{
    _valid = _dir.isValid()
        && openssl(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + ecKey
                   + QStringList{QStringLiteral("-keyout"), path(QStringLiteral("ca.key")), QStringLiteral("-out"),
                                 authority(), QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                                 QStringLiteral("/CN=") + authorityName})
        && issue(certificate(), key(), QStringLiteral("127.0.0.1"));
}

bool KTTestCertificates::issue(const QString& certificatePath, const QString& keyPath, const QString& host)
{
    const QString request = path(QStringLiteral("request.csr"));
    const QString extensions = path(QStringLiteral("extensions.cnf"));
    QFile file(extensions);
    const QString names = host == QLatin1String("127.0.0.1") ? QStringLiteral("IP:127.0.0.1,DNS:localhost")
                                                             : QStringLiteral("DNS:") + host;
    if (!file.open(QIODevice::WriteOnly)
        || file.write(QStringLiteral("basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\nsubjectAltName=%1\n")
                          .arg(names).toUtf8()) < 0)
        return false;
    file.close();
    return openssl(QStringList{QStringLiteral("req")} + ecKey
                   + QStringList{QStringLiteral("-keyout"), keyPath, QStringLiteral("-out"), request,
                                 QStringLiteral("-subj"), QStringLiteral("/CN=") + host})
        && openssl({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), request, QStringLiteral("-CA"),
                    authority(), QStringLiteral("-CAkey"), path(QStringLiteral("ca.key")),
                    QStringLiteral("-CAcreateserial"), QStringLiteral("-out"), certificatePath, QStringLiteral("-days"),
                    QStringLiteral("2"), QStringLiteral("-extfile"), extensions});
}

bool KTTestCertificates::openssl(const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("openssl"), arguments);
    if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    _error = QStringLiteral("openssl %1: %2 %3").arg(arguments.join(QLatin1Char(' ')), process.errorString(),
                                                     QString::fromLocal8Bit(process.readAll()));
    return false;
}
