#ifndef KTDOWNLOADTHREAD_H
#define KTDOWNLOADTHREAD_H

#include <QMap>
#include <QMultiMap>
#include <QStringList>
#include <QThread>

// One check, and the download it may lead to, on a thread of their own; the
// downloader's signals are relayed as the thread's.
class KTDownloadThread : public QThread
{
    Q_OBJECT
public:
    explicit KTDownloadThread(QObject* parent = nullptr);

    // Set before each start.
    void setAccount(const QString& companyName, const QString& password);
    void setApplicationDirectory(const QString& directory) { _applicationDirectory = directory; }

Q_SIGNALS:
    void downloadUpdatesRequested();
    void eventMessage(const QString& message, int type, const QString& source);
    void upgradeStatusChanged(int status);
    void downloadListUpdated(QMap<QString, QStringList> serverTable, QMultiMap<QString, QStringList> clientTable,
                             QString serverUpgradeLog, QString serverCommands, QString clientUpgradeLog,
                             QString clientCommands);
    void objectDownloadStatusUpdated(const QString objectName, int status);
    void clientObjectDownloadStatusUpdated(const QString objectName, int status, int platform);
    void downloadCompleted();

protected:
    void run() override;

private:
    QString _companyName;
    QString _password;
    QString _applicationDirectory;
};

#endif
