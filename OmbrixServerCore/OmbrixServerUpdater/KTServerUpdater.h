#ifndef KTSERVERUPDATER_H
#define KTSERVERUPDATER_H

#include <QMap>
#include <QMultiMap>
#include <QObject>
#include <QStringList>

class KTDatabaseController;
class KTDownloadThread;

// The panel's updater: checks the upgrade database for new releases and
// downloads them on a thread of its own, and installs a downloaded server
// release by running its SQL commands, replacing the runner and handing
// over to it. A release's SQL lines run once: at Install, or at the next
// start when the runner put the release in place without one.
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
    // The server database a release's SQL lines run on.
    void setDbController(KTDatabaseController* dbController) { _dbController = dbController; }
    // Ends a check or download under way and waits for its thread, which
    // then removes its database connection itself.
    void stop();
    // Runs the SQL lines of a release the runner put in place without an
    // Install; false, after the error event, when one fails: the server
    // must not serve on a schema that does not fit its programs.
    bool runPendingCommands();

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

private:
    bool replaceRunner();
    bool runCommands(const QString& commands, const QString& release, const QString& source);
    void markCommandsExecuted();

    KTDownloadThread* _downloadThread;
    KTDatabaseController* _dbController = nullptr;
    QString _applicationDirectory;
};

#endif
