#ifndef KTFILEREPLACER_H
#define KTFILEREPLACER_H

#include <QByteArray>
#include <QFileDevice>
#include <QString>

// Puts a file in place in one step: the new contents are written next to
// the target and renamed over it, so that a failed write leaves the old
// file whole and working, and a program never sees half of the new one.
class KTFileReplacer
{
public:
    static bool write(const QString& target, const QByteArray& contents, QFileDevice::Permissions permissions);
    // The source's contents and permissions in place of the target.
    static bool copy(const QString& source, const QString& target);
};

#endif
