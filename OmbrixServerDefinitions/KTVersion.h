#ifndef KTVERSION_H
#define KTVERSION_H

#include <QObject>
#include <QString>

// The build's identity: release numbers, platform, account names, the remote
// upgrade database, and the release and file-name algorithms everyone shares.
class KTVersion : public QObject
{
    Q_OBJECT
public:
    explicit KTVersion(QObject* parent = nullptr);

    static QString ombrixServerVersion();
    static QString ombrixServerVersionSimplified();
    static QString ombrixClientVersion();
    static QString ombrixClientVersionSimplified();
    static QString ombrixServerAlias();
    static QString ombrixServerPassword();
    static QString dbUserName();
    static QString operatingSystem();
    static QString operatingSystemLiteral();
    static QString operatingSystemLiteral(int os);
    static QString upgradeHost();
    // The vendor's web page offered to clients that must update; OMBRIX_WEB_ADDRESS overrides it.
    static QString vendorWebAddress();
    static QString upgradeDatabaseDriver();
    static QString upgradeDatabaseName();
    static QString upgradeDatabaseUser();
    static QString upgradeDatabasePassword();
    static int upgradeDatabasePort();

    static QString simplifiedVersion(const QString& version);
    static bool lessThan(const QString& version1, const QString& version2);
    static QString file2Object(const QString& fileName, int os);
    // Names and paths that arrive with downloads or data files: a plain name
    // has no folder part; a relative path stays inside the folder it is
    // relative to (not absolute, no drive, no "..").
    static bool isPlainFileName(const QString& name);
    static bool isInsidePath(const QString& relativePath);
};

#endif
