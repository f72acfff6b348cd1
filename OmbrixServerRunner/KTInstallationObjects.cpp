#include "KTInstallationObjects.h"

#include <KTVersion.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSet>
#include <QSettings>

namespace {

QStringList libraryPatterns()
{
    const int platform = KTVersion::operatingSystem().toInt();
    return platform >= 3 ? QStringList{QStringLiteral("*.dll")} : QStringList{QStringLiteral("lib*.so*")};
}

} // namespace

KTInstallationObjects::KTInstallationObjects(const QString& applicationDirectory)
    : _applicationDirectory(applicationDirectory)
{
}

QStringList KTInstallationObjects::serverObjects() const
{
    const int platform = KTVersion::operatingSystem().toInt();
    QSet<QString> names;
    for (const QString& file : QDir(_applicationDirectory).entryList(libraryPatterns(), QDir::Files))
        names.insert(KTVersion::file2Object(file, platform));
    for (const char* folder : {"OmbrixServerComponents", "OmbrixServerPanets"}) {
        QDirIterator plugins(_applicationDirectory + QLatin1Char('/') + QLatin1String(folder), libraryPatterns(),
                             QDir::Files, QDirIterator::Subdirectories);
        while (plugins.hasNext())
            names.insert(KTVersion::file2Object(QFileInfo(plugins.next()).fileName(), platform));
    }
    QStringList sorted(names.begin(), names.end());
    sorted.sort();
    return sorted;
}

// The second column of the component seed data: the quoted component names.
QStringList KTInstallationObjects::clientObjects() const
{
    QFile components(_applicationDirectory + QStringLiteral("/OmbrixDbData/Data/srvComponent.odd"));
    QStringList names;
    if (!components.open(QIODevice::ReadOnly | QIODevice::Text))
        return names;
    while (!components.atEnd()) {
        QString name = QString::fromUtf8(components.readLine()).section(QLatin1Char('|'), 1, 1).trimmed();
        if (name.size() > 2 && name.startsWith(QLatin1Char('\'')) && name.endsWith(QLatin1Char('\'')))
            name = name.mid(1, name.size() - 2);
        if (name.startsWith(QLatin1String("Component")) && !names.contains(name))
            names << name;
    }
    return names;
}

bool KTInstallationObjects::write(const QString& path) const
{
    QFile::remove(path);
    QSettings objects(path, QSettings::IniFormat);
    objects.beginGroup(QStringLiteral("ServerFiles"));
    for (const QString& name : serverObjects())
        objects.setValue(name, QStringLiteral("Ok"));
    objects.endGroup();
    objects.beginGroup(QStringLiteral("ClientFiles"));
    for (const QString& name : clientObjects())
        objects.setValue(name, QStringLiteral("Ok"));
    objects.endGroup();
    objects.sync();
    return objects.status() == QSettings::NoError;
}
