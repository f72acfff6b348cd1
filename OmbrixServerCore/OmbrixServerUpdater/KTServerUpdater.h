#ifndef KTSERVERUPDATER_H
#define KTSERVERUPDATER_H

#include <QMap>
#include <QMultiMap>
#include <QObject>
#include <QStringList>

class KTDownloadThread;

// The panel's updater: checks the upgrade database for new releases and
// downloads them on a thread of its own, and installs a downloaded server
// release by running its SQL commands, replacing the runner and handing
// over to it.
class KTServerUpdater : public QObject
{
    Q_OBJECT
public:
    // The panel's exit code after an install under the service, which then
    // installs the release with the runner and starts the panel again.
    static constexpr int serviceRestartExitCode = 75;

    explicit KTServerUpdater(QObject* parent = nullptr);
    ~KTServerUpdater() override;

    // Where the installation and its Downloads folder lie; the program's folder by default.
    void setApplicationDirectory(const QString& directory) { _applicationDirectory = directory; }
    QString applicationDirectory() const { return _applicationDirectory; }
    bool isRunning() const;
    // Ends a check or download in progress and waits for its thread.
    void stop();

public Q_SLOTS:
    void checkUpdates(const QString& companyName, const QString& password);
    void downloadUpdates();
    void performInstall(const QString& serverCommands);
    void executeProcess();

Q_SIGNALS:
    void eventMessage(const QString& message, int type, const QString& source);
    void upgradeStatusChanged(int status);
    void downloadListUpdated(QMap<QString, QStringList> serverTable, QMultiMap<QString, QStringList> clientTable,
                             QString serverUpgradeLog, QString serverCommands, QString clientUpgradeLog,
                             QString clientCommands);
    void objectDownloadStatusUpdated(const QString objectName, int status);
    void clientObjectDownloadStatusUpdated(const QString objectName, int status, int platform);
    void downloadCompleted();
    void upgradeThreadStarted();
    void upgradeThreadFinished();
    void downloadUpdatesRequested();
    void customQueryRequested(QString query);

private:
    bool replaceRunner();

    KTDownloadThread* _downloadThread;
    QString _applicationDirectory;
};

#endif
