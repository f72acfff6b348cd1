#include "KTFileReplacer.h"

#include <QFile>
#include <QSaveFile>

bool KTFileReplacer::write(const QString& target, const QByteArray& contents, QFileDevice::Permissions permissions)
{
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // Set on the file before the rename: a runner must never be in place without its execute bit.
    if (file.write(contents) != contents.size() || !file.setPermissions(permissions)) {
        file.cancelWriting();
        file.commit();
        return false;
    }
    return file.commit();
}

bool KTFileReplacer::copy(const QString& source, const QString& target)
{
    QFile input(source);
    if (!input.open(QIODevice::ReadOnly))
        return false;
    const QByteArray contents = input.readAll();
    if (input.error() != QFileDevice::NoError)
        return false;
    return write(target, contents, input.permissions());
}
