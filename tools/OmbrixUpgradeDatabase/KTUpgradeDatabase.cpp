#include "KTUpgradeDatabase.h"

#include <KTVersion.h>

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

const QStringList schema{
    "CREATE TABLE IF NOT EXISTS _VersionType (pkyVersionType INT PRIMARY KEY, fldName VARCHAR(60) NOT NULL)",
    "CREATE TABLE IF NOT EXISTS _Client (pkyClient INT AUTO_INCREMENT PRIMARY KEY, fldName VARCHAR(120) NOT NULL "
    "UNIQUE, codClientStatus INT NOT NULL DEFAULT 1, fldUnitPassword VARCHAR(120) NOT NULL, "
    "codCurrentServerSoftware VARCHAR(20) NOT NULL DEFAULT '', codUpgradeServerSoftware VARCHAR(20) NOT NULL "
    "DEFAULT '', fldServerDownloaded TINYINT NOT NULL DEFAULT 0, codCurrentClientSoftware VARCHAR(20) NOT NULL "
    "DEFAULT '', codUpgradeClientSoftware VARCHAR(20) NOT NULL DEFAULT '', fldClientDownloaded TINYINT NOT NULL "
    "DEFAULT 0)",
    "CREATE TABLE IF NOT EXISTS _Software (pkySoftware INT AUTO_INCREMENT PRIMARY KEY, fldName VARCHAR(120) NOT "
    "NULL, fldVersion VARCHAR(20) NOT NULL, fldDate DATE NOT NULL, fldDescription TEXT, codVersionType INT NOT NULL, "
    "codUpgradeType INT NOT NULL, codOperatingSystem INT NOT NULL, codSoftwareType INT NOT NULL, fldCommands TEXT, "
    "fldUpgradeLog TEXT, UNIQUE (codSoftwareType, codOperatingSystem, fldVersion))",
    "CREATE TABLE IF NOT EXISTS _SystemObject (pkySystemObject INT AUTO_INCREMENT PRIMARY KEY, fldName VARCHAR(120) "
    "NOT NULL UNIQUE)",
    "CREATE TABLE IF NOT EXISTS _Blob (pkyBlob INT AUTO_INCREMENT PRIMARY KEY, fldName VARCHAR(120) NOT NULL, "
    "fldSize BIGINT NOT NULL, fldDescription VARCHAR(255) NOT NULL, fldContents LONGBLOB, fldSHA1 VARCHAR(40) NOT "
    "NULL)",
    "CREATE TABLE IF NOT EXISTS _SoftwareFile (codSoftware INT NOT NULL, codSystemObject INT NOT NULL, codBlob INT "
    "NOT NULL, fldRelativePath VARCHAR(255) NOT NULL, PRIMARY KEY (codSoftware, codSystemObject, fldRelativePath))",
    "CREATE TABLE IF NOT EXISTS _AccessList (codClient INT NOT NULL, codSystemObject INT NOT NULL, fldRead TINYINT "
    "NOT NULL DEFAULT 1, PRIMARY KEY (codClient, codSystemObject))",
    "CREATE TABLE IF NOT EXISTS _ClientOperatingSystems (codClient INT NOT NULL, codSoftwareType INT NOT NULL, "
    "codOperatingSystem INT NOT NULL, PRIMARY KEY (codClient, codSoftwareType, codOperatingSystem))",
    "INSERT IGNORE INTO _VersionType VALUES (1, 'Estable'), (2, 'Prueba'), (3, 'Correctiva')"};

} // namespace

KTUpgradeDatabase::KTUpgradeDatabase(const QSqlDatabase& database)
    : _database(database)
{
}

bool KTUpgradeDatabase::run(const QString& statement)
{
    QSqlQuery query(_database);
    if (query.exec(statement))
        return true;
    _lastError = query.lastError().text();
    return false;
}

bool KTUpgradeDatabase::createSchema()
{
    for (const QString& statement : schema)
        if (!run(statement))
            return false;
    return true;
}

bool KTUpgradeDatabase::setAccount(const Account& account)
{
    QSqlQuery query(_database);
    query.prepare("REPLACE INTO _Client (fldName, codClientStatus, fldUnitPassword, codCurrentServerSoftware, "
                  "codUpgradeServerSoftware, codCurrentClientSoftware, codUpgradeClientSoftware) "
                  "VALUES (?, ?, ?, ?, ?, ?, ?)");
    // A release not given is recorded as none (''), never as NULL.
    const auto text = [](const QString& value) { return QVariant(value.isNull() ? QStringLiteral("") : value); };
    for (const QVariant& value : {text(account.company), QVariant(account.active ? 1 : 2), text(account.password),
                                  text(account.currentServer), text(account.upgradeServer),
                                  text(account.currentClient), text(account.upgradeClient)})
        query.addBindValue(value);
    if (!query.exec()) {
        _lastError = query.lastError().text();
        return false;
    }
    const qint64 client = lastKey();
    // Every published object is readable by a new account.
    if (!run(QStringLiteral("INSERT IGNORE INTO _AccessList SELECT %1, pkySystemObject, 1 FROM _SystemObject")
                 .arg(client)))
        return false;
    for (int platform : account.clientPlatforms)
        if (!run(QStringLiteral("INSERT IGNORE INTO _ClientOperatingSystems VALUES (%1, 2, %2)")
                     .arg(client).arg(platform)))
            return false;
    return true;
}

// One transaction: the updater never sees a release with only part of its files.
bool KTUpgradeDatabase::publish(const Release& release, const QString& folder)
{
    if (!_database.transaction()) {
        _lastError = _database.lastError().text();
        return false;
    }
    if (!publishRows(release, folder)) {
        _database.rollback();
        return false;
    }
    if (!_database.commit()) {
        _lastError = _database.lastError().text();
        _database.rollback();
        return false;
    }
    return true;
}

bool KTUpgradeDatabase::publishRows(const Release& release, const QString& folder)
{
    QSqlQuery query(_database);
    query.prepare("INSERT INTO _Software (fldName, fldVersion, fldDate, fldDescription, codVersionType, "
                  "codUpgradeType, codOperatingSystem, codSoftwareType, fldCommands, fldUpgradeLog) "
                  "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    for (const QVariant& value : {QVariant(release.name), QVariant(release.version), QVariant(release.date),
                                  QVariant(release.description), QVariant(release.versionType),
                                  QVariant(release.upgradeType), QVariant(release.platform),
                                  QVariant(release.softwareType), QVariant(release.commands),
                                  QVariant(release.upgradeLog)})
        query.addBindValue(value);
    if (!query.exec()) {
        _lastError = query.lastError().text();
        return false;
    }
    return insertFiles(lastKey(), release.platform, folder) && run("INSERT IGNORE INTO _AccessList SELECT c.pkyClient, "
                                                 "o.pkySystemObject, 1 FROM _Client c, _SystemObject o");
}

bool KTUpgradeDatabase::insertFiles(qint64 software, int platform, const QString& folder)
{
    QDirIterator files(folder, QDir::Files | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        files.next();
        QFile file(files.filePath());
        if (!file.open(QIODevice::ReadOnly)) {
            _lastError = QStringLiteral("No se pudo leer %1").arg(files.filePath());
            return false;
        }
        const QByteArray contents = file.readAll();
        const QString name = files.fileName();
        // Object names as the platform's own installation names them, so that
        // one client program has one name on every platform.
        const QString objectName = KTVersion::file2Object(name, platform);
        const qint64 object = systemObject(objectName);
        QSqlQuery blob(_database);
        blob.prepare("INSERT INTO _Blob (fldName, fldSize, fldDescription, fldContents, fldSHA1) VALUES (?, ?, ?, ?, ?)");
        blob.addBindValue(objectName);
        blob.addBindValue(contents.size());
        blob.addBindValue(name);
        blob.addBindValue(contents);
        blob.addBindValue(QString::fromLatin1(QCryptographicHash::hash(contents, QCryptographicHash::Sha1).toBase64()));
        QSqlQuery link(_database);
        link.prepare("INSERT INTO _SoftwareFile VALUES (?, ?, ?, ?)");
        if (object < 0 || !blob.exec()) {
            _lastError = blob.lastError().text();
            return false;
        }
        link.addBindValue(software);
        link.addBindValue(object);
        link.addBindValue(lastKey());
        // The folder the file goes to, relative to the installation ("." for its top).
        const QString relativeFolder = QDir(folder).relativeFilePath(files.fileInfo().path());
        link.addBindValue(relativeFolder.isEmpty() ? QStringLiteral(".") : relativeFolder);
        if (!link.exec()) {
            _lastError = link.lastError().text();
            return false;
        }
    }
    return true;
}

qint64 KTUpgradeDatabase::systemObject(const QString& name)
{
    QSqlQuery query(_database);
    query.prepare("INSERT INTO _SystemObject (fldName) VALUES (?) ON DUPLICATE KEY UPDATE "
                  "pkySystemObject = LAST_INSERT_ID(pkySystemObject)");
    query.addBindValue(name);
    if (!query.exec()) {
        _lastError = query.lastError().text();
        return -1;
    }
    return lastKey();
}

qint64 KTUpgradeDatabase::lastKey()
{
    QSqlQuery query(_database);
    return query.exec("SELECT LAST_INSERT_ID()") && query.next() ? query.value(0).toLongLong() : -1;
}
