#include "KTPluginLoader.h"

#include <KTVersion.h>

#include <QDir>
#include <QPluginLoader>

QList<KTPluginLoader::File> KTPluginLoader::files(const QString& dir)
{
    QList<File> result;
    const QFileInfoList entries = QDir(dir).entryInfoList(QDir::Files | QDir::NoSymLinks, QDir::Unsorted);
    for (const QFileInfo& info : entries)
        result << File{info.fileName(), info.absoluteFilePath(), KTVersion::file2Object(info.fileName(), 0)};
    return result;
}

QStringList KTPluginLoader::subdirectories(const QString& dir)
{
    QStringList result;
    const QFileInfoList entries =
        QDir(dir).entryInfoList(QDir::Dirs | QDir::NoSymLinks | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo& info : entries)
        result << info.absoluteFilePath();
    return result;
}

QObject* KTPluginLoader::rootInstance(const QString& absolutePath, QString* errorString)
{
    QPluginLoader loader(absolutePath);
    QObject* root = loader.instance();
    if (!root && errorString)
        *errorString = loader.errorString();
    return root;
}
