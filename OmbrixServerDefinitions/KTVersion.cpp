#include "KTVersion.h"

#include "KT.h"

#include <QDir>
#include <QRegularExpression>
#include <QStringList>

namespace {

// The three numeric parts of a release; missing or non-numeric parts count 0.
QList<int> versionParts(const QString& version)
{
    const QStringList parts = version.split(QLatin1Char('.'));
    QList<int> numbers;
    for (int i = 0; i < 3; ++i)
        numbers << (i < parts.size() ? parts.at(i).toInt(nullptr, 10) : 0);
    return numbers;
}

}

KTVersion::KTVersion(QObject* parent)
    : QObject(parent)
{
}

QString KTVersion::ombrixServerVersion() { return QStringLiteral("01.31.00"); }
QString KTVersion::ombrixServerVersionSimplified() { return simplifiedVersion(ombrixServerVersion()); }
QString KTVersion::ombrixClientVersion() { return QStringLiteral("02.08.01"); }
QString KTVersion::ombrixClientVersionSimplified() { return simplifiedVersion(ombrixClientVersion()); }
QString KTVersion::ombrixServerAlias() { return QStringLiteral("VARD - The Beggining"); }
// The password of the super users belongs to the deployment, like the upgrade
// account: OMBRIX_SERVER_PASSWORD replaces the built-in one, in plain or hashed
// form. An empty value would let anyone in, so it keeps the built-in one.
QString KTVersion::ombrixServerPassword()
{
    const QString password = qEnvironmentVariable("OMBRIX_SERVER_PASSWORD");
    return password.isEmpty() ? QStringLiteral("qvm482tel59") : password;
}
QString KTVersion::dbUserName() { return QStringLiteral("OmbrixAdm"); }

QString KTVersion::operatingSystem()
{
    return QString::number(OMBRIX_BUILD_PLATFORM);
}

QString KTVersion::operatingSystemLiteral()
{
    return operatingSystemLiteral(operatingSystem().toInt());
}

QString KTVersion::operatingSystemLiteral(int os)
{
    switch (os) {
    case KT::Linux32: return QStringLiteral("Linux32");
    case KT::Linux64: return QStringLiteral("Linux64");
    case KT::Windows32: return QStringLiteral("Windows32");
    case KT::Windows64: return QStringLiteral("Windows64");
    default: return QString();
    }
}

// The upgrade host belongs to the deployment, not to the code: an installation
// (or a test) points the server elsewhere through OMBRIX_UPGRADE_HOST.
QString KTVersion::upgradeHost()
{
    const QString host = qEnvironmentVariable("OMBRIX_UPGRADE_HOST");
    return host.isEmpty() ? QStringLiteral("actualizaciones.ombrix.com") : host;
}

QString KTVersion::vendorWebAddress()
{
    const QString address = qEnvironmentVariable("OMBRIX_WEB_ADDRESS");
    return address.isEmpty() ? QStringLiteral("https://www.ombrix.com") : address;
}

QString KTVersion::upgradeDatabaseDriver() { return QStringLiteral("QMYSQL"); }
QString KTVersion::upgradeDatabaseName() { return QStringLiteral("OmbrixLicenseDB"); }
// Like the host, the account and port are the deployment's to override.
QString KTVersion::upgradeDatabaseUser()
{
    const QString user = qEnvironmentVariable("OMBRIX_UPGRADE_USER");
    return user.isEmpty() ? QStringLiteral("root") : user;
}

QString KTVersion::upgradeDatabasePassword()
{
    return qEnvironmentVariableIsSet("OMBRIX_UPGRADE_PASSWORD") ? qEnvironmentVariable("OMBRIX_UPGRADE_PASSWORD")
                                                               : QStringLiteral("kd517zq_#*!_314");
}

int KTVersion::upgradeDatabasePort()
{
    bool numeric = false;
    const int port = qEnvironmentVariableIntValue("OMBRIX_UPGRADE_PORT", &numeric);
    return numeric && port > 0 ? port : 3306;
}

QString KTVersion::simplifiedVersion(const QString& version)
{
    const QList<int> parts = versionParts(version);
    return QStringLiteral("%1.%2.%3").arg(parts.at(0)).arg(parts.at(1)).arg(parts.at(2));
}

bool KTVersion::lessThan(const QString& version1, const QString& version2)
{
    auto key = [](const QString& version) {
        const QList<int> parts = versionParts(version);
        // Unsigned arithmetic wraps like the signed key would, without undefined behaviour.
        return qint32(quint32(parts.at(0)) * 10000u + quint32(parts.at(1)) * 100u + quint32(parts.at(2)));
    };
    return key(version1) < key(version2);
}

QString KTVersion::file2Object(const QString& fileName, int os)
{
    switch (os) {
    case KT::NoOperatingSystem:
    case KT::Linux32:
    case KT::Linux64:
        if (!fileName.contains(QLatin1String(".so")))
            return fileName;
        return fileName.section(QLatin1Char('.'), 0, 0).mid(3);
    case KT::Windows32:
    case KT::Windows64: {
        QString name = fileName;
        if (name.endsWith(QLatin1String(".exe")))
            return name.chopped(4);
        if (name.endsWith(QLatin1String(".dll"))) {
            name.chop(4);
            while (!name.isEmpty() && name.back().isDigit() && name.back().unicode() < 128)
                name.chop(1);
        }
        return name;
    }
    default:
        return fileName;
    }
}

bool KTVersion::isPlainFileName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

bool KTVersion::isInsidePath(const QString& relativePath)
{
    static const QRegularExpression separators(QStringLiteral("[/\\\\]"));
    return !QDir::isAbsolutePath(relativePath) && !relativePath.startsWith(QLatin1Char('\\'))
        && !relativePath.contains(QLatin1Char(':')) && !relativePath.split(separators).contains(QStringLiteral(".."));
}
