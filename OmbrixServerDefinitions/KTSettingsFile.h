#ifndef KTSETTINGSFILE_H
#define KTSETTINGSFILE_H

#include <QString>

// Settings files that hold passwords are kept readable by their owner only.
// QSettings replaces a file it writes but keeps the permissions of the one it
// replaces, so a file created private beforehand stays private.
class KTSettingsFile
{
public:
    // Creates path empty and private when it does not exist, and makes an
    // existing one private; false when neither can be done.
    static bool makePrivate(const QString& path);
    // True when users other than the owner may read path.
    static bool readableByOthers(const QString& path);
};

#endif
