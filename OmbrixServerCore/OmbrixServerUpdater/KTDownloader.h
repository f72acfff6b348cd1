#ifndef KTDOWNLOADER_H
#define KTDOWNLOADER_H

#include <QMap>
#include <QMultiMap>
#include <QObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>

// Asks the upgrade database which server and client releases are assigned
// to the account, compares their files with what is installed and already
// downloaded, and downloads what is missing into the Downloads folders. It
// lives on the download thread, with a database connection of its own.
class KTDownloader : public QObject
{
    Q_OBJECT
public:
    // Positions in a download table entry.
    enum Entry { ObjectCode, BlobCode, RelativePath, Sha1, Size, ReleaseName, ReleaseVersion, ReleaseDate,
                 ReleaseDescription, ReleaseKind, State, UpgradeType, Folder, Platform };

    KTDownloader(const QString& applicationDirectory, const QString& companyName, const QString& password,
                 QObject* parent = nullptr);

public Q_SLOTS:
    void checkUpdates();
    void downloadUpdates();

Q_SIGNALS:
    void eventMessage(const QString& message, int type, const QString& source);
    void upgradeStatusChanged(int status);
    void downloadListUpdated(QMap<QString, QStringList> serverTable, QMultiMap<QString, QStringList> clientTable,
                             QString serverUpgradeLog, QString serverCommands, QString clientUpgradeLog,
                             QString clientCommands);
    void objectDownloadStatusUpdated(const QString objectName, int status);
    void clientObjectDownloadStatusUpdated(const QString objectName, int status, int platform);
    void downloadCompleted();
    void upgradeTerminated();

private:
    bool connectToUpgradeDatabase();
    QSqlQuery accountQuery(const QString& product);
    QSqlQuery fileList(int softwareType, const QString& platform, const QString& version);
    bool downloadedState(const QString& folder, const QString& fileName, const QString& sha1, QString* state);
    bool synchronise(const QString& column, const QString& installed, const QString& recorded, bool server);
    bool buildServerTable();
    bool buildClientTable();
    bool clientRow(const QSqlQuery& rows, QMap<int, QMap<QString, QString>>* downloaded);
    QString fileListQuery(int softwareType, const QString& platform, const QString& version) const;
    QString releaseTexts(const QString& column, int softwareType, const QString& platform, const QString& from,
                         const QString& to, const QString& source);
    void recurseDirectory(const QString& dirName);
    // Object name to file name of the files in a download folder.
    QMap<QString, QString> downloadedFiles(const QString& folder, int platform) const;
    QString fileDigest(const QString& path, bool* readable) const;
    QString blobFileName(const QStringList& entry);
    bool downloadServerEntry(const QStringList& entry);
    bool downloadClientEntry(const QString& objectName, const QStringList& entry);
    bool writeFile(const QString& path, const QByteArray& contents, const QStringList& entry);
    static bool matches(const QByteArray& contents, const QStringList& entry);
    bool interrupted();
    QSqlQuery blobQuery(const QString& columns, const QString& blobCode);
    void writeIndex(const QString& file, const QString& group, const QString& version, const QString& commandsKey,
                    const QString& commands, const QMap<QString, QString>& files);
    QString installedClientVersion() const;
    QString quoted(const QString& text) const;
    QString downloadsPath() const;

    void setStatus(int status);
    void stop(const QString& message, int type, const QString& source);
    void report(const QString& message, int type, const QString& source = QString());

    QString _applicationDirectory;
    int _upgradeStatus = 0;
    QMap<QString, QString> _fileMap;
    QMap<QString, QStringList> _downloadMap;
    QMultiMap<QString, QStringList> _clientDownloadMap;
    QString _clientCommands;
    QString _clientUpgradeLog;
    QString _serverCommands;
    QString _serverUpgradeLog;
    QString _companyName;
    QString _password;
    QString _currentRegisteredVersion;
    QString _upgradeServerVersion;
    QString _upgradeClientVersion;
};

#endif
