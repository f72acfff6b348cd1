#include "KTInstallationPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

const char* const KTInstallationPaths::placesFileName = "OmbrixPaths.cfg";

QString KTInstallationPaths::settingsDirectory()
{
    return place("OMBRIX_CONFIG_DIR", QStringLiteral("Places/Settings"), QDir::currentPath());
}

QString KTInstallationPaths::stateDirectory()
{
    return place("OMBRIX_STATE_DIR", QStringLiteral("Places/State"), QDir::currentPath());
}

QString KTInstallationPaths::logDirectory()
{
    return place("OMBRIX_LOG_DIR", QStringLiteral("Places/Logs"), QDir::current().filePath(QStringLiteral("logs")));
}

QString KTInstallationPaths::serverSettingsFile()
{
    return QDir(settingsDirectory()).filePath(QStringLiteral("OmbrixServer.cfg"));
}

QString KTInstallationPaths::systemObjectsFile()
{
    return QDir(settingsDirectory()).filePath(QStringLiteral("OmbrixSystemObjects.cfg"));
}

QString KTInstallationPaths::panelLayoutFile()
{
    return QDir(stateDirectory()).filePath(QStringLiteral("OmbrixServerUI.cfg"));
}

QString KTInstallationPaths::downloadsDirectory()
{
    return QDir(stateDirectory()).filePath(QStringLiteral("Downloads"));
}

// Read at every call: the programs ask a handful of times, and a test or an
// operator may change the environment between two runs of the same code.
QString KTInstallationPaths::place(const char* variable, const QString& key, const QString& fallback)
{
    const QString fromEnvironment = qEnvironmentVariable(variable);
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    // The programs' folder is known once the application object exists; a
    // program asking before that has no packaged places.
    if (QCoreApplication::instance()) {
        const QString placesFile = QDir(QCoreApplication::applicationDirPath()).filePath(QLatin1String(placesFileName));
        if (QFileInfo::exists(placesFile)) {
            const QString packaged = QSettings(placesFile, QSettings::IniFormat).value(key).toString();
            if (!packaged.isEmpty())
                return packaged;
        }
    }
    return fallback;
}
