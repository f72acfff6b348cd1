#ifndef KTINSTALLATIONOBJECTS_H
#define KTINSTALLATIONOBJECTS_H

#include <QString>
#include <QStringList>

// The object names an installation is made of, read off its application
// directory: its libraries, components and pages for the server, and the
// client components its seed data registers.
class KTInstallationObjects
{
public:
    explicit KTInstallationObjects(const QString& applicationDirectory);

    QStringList serverObjects() const;
    QStringList clientObjects() const;
    // Writes the list the panel loads its objects from, every name marked
    // "Ok" as the settings wizard marks it; false when the file could not be written.
    bool write(const QString& path) const;

private:
    QString _applicationDirectory;
};

#endif
