#ifndef KTPLUGINLOADER_H
#define KTPLUGINLOADER_H

#include <QList>
#include <QObject>
#include <QString>

// What every plug-in loader of the server does alike: list a folder's plug-in
// files with the object names they hold, and load one file's root object as
// the kind of plug-in the caller expects.
class KTPluginLoader
{
public:
    struct File {
        QString fileName;
        QString absolutePath;
        QString objectName;
    };

    // Regular files of dir (symbolic links left out), in listing order.
    static QList<File> files(const QString& dir);
    // Subfolders of dir (symbolic links, "." and ".." left out), absolute paths.
    static QStringList subdirectories(const QString& dir);

    // The root object of the plug-in at absolutePath, or null with the loader's
    // error text in errorString.
    static QObject* rootInstance(const QString& absolutePath, QString* errorString = nullptr);

    // The root object cast to T; null when the file is no plug-in or a plug-in of another kind.
    template <class T>
    static T* load(const QString& absolutePath, QString* errorString = nullptr)
    {
        QObject* root = rootInstance(absolutePath, errorString);
        T* plugin = qobject_cast<T*>(root);
        if (root && !plugin && errorString)
            *errorString = QStringLiteral("El plug-in no implementa la interfaz esperada");
        return plugin;
    }
};

#endif
