#ifndef KTMAINPANEL_H
#define KTMAINPANEL_H

#include <KTMainWindow.h>

#include <QHostAddress>
#include <QMap>
#include <QMutex>
#include <QStringList>

class KTCluster;
class KTDatabaseController;
class KTEventLog;
class KTPanelOptions;
class KTPanelView;
class KTPanetBase;
class KTServiceNotifier;
class KTStartupWait;
class KTStatusEndpoint;
class KTTlsCertificateWatcher;
class KTServerAuthorization;
class KTServerConnector;
class KTServerScheduler;
class KTServerUpdater;
class QAction;
class QLabel;
class QSettings;
class QTimer;
class QToolBar;

// The server process's window. It owns the server's core objects (database
// controller, updater, scheduler, connector, authorization model), wires their signals together,
// reads the settings, loads the panel pages and brings the database up; it is
// the concrete facade that libraries and pages reach through KTMainWindow.
class KTMainPanel : public KTMainWindow
{
    Q_OBJECT
public:
    explicit KTMainPanel(QWidget* parent = nullptr);
    ~KTMainPanel() override;

    void readServerSettings();
    // Shows the window at the geometry it had when the panel last stopped, or
    // on a first start at a size that shows the pages.
    void showWindow();
    // Once at start, after the pages are set up: a settings file that others
    // may read gives its passwords away.
    void warnIfSettingsReadable();
    // Once at start, after the first try to reach the database: a database
    // that did not answer is tried again until it does, and under a service
    // manager a server that is not serving by the start-up deadline ends.
    void startServing();
    // Under a service manager (OMBRIX_SERVICE in the environment) a failure
    // that leaves the server serving nothing ends it, for the manager to restart.
    bool serviceMode() const { return _serviceMode; }
    KTEventLog* eventLog() const { return _eventLog; }

    bool establishConnection() override;
    QList<quint64> tableMainStats(const QString& tableName) override;
    void clearTableMainStats() override;
    void setTableMainStats(const QString& tableName, QList<quint64> stats) override;
    QStandardItemModel* tableRecordDataModel() override;
    QString companyName() override { return _companyName; }
    QString companyID() override { return _companyID; }
    QString dbHost() override { return _dbHost; }
    QString dbName() override { return _dbName; }
    QString dbPort() override { return _dbPort; }
    QString dbType() override { return _dbType; }
    QString password() override { return _password; }
    QString ombrixPassword() override { return _ombrixPassword; }
    QString serverPort() override { return _serverPort; }
    QString systemObjects() override { return _systemObjects; }
    QStringList systemObjectsList() override { return _systemObjectsList; }

    KTDatabaseController* dbController() const { return _dbController; }
    KTServerConnector* connector() const { return _connector; }
    KTServerAuthorization* authorization() const { return _authorization; }
    KTServerScheduler* scheduler() const { return _scheduler; }
    KTServerUpdater* updater() const { return _updater; }
    // Null unless [Cluster] Broker names a broker.
    KTCluster* cluster() const { return _cluster; }
    KTPanelView* panelView() const { return _panelView; }
    QAction* panetAction(const QString& name) const { return _actionMap.value(name); }
    QStringList systemObjectsListClient() const { return _systemObjectsListClient; }

public Q_SLOTS:
    bool loadTablesFromFiles() override;
    void checkUpdates() override;
    void downloadUpdates() override;
    void loadSettings() override;
    void loadTableRecordData() override;
    void updateDatabase() override;
    void saveSettings() override;
    // The orderly end of the server, when the application quits: no new
    // clients, every user logged out, scheduler and updater stopped, layout saved.
    void shutDown();
    void stopOnSignal(int signalNumber);

    void listenConnections();
    void changeStatus(bool status);
    void sendKeepAlive();
    void reconnectDatabase();
    void executeCustomQuery(QString customQuery);
    void prepareInstallation(QString serverCommands);
    void showPanelOptions();
    void updatePanelValues(int rows, int columns);
    void panetSetChecked(QString name, bool shown);
    void showPanet(bool show);
    void loadPanets(QString dirName, bool recursive);

private:
    void checkConnectionCapacity();
    void checkAccountPrivileges();
    void setUpForm();
    void connectObjects();
    void connectUpdater();
    void readSystemObjects();
    void loadPanetFile(const QString& dirName, const QString& fileName);
    void setUpPanets();
    void setStatusIcon(const QString& resource);
    void retryFirstConnection();
    void pingDatabase();
    void startupTimedOut();
    void endService(const QString& reason);
    void updateServiceStatus();
    void startStatusEndpoint();
    void readTlsSettings(const QSettings& settings);
    void warnIfReadable(const QString& path, const QString& holds);
    bool listenPlain(const QHostAddress& address, QStringList* failures);
    bool listenEncrypted(const QHostAddress& address, QStringList* failures);
    void listenEncryptedLate();
    QString portsText() const;
    void setUpCluster(const QString& broker, const QString& instanceName, const QString& channel);
    void clusterStateChanged(bool up);
    void reloadSharedStatistics();

    KTEventLog* _eventLog = nullptr;
    KTDatabaseController* _dbController = nullptr;
    KTPanelOptions* _panelOptions = nullptr;
    KTPanelView* _panelView = nullptr;
    KTServerAuthorization* _authorization = nullptr;
    KTServerConnector* _connector = nullptr;
    KTServerScheduler* _scheduler = nullptr;
    KTServerUpdater* _updater = nullptr;
    bool _initServerSearchingUpdates = true;
    QLabel* _panelStatus = nullptr;
    QTimer* _keepAliveTimer = nullptr;
    QTimer* _reconnectTimer = nullptr;
    // A cheap statement every reconnection interval: a database that went
    // away is noticed even when no client is working.
    QTimer* _pingTimer = nullptr;
    KTStartupWait* _startupWait = nullptr;
    KTServiceNotifier* _notifier = nullptr;
    // Off unless [ServerSettings] StatusPort names a port.
    KTStatusEndpoint* _statusEndpoint = nullptr;
    quint16 _statusPort = 0;
    QString _statusAddress;
    bool _serviceMode = false;
    bool _endingService = false;
    // A try of the start-up wait whose failure the log does not need again.
    // Only the controller's errors are held back, and only during the try.
    bool _quietTry = false;
    // Why the port could not be opened, last time: the same reason is logged once.
    QString _listenFailure;
    // [ServerSettings] PlainPort=false leaves only the encrypted port.
    bool _plainPort = true;
    // Off unless [ServerSettings] TlsPort names a port.
    quint16 _tlsPort = 0;
    QString _tlsKeyFile;
    KTTlsCertificateWatcher* _tlsCertificates = nullptr;
    QAction* _actExit = nullptr;
    QAction* _actPanel = nullptr;
    QMap<QString, QAction*> _actionMap;
    QMap<QString, KTPanetBase*> _panetMap;
    QMap<QString, QToolBar*> _toolBarMap;
    QMap<QString, QList<quint64> > _tableMainStats;
    // With other instances on the database, the statistics are only current
    // while the broker brings their changes; until they are read again after
    // a loss none are given out, and every browse sends its rows.
    bool _statisticsTrusted = true;
    KTCluster* _cluster = nullptr;
    QMutex _mutex;
    QString _adminLogin;
    QString _adminPassword;
    QString _companyName;
    QString _companyID;
    QString _connectivityPassword;
    QString _dbHost;
    QString _dbName;
    QString _dbPort;
    QString _dbType;
    QString _password;
    QString _ombrixPassword;
    QString _serverPort;
    // Not set by the wizard: an installation may restrict the address it listens on.
    QString _listenAddress;
    QString _systemObjects;
    QString _systemObjectsClient;
    QStringList _systemObjectsList;
    QStringList _systemObjectsListClient;
};

#endif
