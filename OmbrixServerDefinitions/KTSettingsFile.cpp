#include "KTSettingsFile.h"

#include <QFile>
#include <QFileInfo>

namespace {

constexpr QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

} // namespace

bool KTSettingsFile::makePrivate(const QString& path)
{
    QFile file(path);
    if (!file.exists() && !file.open(QIODevice::WriteOnly))
        return false;
    file.close();
    return QFileInfo(path).isFile() && file.setPermissions(ownerOnly);
}

bool KTSettingsFile::readableByOthers(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() && (info.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther));
}
