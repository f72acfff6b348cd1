#include "KTDownloader.h"

#include <KT.h>
#include <KTFileReplacer.h>
#include <KTVersion.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QSettings>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>

namespace {

const QString connectionName = QStringLiteral("checkUpdates");
const QString checkSource = QStringLiteral("KTDownloader::checkUpdates()");
const QString folderSource = QStringLiteral("KTDownloader::downloadServer()");
const QString downloadSource = QStringLiteral("KTDownloader::downloadUpdates()");
const int serverSoftware = 1;
const int clientSoftware = 2;
const QFileDevice::Permissions written = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
    | QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;

QString platformCode()
{
    return KTVersion::operatingSystem();
}

} // namespace

KTDownloader::KTDownloader(const QString& applicationDirectory, const QString& companyName, const QString& password,
                           QObject* parent)
    : QObject(parent)
    , _applicationDirectory(applicationDirectory)
    , _companyName(companyName)
    , _password(password)
{
    emit upgradeStatusChanged(0);
}

void KTDownloader::setStatus(int status)
{
    _upgradeStatus = status;
    emit upgradeStatusChanged(status);
}

void KTDownloader::report(const QString& message, int type, const QString& source)
{
    emit eventMessage(message, type, source.isEmpty() ? checkSource : source);
}

// Ends the check or the download with one error event.
void KTDownloader::stop(const QString& message, int type, const QString& source)
{
    report(message, type, source);
    setStatus(0);
    emit upgradeTerminated();
}

// The panel is quitting: a download ends between two files, with no index written.
bool KTDownloader::interrupted()
{
    if (!QThread::currentThread()->isInterruptionRequested())
        return false;
    stop(tr("La descarga se interrumpió porque el servidor se está cerrando"), KT::WarningMessage, downloadSource);
    return true;
}

QString KTDownloader::quoted(const QString& text) const
{
    QSqlField field{QString(), QMetaType(QMetaType::QString)};
    field.setValue(text);
    return QSqlDatabase::database(connectionName, false).driver()->formatValue(field);
}

QString KTDownloader::downloadsPath() const
{
    return _applicationDirectory + QStringLiteral("/Downloads");
}

// ---------------------------------------------------------------------------
// Check

void KTDownloader::checkUpdates()
{
    setStatus(1);
    report(tr("Verificando si existen actualizaciones disponibles para esta cuenta ..."), KT::InformationMessage);
    if (!connectToUpgradeDatabase())
        return stop(tr("La conexión al servidor de upgrades falló.\nContáctese con su proveedor."), KT::ErrorMessage,
                    checkSource);
    _downloadMap.clear();
    _clientDownloadMap.clear();
    _serverCommands.clear();
    _serverUpgradeLog.clear();
    _clientCommands.clear();
    _clientUpgradeLog.clear();
    if (_companyName.isEmpty())
        return stop(tr("La variable que contiene el nombre de la empresa no está inicializada.\nContáctese con su "
                       "proveedor."), KT::BugMessage, checkSource);
    if (_password.isEmpty())
        return stop(tr("La variable que contiene el password no está inicializada.\nContáctese con su proveedor."),
                    KT::BugMessage, checkSource);

    QSqlQuery account = accountQuery(QStringLiteral("Server"));
    if (!account.isValid())
        return;
    _currentRegisteredVersion = account.value(0).toString();
    _upgradeServerVersion = account.value(1).toString();

    const QString installed = KTVersion::ombrixServerVersion();
    if (installed > _currentRegisteredVersion && !synchronise(QStringLiteral("codCurrentServerSoftware"), installed,
                                                              _currentRegisteredVersion, true))
        return;
    if (installed <= _upgradeServerVersion && !buildServerTable())
        return;
    if (!buildClientTable())
        return;
    setStatus(0);
    emit downloadListUpdated(_downloadMap, _clientDownloadMap, _serverUpgradeLog, _serverCommands, _clientUpgradeLog,
                             _clientCommands);
    report(tr("La lista de actualizaciones ha sido completada"), KT::InformationMessage);
    emit upgradeStatusChanged(0);
    emit upgradeTerminated();
}

// The account's recorded and assigned release of one product ("Server" or
// "Client"), positioned on its row; not valid, after the error event, when
// the account is unknown, inactive or the password is wrong.
QSqlQuery KTDownloader::accountQuery(const QString& product)
{
    QSqlQuery account(QSqlDatabase::database(connectionName));
    account.exec(QStringLiteral("SELECT codCurrent%1Software, codUpgrade%1Software, fld%1Downloaded FROM _Client "
                                "WHERE fldName = %2 AND codClientStatus = 1 AND fldUnitPassword = %3 ;")
                     .arg(product, quoted(_companyName), quoted(_password)));
    if (!account.next())
        stop(tr("La cuenta '%1' no existe, no está activa o su password es incorrecto.\nContáctese con su proveedor.")
                 .arg(_companyName), KT::ErrorMessage, checkSource);
    return account;
}

// The release's files, after the event that announces it; not active, after
// the error event, when the release has none.
QSqlQuery KTDownloader::fileList(int softwareType, const QString& platform, const QString& version)
{
    QSqlQuery rows(QSqlDatabase::database(connectionName));
    rows.exec(fileListQuery(softwareType, platform, version));
    if (rows.size() <= 0) {
        stop(tr("La lista de archivos a descargar está vacia.\nContáctese con su proveedor."), KT::BugMessage,
             checkSource);
        rows.finish();
        return rows;
    }
    report(tr("Se encontró una nueva versión de %1 (version  %2). Generando tabla de descarga ...")
               .arg(softwareType == serverSoftware ? QStringLiteral("Ombrix Server") : QStringLiteral("Ombrix Client"),
                    version),
           KT::InformationMessage);
    return rows;
}

bool KTDownloader::connectToUpgradeDatabase()
{
    if (QSqlDatabase::contains(connectionName))
        QSqlDatabase::removeDatabase(connectionName);
    QSqlDatabase db = QSqlDatabase::addDatabase(KTVersion::upgradeDatabaseDriver(), connectionName);
    db.setHostName(KTVersion::upgradeHost());
    db.setPort(KTVersion::upgradeDatabasePort());
    db.setDatabaseName(KTVersion::upgradeDatabaseName());
    db.setUserName(KTVersion::upgradeDatabaseUser());
    db.setPassword(KTVersion::upgradeDatabasePassword());
    return db.open();
}

// Tells the upgrade database the release this installation really has.
bool KTDownloader::synchronise(const QString& column, const QString& installed, const QString&, bool server)
{
    report(server ? tr("La versión instalada no es reconocida por el servidor de autenticación.\nSe intentará "
                       "corregir el problema ...")
                  : tr("La versión del cliente descargada no es reconocida por el servidor de autenticación.\nSe "
                       "intentará corregir el problema ..."),
           KT::WarningMessage);
    QSqlQuery update(QSqlDatabase::database(connectionName));
    update.exec(QStringLiteral("UPDATE _Client SET %1 = %2 WHERE fldName = %3 ;")
                    .arg(column, quoted(installed), quoted(_companyName)));
    if (update.numRowsAffected() > 0) {
        report(server ? tr("Las versiones se encuentran correctamente sincronizadas.")
                      : tr("Las versiones de los clientes se encuentran correctamente sincronizadas."),
               KT::InformationMessage);
        return true;
    }
    stop(server ? tr("No fue posible actualizar la versión en el servidor Ombrix Manager.\nContáctese con su proveedor.")
                : tr("No fue posible actualizar la versión del cliente en el servidor Ombrix Manager.\nContáctese con "
                     "su proveedor."),
         KT::BugMessage, checkSource);
    return false;
}

// Columns: object code, object name, blob code, relative path, digest, size,
// release name, version, date, description, kind, upgrade type, platform;
// the files the account may read of the release for one platform.
QString KTDownloader::fileListQuery(int softwareType, const QString& platform, const QString& version) const
{
    return QStringLiteral(
               "SELECT o.pkySystemObject, o.fldName, f.codBlob, f.fldRelativePath, b.fldSHA1, b.fldSize, s.fldName, "
               "s.fldVersion, s.fldDate, s.fldDescription, v.fldName, s.codUpgradeType, s.codOperatingSystem "
               "FROM _Software s JOIN _SoftwareFile f ON f.codSoftware = s.pkySoftware "
               "JOIN _SystemObject o ON o.pkySystemObject = f.codSystemObject JOIN _Blob b ON b.pkyBlob = f.codBlob "
               "JOIN _VersionType v ON v.pkyVersionType = s.codVersionType "
               "JOIN _Client c ON c.fldName = %1 AND c.codClientStatus = 1 "
               "JOIN _AccessList a ON a.codClient = c.pkyClient AND a.codSystemObject = o.pkySystemObject "
               "AND a.fldRead = 1 "
               "WHERE s.codSoftwareType = %2 AND s.fldVersion = %3 AND %4 "
               "ORDER BY f.fldRelativePath, o.fldName ;")
        .arg(quoted(_companyName)).arg(softwareType).arg(quoted(version))
        .arg(platform.isEmpty()
                 ? QStringLiteral("s.codOperatingSystem IN (SELECT codOperatingSystem FROM _ClientOperatingSystems "
                                  "WHERE codClient = c.pkyClient AND codSoftwareType = 2)")
                 : QStringLiteral("s.codOperatingSystem = %1").arg(platform.toInt()));
}

bool KTDownloader::buildServerTable()
{
    QSqlQuery rows = fileList(serverSoftware, platformCode(), _upgradeServerVersion);
    if (!rows.isActive())
        return false;
    const QString folder = QStringLiteral("OmbrixServer-") + KTVersion::operatingSystemLiteral();
    if (!QDir().mkpath(downloadsPath() + QLatin1Char('/') + folder)) {
        stop(tr("No se pudo crear directorio de descarga : %1").arg(folder), KT::ErrorMessage, folderSource);
        return false;
    }
    _fileMap.clear();
    recurseDirectory(_applicationDirectory);
    const QMap<QString, QString> downloaded = downloadedFiles(folder, 0);

    bool pending = false;
    while (rows.next()) {
        const QString object = rows.value(1).toString();
        QStringList entry;
        for (int column : {0, 2, 3, 4, 5, 6, 7, 8, 9, 10})
            entry << rows.value(column).toString();
        if (!KTVersion::isInsidePath(entry.at(RelativePath))) {
            stop(tr("La ruta '%1' del archivo de %2 no es válida").arg(entry.at(RelativePath), object),
                 KT::ErrorMessage, checkSource);
            return false;
        }
        QString state = QStringLiteral("2");
        if (_fileMap.value(object, QStringLiteral("-")) != entry.at(Sha1)
            && !downloadedState(folder, downloaded.value(object), entry.at(Sha1), &state))
            return false;
        pending = pending || state == QLatin1String("0");
        entry << state << rows.value(11).toString() << folder;
        _downloadMap.insert(object, entry);
    }
    if (!pending) {
        setStatus(2);
        report(tr("No existen versiones nuevas de OmbrixServer asignadas a esta cuenta."), KT::InformationMessage);
    }
    const QString source = QStringLiteral("KTDownloader::serverCommands()");
    const QString installed = KTVersion::ombrixServerVersion();
    _serverCommands = releaseTexts(QStringLiteral("fldCommands"), serverSoftware, platformCode(), installed,
                                   _upgradeServerVersion, source);
    _serverUpgradeLog = releaseTexts(QStringLiteral("fldUpgradeLog"), serverSoftware, platformCode(), installed,
                                     _upgradeServerVersion, QStringLiteral("KTDownloader::serverUpgradeLog()"));
    return true;
}

bool KTDownloader::buildClientTable()
{
    QSqlQuery account = accountQuery(QStringLiteral("Client"));
    if (!account.isValid())
        return false;
    _upgradeClientVersion = account.value(1).toString();
    const QString installed = installedClientVersion();
    if (installed > account.value(0).toString()
        && !synchronise(QStringLiteral("codCurrentClientSoftware"), installed, account.value(0).toString(), false))
        return false;
    // An account without a client release has nothing to offer for its clients.
    if (installed == _upgradeClientVersion || _upgradeClientVersion.isEmpty()) {
        setStatus(2);
        report(tr("No existen versiones de Ombrix Client nuevas asignadas a esta cuenta."), KT::InformationMessage);
        return true;
    }
    QSqlQuery rows = fileList(clientSoftware, QString(), _upgradeClientVersion);
    if (!rows.isActive())
        return false;
    QString platform;
    QMap<int, QMap<QString, QString>> downloaded;
    while (rows.next()) {
        if (!clientRow(rows, &downloaded))
            return false;
        platform = rows.value(12).toString();
    }
    _clientCommands = releaseTexts(QStringLiteral("fldCommands"), clientSoftware, platform, installed,
                                   _upgradeClientVersion, QStringLiteral("KTDownloader::serverCommands()"));
    _clientUpgradeLog = releaseTexts(QStringLiteral("fldUpgradeLog"), clientSoftware, platform, installed,
                                     _upgradeClientVersion, QStringLiteral("KTDownloader::serverUpgradeLog()"));
    return true;
}

// downloaded holds the files of each platform's folder, created and listed
// when the platform's first row comes.
bool KTDownloader::clientRow(const QSqlQuery& rows, QMap<int, QMap<QString, QString>>* downloaded)
{
    const int platform = rows.value(12).toInt();
    const QString folder = QStringLiteral("OmbrixClient-%1-Download").arg(KTVersion::operatingSystemLiteral(platform));
    if (!downloaded->contains(platform)) {
        if (!QDir().mkpath(downloadsPath() + QLatin1Char('/') + folder)) {
            stop(tr("No se pudo crear directorio de descarga : %1").arg(folder), KT::ErrorMessage, folderSource);
            return false;
        }
        downloaded->insert(platform, downloadedFiles(folder, platform));
    }
    QStringList entry{rows.value(0).toString()};
    for (int column = 2; column <= 10; ++column)
        entry << rows.value(column).toString();
    const QString object = rows.value(1).toString();
    if (!KTVersion::isInsidePath(entry.at(RelativePath))) {
        stop(tr("La ruta '%1' del archivo de %2 no es válida").arg(entry.at(RelativePath), object), KT::ErrorMessage,
             checkSource);
        return false;
    }
    QString state;
    if (!downloadedState(folder, downloaded->value(platform).value(object), entry.at(Sha1), &state))
        return false;
    entry << state << rows.value(11).toString() << folder << QString::number(platform);
    _clientDownloadMap.insert(object, entry);
    return true;
}

QString KTDownloader::releaseTexts(const QString& column, int softwareType, const QString& platform,
                                   const QString& from, const QString& to, const QString& source)
{
    if (!QSqlDatabase::contains(connectionName)) {
        report(tr("No se inicializó la conexión con la BD."), KT::BugMessage, source);
        return QString();
    }
    QSqlQuery query(QSqlDatabase::database(connectionName));
    query.exec(QStringLiteral("SELECT %1 FROM _Software WHERE codOperatingSystem = %2 AND codSoftwareType = %3 AND "
                              "fldVersion > %4 AND fldVersion <= %5 ORDER BY fldVersion ;")
                   .arg(column).arg(platform.toInt()).arg(softwareType).arg(quoted(from), quoted(to)));
    QString text;
    while (query.next())
        text += query.value(0).toString() + QLatin1Char('\n');
    return text;
}

// "1" when the download folder holds the file with the expected digest, "0"
// when it holds another or none; false, after the error event, when the file
// cannot be read.
bool KTDownloader::downloadedState(const QString& folder, const QString& fileName, const QString& sha1,
                                   QString* state)
{
    *state = QStringLiteral("0");
    if (fileName.isEmpty())
        return true;
    bool readable = false;
    const QString digest = fileDigest(downloadsPath() + QLatin1Char('/') + folder + QLatin1Char('/') + fileName, &readable);
    if (!readable) {
        stop(tr("No fue posible abrir el archivo : %1").arg(fileName), KT::ErrorMessage, checkSource);
        return false;
    }
    if (digest == sha1)
        *state = QStringLiteral("1");
    return true;
}

void KTDownloader::recurseDirectory(const QString& dirName)
{
    const QDir dir(dirName);
    for (const QString& name : dir.entryList(QDir::Files | QDir::NoSymLinks | QDir::Hidden)) {
        bool readable = false;
        const QString digest = fileDigest(dir.filePath(name), &readable);
        if (readable)
            _fileMap.insert(KTVersion::file2Object(name, 0), digest);
        else
            report(tr("No se pudo abrir el archivo : %1").arg(name), KT::ErrorMessage,
                   QStringLiteral("KTDownloader::recurseDirectory()"));
    }
    for (const QString& sub : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks | QDir::Hidden))
        if (sub != QLatin1String("Downloads"))
            recurseDirectory(dir.filePath(sub));
}

QMap<QString, QString> KTDownloader::downloadedFiles(const QString& folder, int platform) const
{
    QMap<QString, QString> files;
    for (const QString& name : QDir(downloadsPath() + QLatin1Char('/') + folder)
                                   .entryList(QDir::Files | QDir::NoSymLinks | QDir::Hidden))
        files.insert(KTVersion::file2Object(name, platform), name);
    return files;
}

QString KTDownloader::fileDigest(const QString& path, bool* readable) const
{
    QFile file(path);
    *readable = file.open(QIODevice::ReadOnly);
    return *readable ? QString::fromLatin1(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1).toBase64())
                     : QString();
}

QString KTDownloader::installedClientVersion() const
{
    QSettings index(downloadsPath() + QStringLiteral("/ClientVersion.txt"), QSettings::IniFormat);
    return index.value(QStringLiteral("ClientValues/ClientVersion"), KTVersion::ombrixClientVersion()).toString();
}

// ---------------------------------------------------------------------------
// Download

void KTDownloader::downloadUpdates()
{
    if (!QSqlDatabase::contains(connectionName))
        return;
    const QString serverVersion = _downloadMap.isEmpty() ? QString() : _downloadMap.first().value(ReleaseVersion);
    const QString clientVersion =
        _clientDownloadMap.isEmpty() ? QString() : _clientDownloadMap.first().value(ReleaseVersion);
    setStatus(3);
    report(tr("Realizando descargas ..."), KT::InformationMessage, downloadSource);
    for (const QString& name : {QStringLiteral("DownloadedClientVersion.txt"), QStringLiteral("DownloadedServerVersion.txt")}) {
        const QString path = downloadsPath() + QLatin1Char('/') + name;
        if (QFile::exists(path) && !QFile::remove(path))
            return stop(tr("No se pudo borrar archivo : %1").arg(name), KT::ErrorMessage, downloadSource);
    }

    QMap<QString, QString> serverFiles;
    for (auto it = _downloadMap.cbegin(); it != _downloadMap.cend(); ++it) {
        if (interrupted())
            return;
        const QString file = blobFileName(it.value());
        if (file.isEmpty())
            return;
        if (it.value().at(State) != QLatin1String("2") && !serverFiles.contains(file))
            serverFiles.insert(file, platformCode() + QLatin1Char(',') + it.value().at(RelativePath));
        if (!downloadServerEntry(it.value()))
            return;
    }
    QMap<QString, QString> clientFiles;
    for (auto it = _clientDownloadMap.cbegin(); it != _clientDownloadMap.cend(); ++it) {
        if (interrupted())
            return;
        const QString file = blobFileName(it.value());
        if (file.isEmpty())
            return;
        if (!clientFiles.contains(file))
            clientFiles.insert(file, it.value().at(Platform) + QLatin1Char(',') + it.value().at(RelativePath));
        if (!downloadClientEntry(it.key(), it.value()))
            return;
    }

    QSqlQuery done(QSqlDatabase::database(connectionName));
    if (done.exec(QStringLiteral("UPDATE _Client SET fldServerDownloaded = 1, fldClientDownloaded = 1 WHERE fldName = %1 ;")
                      .arg(quoted(_companyName)))) {
        report(tr("Se completó la descarga de las nuevas versiones de Ombrix"), KT::InformationMessage, downloadSource);
        if (!clientVersion.isEmpty())
            writeIndex(QStringLiteral("DownloadedClientVersion.txt"), QStringLiteral("ClientValues"), clientVersion,
                       QStringLiteral("ClientCommands"), _clientCommands, clientFiles);
        if (!serverVersion.isEmpty())
            writeIndex(QStringLiteral("DownloadedServerVersion.txt"), QStringLiteral("ServerValues"), serverVersion,
                       QStringLiteral("ServerCommands"), _serverCommands, serverFiles);
        emit downloadCompleted();
    } else {
        report(done.lastError().databaseText(), KT::ErrorMessage, downloadSource);
        report(tr("No fue posible completar exitosamente la descarga de las nuevas versiones de Ombrix"),
               KT::ErrorMessage, downloadSource);
    }
    setStatus(0);
    emit upgradeTerminated();
}

// The entry's file name, checked to be a plain name; empty after a failure.
QString KTDownloader::blobFileName(const QStringList& entry)
{
    QSqlQuery blob = blobQuery(QStringLiteral("fldDescription"), entry.at(BlobCode));
    if (!blob.next()) {
        stop(tr("Error al descargar datos de archivo con código: %1").arg(entry.at(ObjectCode)), KT::ErrorMessage,
             downloadSource);
        return QString();
    }
    const QString name = blob.value(0).toString();
    if (!KTVersion::isPlainFileName(name)) {
        stop(tr("El nombre de archivo '%1' del objeto con código %2 no es válido").arg(name, entry.at(ObjectCode)),
             KT::ErrorMessage, downloadSource);
        return QString();
    }
    return name;
}

QSqlQuery KTDownloader::blobQuery(const QString& columns, const QString& blobCode)
{
    QSqlQuery query(QSqlDatabase::database(connectionName));
    query.exec(QStringLiteral("SELECT %1 FROM _Blob WHERE pkyBlob = %2 ;").arg(columns, quoted(blobCode)));
    return query;
}

bool KTDownloader::downloadServerEntry(const QStringList& entry)
{
    if (entry.at(State) != QLatin1String("0"))
        return true;
    const bool empty = entry.at(Size).toLongLong() == 0;
    QSqlQuery blob = blobQuery(empty ? QStringLiteral("pkyBlob, fldName, fldSize, fldDescription")
                                     : QStringLiteral("pkyBlob, fldName, fldSize, fldDescription, fldContents"),
                               entry.at(BlobCode));
    if (!blob.next()) {
        stop((empty ? tr("Error al descargar información del archivo con código: %1")
                    : tr("Error al descargar archivo con código: %1")).arg(entry.at(ObjectCode)),
             KT::ErrorMessage, downloadSource);
        return false;
    }
    const QString path = downloadsPath() + QLatin1Char('/') + entry.at(Folder) + QLatin1Char('/') + blob.value(3).toString();
    if (!writeFile(path, empty ? QByteArray() : blob.value(4).toByteArray(), entry))
        return false;
    if (!empty)
        emit objectDownloadStatusUpdated(blob.value(1).toString(), 1);
    return true;
}

bool KTDownloader::downloadClientEntry(const QString& objectName, const QStringList& entry)
{
    if (entry.at(State) != QLatin1String("0"))
        return true;
    QSqlQuery blob = blobQuery(QStringLiteral("pkyBlob, fldName, fldSize, fldDescription, fldContents, fldSHA1"),
                               entry.at(BlobCode));
    if (!blob.next()) {
        stop(tr("Error al descargar archivo con código: %1").arg(entry.at(ObjectCode)), KT::ErrorMessage,
             downloadSource);
        return false;
    }
    const QString path = downloadsPath() + QLatin1Char('/') + entry.at(Folder) + QLatin1Char('/') + blob.value(3).toString();
    if (!writeFile(path, blob.value(4).toByteArray(), entry))
        return false;
    for (const QStringList& same : _clientDownloadMap.values(objectName))
        if (same.at(Sha1) == blob.value(5).toString())
            emit clientObjectDownloadStatusUpdated(blob.value(1).toString(), 1, same.at(Platform).toInt());
    return true;
}

// The file goes in place only when its contents have the size and the
// SHA-1 the upgrade database holds for it, checked once more as written;
// otherwise it is deleted and the download fails, so that the release is
// never offered half right.
bool KTDownloader::writeFile(const QString& path, const QByteArray& contents, const QStringList& entry)
{
    const QString name = QFileInfo(path).fileName();
    if (!matches(contents, entry)) {
        QFile::remove(path);
        stop(tr("El archivo %1 descargado no coincide con el tamaño o la firma SHA-1 de la versión; se descartó")
                 .arg(name), KT::ErrorMessage, downloadSource);
        return false;
    }
    if (!KTFileReplacer::write(path, contents, written)) {
        QFile::remove(path);
        stop(tr("No se pudo grabar archivo : %1").arg(path), KT::ErrorMessage, downloadSource);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !matches(file.readAll(), entry)) {
        file.close();
        QFile::remove(path);
        stop(tr("El archivo %1 no quedó grabado completo; se descartó").arg(name), KT::ErrorMessage, downloadSource);
        return false;
    }
    return true;
}

bool KTDownloader::matches(const QByteArray& contents, const QStringList& entry)
{
    return QString::number(contents.size()) == entry.at(Size).trimmed()
        && QString::fromLatin1(QCryptographicHash::hash(contents, QCryptographicHash::Sha1).toBase64()) == entry.at(Sha1);
}

void KTDownloader::writeIndex(const QString& file, const QString& group, const QString& version,
                              const QString& commandsKey, const QString& commands, const QMap<QString, QString>& files)
{
    QSettings index(downloadsPath() + QLatin1Char('/') + file, QSettings::IniFormat);
    index.beginGroup(group);
    index.setValue(group == QLatin1String("ServerValues") ? QStringLiteral("ServerVersion") : QStringLiteral("ClientVersion"),
                   version);
    index.setValue(commandsKey, commands);
    index.endGroup();
    index.beginGroup(QStringLiteral("Files"));
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        index.setValue(it.key(), it.value());
    index.endGroup();
    index.sync();
}
