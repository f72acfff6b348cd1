#include "KTPreviousRelease.h"

#include <KTFileReplacer.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace {

const QString previousFolder = QStringLiteral("/Previous");
const QString pendingCommands = QStringLiteral("/PendingServerCommands.txt");
const QString addedKey = QStringLiteral("Release/Added");

QString tr(const char* text)
{
    return QCoreApplication::translate("KTPreviousRelease", text);
}

} // namespace

KTPreviousRelease::KTPreviousRelease(const QString& applicationDirectory, const QString& downloadsDirectory)
    : _applicationDirectory(applicationDirectory)
    , _downloadsDirectory(downloadsDirectory)
{
}

bool KTPreviousRelease::failed(const QString& error)
{
    _error = error;
    return false;
}

bool KTPreviousRelease::begin(const QString& release)
{
    const QString root = _downloadsDirectory + previousFolder;
    // A release name from the download index never climbs out of the folder.
    QString name = release.simplified();
    name.replace(QLatin1Char('/'), QLatin1Char('_')).replace(QLatin1Char('\\'), QLatin1Char('_'));
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name = QStringLiteral("sin-version");
    _folder = root + QLatin1Char('/') + name;
    if (QFileInfo::exists(indexPath()))
        return true;
    QDir(root).removeRecursively();
    if (!QDir().mkpath(_folder))
        return failed(tr("No se puede crear directorio : %1").arg(_folder));
    QSettings index(indexPath(), QSettings::IniFormat);
    index.setValue(QStringLiteral("Release/Version"), release);
    index.sync();
    if (index.status() != QSettings::NoError)
        return failed(tr("No se puede escribir el archivo : %1").arg(indexPath()));
    return true;
}

bool KTPreviousRelease::keep(const QString& relativeFile)
{
    const QString kept = _folder + QLatin1Char('/') + relativeFile;
    QSettings index(indexPath(), QSettings::IniFormat);
    QStringList added = index.value(addedKey).toStringList();
    if (QFileInfo::exists(kept) || added.contains(relativeFile))
        return true;
    const QString current = _applicationDirectory + QLatin1Char('/') + relativeFile;
    if (!QFileInfo::exists(current)) {
        added << relativeFile;
        index.setValue(addedKey, added);
        index.sync();
        return index.status() == QSettings::NoError
            || failed(tr("No se puede escribir el archivo : %1").arg(indexPath()));
    }
    if (!QDir().mkpath(QFileInfo(kept).path()) || !KTFileReplacer::copy(current, kept))
        return failed(tr("No se puede guardar una copia del archivo : %1").arg(relativeFile));
    return true;
}

// The one folder a promotion left in Previous, or empty.
QString KTPreviousRelease::keptFolder() const
{
    const QDir root(_downloadsDirectory + previousFolder);
    for (const QString& name : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (QFileInfo::exists(root.filePath(name) + QStringLiteral("/Previous.ini")))
            return root.filePath(name);
    return QString();
}

bool KTPreviousRelease::restore()
{
    _folder = keptFolder();
    if (_folder.isEmpty())
        return failed(tr("No hay archivos de una versión anterior en %1").arg(_downloadsDirectory + previousFolder));
    const QDir folder(_folder);
    QDirIterator files(_folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString kept = files.next();
        const QString relative = folder.relativeFilePath(kept);
        if (relative == QLatin1String("Previous.ini"))
            continue;
        if (!KTFileReplacer::copy(kept, _applicationDirectory + QLatin1Char('/') + relative))
            return failed(tr("No se puede restituir el archivo : %1").arg(relative));
    }
    const QSettings index(indexPath(), QSettings::IniFormat);
    for (const QString& relative : index.value(addedKey).toStringList()) {
        const QString path = _applicationDirectory + QLatin1Char('/') + relative;
        if (QFileInfo::exists(path) && !QFile::remove(path))
            return failed(tr("No se puede borrar archivo : %1").arg(relative));
    }
    const QString pending = _downloadsDirectory + pendingCommands;
    if (QFileInfo::exists(pending) && !QFile::remove(pending))
        return failed(tr("No se puede borrar archivo : %1").arg(pending));
    // Put back: a second rollback has nothing left to take back.
    QDir(_folder).removeRecursively();
    return true;
}
