#include "KTMainPanel.h"

#include "KTEventLog.h"
#include "KTPanelOptions.h"
#include "KTPanelView.h"
#include "KTPanelViewPage.h"
#include "KTMetricsFeed.h"
#include "KTServiceNotifier.h"
#include "KTStartupWait.h"
#include "KTStatusEndpoint.h"
#include "KTTlsCertificateWatcher.h"

#include <KT.h>
#include <KTAccountPrivileges.h>
#include <KTCluster.h>
#include <KTClusterBroker.h>
#include <KTDatabaseController.h>
#include <KTFrame.h>
#include <KTInstallationPaths.h>
#include <KTPanetBase.h>
#include <KTPluginLoader.h>
#include <KTServerAuthorization.h>
#include <KTServerConnector.h>
#include <KTServerScheduler.h>
#include <KTServerUpdater.h>
#include <KTSettingsFile.h>
#include <KTTcpSocket.h>
#include <KTVersion.h>

#include <QAction>
#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMutexLocker>
#include <QScreen>
#include <QSettings>
#include <QSqlQuery>
#include <QSqlDatabase>
#include <QSqlError>
#include <QStatusBar>
#include <QTextStream>
#include <QTimer>
#include <QToolBar>

namespace {

const QString mapsDirectory = QStringLiteral("OmbrixServerComponents/OmbrixDbMaps");
constexpr int keepAliveInterval = 600000;
constexpr int defaultReconnectInterval = 5000;
constexpr int defaultStartupTimeoutSeconds = 120;
// Any status but 0 and the installer's 75 makes the service manager start the server again.
constexpr int serviceFailureStatus = 1;
// The panel's own database connection, and one to spare for an operator's tool.
constexpr int ownDatabaseConnections = 2;
constexpr int panelLockWaitSeconds = 5;
// The options dialog offers 1 to 9 rows and columns; more tabs than this is no saved layout.
constexpr int maxGridSize = 9;
constexpr int maxTabs = 20;
const QString defaultRows = QStringLiteral("2");
const QString defaultColumns = QStringLiteral("1");
// Shown on a first start, when no layout has been saved yet.
const QString logPanetName = QStringLiteral("LogPanet");
const QString defaultPanets = QStringLiteral("LogPanet--0,0,0|ConnectorPanet--0,1,0");
const QSize minimumFirstSize(1024, 700);

int inRange(int value, int maximum, const QString& fallback)
{
    return value >= 1 && value <= maximum ? value : fallback.toInt();
}

} // namespace

KTMainPanel::KTMainPanel(QWidget* parent)
    : KTMainWindow(parent)
    , _serviceMode(qEnvironmentVariableIsSet("OMBRIX_SERVICE"))
{
    setUpForm();
    // First, so that it holds every event, including those the pages miss.
    _eventLog = new KTEventLog(KTInstallationPaths::logDirectory(), this);
    _eventLog->setEchoToStandardError(_serviceMode || _eventLog->echoesToStandardError());
    _eventLog->setJournalPriorities(_serviceMode);
    connect(this, &KTMainWindow::eventMessage, _eventLog, &KTEventLog::appendEvent);
    qRegisterMetaType<QMap<QString, QStringList> >("QMap <QString, QStringList>");
    qRegisterMetaType<QMultiMap<QString, QStringList> >("QMultiMap<QString, QStringList>");
    qRegisterMetaType<QList<int> >("QList<int>");
    qRegisterMetaType<QList<QStringList> >("QList<QStringList>");
    setWindowIcon(QIcon(QStringLiteral(":/Resources/Images/imgOmbrixServerLogo.png")));

    _panelOptions = new KTPanelOptions;
    _panelView = new KTPanelView(this);
    _dbController = new KTDatabaseController(this);
    _updater = new KTServerUpdater(this);
    _scheduler = new KTServerScheduler(this);
    _connector = new KTServerConnector(this);
    // Relative paths resolve against the working directory, the application directory.
    _connector->setApplicationDirectory(QDir::currentPath());
    _updater->setApplicationDirectory(QDir::currentPath());
    _updater->setDbController(_dbController);
    _authorization = new KTServerAuthorization(this);
    _keepAliveTimer = new QTimer(this);
    _reconnectTimer = new QTimer(this);
    _reconnectTimer->setInterval(defaultReconnectInterval);
    _pingTimer = new QTimer(this);
    _pingTimer->setInterval(defaultReconnectInterval);
    _startupWait = new KTStartupWait(this);
    _startupWait->setInterval(defaultReconnectInterval);
    _notifier = new KTServiceNotifier(this);
    _statusEndpoint = new KTStatusEndpoint(_connector, _dbController, this);
    _tlsCertificates = new KTTlsCertificateWatcher(this);
    auto* metricsFeed = new KTMetricsFeed(_connector->metrics(), this);
    metricsFeed->watch(_dbController);
    metricsFeed->watch(_scheduler);
    metricsFeed->watch(_updater);
    setCentralWidget(_panelView);

    _panelStatus = new QLabel(this);
    setStatusIcon(QStringLiteral(":/Resources/Images/imgPanelOk.png"));
    statusBar()->addPermanentWidget(_panelStatus);
    statusBar()->setSizeGripEnabled(true);
    connectObjects();
}

// The connector goes first: its connection threads close their own database
// connections, and only then are the remaining named connections removed.
KTMainPanel::~KTMainPanel()
{
    // A check under way uses its connection until its thread ends.
    _updater->stop();
    _statusEndpoint->stop();
    _connector->shutDown();
    delete _connector;
    _connector = nullptr;
    delete _panelOptions;
    _dbController->closeConnection(KTVersion::dbUserName());
    for (const QString& name : QSqlDatabase::connectionNames()) {
        qDebug() << "KTMainPanel::~KTMainPanel()";
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            if (db.isOpen())
                db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
}

void KTMainPanel::setUpForm()
{
    setObjectName(QStringLiteral("uiKTMainPanel"));
    setWindowTitle(tr("Ombrix Server Panel"));
    resize(600, 400);
    _actExit = new QAction(QIcon(QStringLiteral(":/Resources/Images/imgExit.png")), tr("&Salir"), this);
    _actExit->setObjectName(QStringLiteral("actExit"));
    _actPanel = new QAction(QIcon(QStringLiteral(":/Resources/Images/imgPanel.png")), tr("&Panel"), this);
    _actPanel->setObjectName(QStringLiteral("actPanel"));
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("mnuBar"));
    QMenu* actions = bar->addMenu(tr("&Acciones"));
    actions->setObjectName(QStringLiteral("menu_Archivo"));
    actions->addAction(_actExit);
    QMenu* options = bar->addMenu(tr("&Opciones"));
    options->setObjectName(QStringLiteral("menu_Opciones"));
    options->addAction(_actPanel);
    bar->addMenu(tr("&Ayuda"))->setObjectName(QStringLiteral("menu_Ayuda"));
    statusBar()->setObjectName(QStringLiteral("statusBar"));
}

void KTMainPanel::connectObjects()
{
    connect(_keepAliveTimer, &QTimer::timeout, this, &KTMainPanel::sendKeepAlive);
    _keepAliveTimer->start(keepAliveInterval);
    connect(_reconnectTimer, &QTimer::timeout, this, &KTMainPanel::reconnectDatabase);
    connect(_pingTimer, &QTimer::timeout, this, &KTMainPanel::pingDatabase);
    connect(_startupWait, &KTStartupWait::retry, this, &KTMainPanel::retryFirstConnection);
    connect(_startupWait, &KTStartupWait::deadlinePassed, this, &KTMainPanel::startupTimedOut);
    // A connection that lost the database makes the panel look at its own at once.
    // Once the loss is known, the reconnection timer has it in hand.
    connect(_connector, &KTServerConnector::databaseLost, this, [this] {
        if (!_dbController->connectionLost())
            sendKeepAlive();
    });
    connect(_actExit, &QAction::triggered, this, &QWidget::close);
    connect(_actPanel, &QAction::triggered, this, &KTMainPanel::showPanelOptions);
    connect(_panelOptions, &KTPanelOptions::valuesUpdated, this, &KTMainPanel::updatePanelValues);
    connect(_panelView, &KTPanelView::panetShowRequest, this, &KTMainPanel::panetSetChecked);

    connect(_connector, &KTServerConnector::eventMessage, this, &KTMainWindow::eventMessage);
    // The connections write their events to the file themselves; the log page gets them in batches.
    _connector->setEventSink(_eventLog);
    connect(_connector, &KTServerConnector::connectionEvents, this, &KTMainWindow::eventsLogged);
    connect(_connector, &KTServerConnector::updateTableRecordDataModelRequested, _dbController,
            &KTDatabaseController::updateTableRecordDataModel);

    connect(_connector, &KTServerConnector::scheduleRequested, _scheduler, &KTServerScheduler::schedule);
    connect(_connector, &KTServerConnector::updateTaskScheduler, _scheduler,
            qOverload<>(&KTServerScheduler::updateData));
    connect(_scheduler, &KTServerScheduler::eventMessage, this, &KTMainWindow::eventMessage);
    connect(_scheduler, &KTServerScheduler::schedulerModelCreated, this, &KTMainWindow::schedulerModelCreated);
    connect(_scheduler, &KTServerScheduler::broadcastActionRequest, _connector, &KTServerConnector::broadcastAction);

    connectUpdater();
    connect(_dbController, &KTDatabaseController::eventMessage, this,
            [this](const QString& message, int type, const QString& location) {
                // Only the failure of a quiet try goes unsaid; its success is news.
                if (!_quietTry || type != KT::ErrorMessage)
                    emit eventMessage(message, type, location);
            });
    connect(_dbController, &KTDatabaseController::statusMessage, statusBar(),
            [this](const QString& message) { statusBar()->showMessage(message); });
    connect(_dbController, &KTDatabaseController::dbStatusChanged, this, &KTMainPanel::changeStatus);
    connect(_authorization, &KTServerAuthorization::eventMessage, this, &KTMainWindow::eventMessage);
    connect(_tlsCertificates, &KTTlsCertificateWatcher::eventMessage, this, &KTMainWindow::eventMessage);
    connect(_tlsCertificates, &KTTlsCertificateWatcher::configurationChanged, _connector,
            &KTServerConnector::setTlsConfiguration);
    connect(_tlsCertificates, &KTTlsCertificateWatcher::configurationChanged, this,
            &KTMainPanel::listenEncryptedLate);
    connect(qApp, &QCoreApplication::aboutToQuit, this, &KTMainPanel::shutDown);
}

// ---------------------------------------------------------------------------
// Settings

void KTMainPanel::readServerSettings()
{
    _ombrixPassword = KTVersion::ombrixServerPassword();
    readSystemObjects();
    QSettings settings(KTInstallationPaths::serverSettingsFile(), QSettings::IniFormat);
    _serverPort = settings.value(QStringLiteral("ServerSettings/ServerPort")).toString();
    _listenAddress = settings.value(QStringLiteral("ServerSettings/ListenAddress")).toString();
    const int statusPort = settings.value(QStringLiteral("ServerSettings/StatusPort")).toInt();
    _statusPort = statusPort > 0 && statusPort <= 65535 ? quint16(statusPort) : 0;
    _statusAddress = settings.value(QStringLiteral("ServerSettings/StatusAddress"), QStringLiteral("127.0.0.1")).toString();
    const int reconnectInterval = settings.value(QStringLiteral("ServerSettings/ReconnectInterval")).toInt();
    _reconnectTimer->setInterval(reconnectInterval > 0 ? reconnectInterval : defaultReconnectInterval);
    _pingTimer->setInterval(_reconnectTimer->interval());
    _startupWait->setInterval(_reconnectTimer->interval());
    const int startupTimeout = settings.value(QStringLiteral("ServerSettings/StartupTimeout")).toInt();
    _startupWait->setDeadline(_serviceMode ? 1000 * (startupTimeout > 0 ? startupTimeout : defaultStartupTimeoutSeconds)
                                           : 0);
    // A missing, malformed or non-positive bound keeps the default.
    const int maxConnections = settings.value(QStringLiteral("ServerSettings/MaxConnections")).toInt();
    _connector->setMaxConnections(maxConnections > 0 ? maxConnections : KTServerConnector::defaultMaxConnections);
    const qint64 maxFrameSize = settings.value(QStringLiteral("ServerSettings/MaxFrameSize")).toLongLong();
    _connector->setMaxFrameSize(maxFrameSize > 0 ? maxFrameSize : KTFrame::defaultMaxSize);
    const int logDays = settings.value(QStringLiteral("ServerSettings/LogDays")).toInt();
    _eventLog->removeOlderThan(logDays > 0 ? logDays : KTEventLog::defaultKeepDays);
    const qint64 maxPendingBytes = settings.value(QStringLiteral("ServerSettings/MaxPendingBytes")).toLongLong();
    _connector->setMaxPendingBytes(maxPendingBytes > 0 ? maxPendingBytes : KTTcpSocket::defaultMaxPendingBytes);
    const int negotiationTimeout = settings.value(QStringLiteral("ServerSettings/NegotiationTimeout")).toInt();
    _connector->setNegotiationTimeout(1000 * (negotiationTimeout > 0 ? negotiationTimeout
                                                                     : KTConnectionLimits::defaultNegotiationTimeoutMs / 1000));
    const int frameTimeout = settings.value(QStringLiteral("ServerSettings/FrameTimeout")).toInt();
    _connector->setFrameTimeout(1000 * (frameTimeout > 0 ? frameTimeout : KTConnectionLimits::defaultFrameTimeoutMs / 1000));
    const int statementSeconds = settings.value(QStringLiteral("ServerSettings/StatementTimeLimit")).toInt();
    const int lockWaitSeconds = settings.value(QStringLiteral("ServerSettings/LockWaitTimeout")).toInt();
    _connector->setStatementLimits(statementSeconds > 0 ? statementSeconds : KTConnectionLimits::defaultStatementSeconds,
                                   lockWaitSeconds > 0 ? lockWaitSeconds : KTConnectionLimits::defaultLockWaitSeconds);
    const int requestSeconds = settings.value(QStringLiteral("ServerSettings/RequestTimeLimit")).toInt();
    _connector->setRequestTimeLimit(requestSeconds > 0 ? requestSeconds : KTConnectionLimits::defaultRequestSeconds);
    const int perAddress = settings.value(QStringLiteral("ServerSettings/MaxUnauthenticatedPerAddress")).toInt();
    _connector->setMaxUnauthenticatedPerAddress(perAddress > 0 ? perAddress
                                                               : KTServerConnector::defaultMaxUnauthenticatedPerAddress);
    _initServerSearchingUpdates = settings.value(QStringLiteral("ServerSettings/InitServerSearchingUpdates"), true).toBool();
    _companyName = settings.value(QStringLiteral("LicenseInfo/Company")).toString();
    _companyID = settings.value(QStringLiteral("LicenseInfo/ID")).toString();
    _password = settings.value(QStringLiteral("LicenseInfo/Password")).toString();
    _dbType = settings.value(QStringLiteral("Database/Type")).toString();
    _dbHost = settings.value(QStringLiteral("Database/Host")).toString();
    _dbPort = settings.value(QStringLiteral("Database/DbPort")).toString();
    _dbName = settings.value(QStringLiteral("Database/DbName")).toString();
    _adminLogin = settings.value(QStringLiteral("AdminUser/Login")).toString();
    _adminPassword = settings.value(QStringLiteral("AdminUser/Password")).toString();
    _connectivityPassword = settings.value(QStringLiteral("AdminUser/ConnectivityPassword")).toString();
    readTlsSettings(settings);
    const QString broker = settings.value(QStringLiteral("Cluster/Broker")).toString().trimmed();
    if (!broker.isEmpty() && !_cluster)
        setUpCluster(broker, settings.value(QStringLiteral("Cluster/InstanceName")).toString().trimmed(),
                     settings.value(QStringLiteral("Cluster/Channel")).toString().trimmed());
}

// Relative file names are taken from the folder of the settings file.
void KTMainPanel::readTlsSettings(const QSettings& settings)
{
    _plainPort = settings.value(QStringLiteral("ServerSettings/PlainPort"), true).toBool();
    const int tlsPort = settings.value(QStringLiteral("ServerSettings/TlsPort")).toInt();
    _tlsPort = tlsPort > 0 && tlsPort <= 65535 ? quint16(tlsPort) : 0;
    if (_tlsPort == 0)
        return;
    const QDir folder = QFileInfo(KTInstallationPaths::serverSettingsFile()).absoluteDir();
    const auto file = [&](const QString& key) {
        const QString name = settings.value(key).toString();
        return name.isEmpty() ? QString() : folder.absoluteFilePath(name);
    };
    _tlsKeyFile = file(QStringLiteral("ServerSettings/TlsPrivateKey"));
    if (_tlsCertificates->watch(file(QStringLiteral("ServerSettings/TlsCertificate")), _tlsKeyFile,
                                file(QStringLiteral("ServerSettings/TlsCaCertificates"))))
        _connector->setTlsConfiguration(_tlsCertificates->configuration());
}

// Instances meet on a channel named after their database unless told otherwise.
void KTMainPanel::setUpCluster(const QString& broker, const QString& instanceName, const QString& channel)
{
    const KTBrokerAddress address = KTBrokerAddress::parse(broker);
    if (!address.valid()) {
        emit eventMessage(tr("[Cluster] Broker '%1' no es válido: %2. El servidor funciona como instancia única")
                              .arg(broker, address.error()), KT::ErrorMessage, QStringLiteral("KTMainPanel::setUpCluster()"));
        return;
    }
    _cluster = new KTCluster(address, instanceName.isEmpty() ? KTCluster::defaultInstanceName(_serverPort) : instanceName,
                             channel.isEmpty() ? QStringLiteral("ombrix:%1:%2").arg(_dbHost, _dbName) : channel, this);
    _statisticsTrusted = false;
    _cluster->attach(_connector);
    KTClusterBroker* link = _cluster->broker();
    connect(_dbController, &KTDatabaseController::tableRecordDataChanged, link, &KTClusterBroker::publishStatistics);
    connect(link, &KTClusterBroker::statisticsReceived, _dbController, &KTDatabaseController::applyTableRecordDelta);
    // A task scheduled or changed on another instance is due here too, so
    // that it fires (once, as the task runs in the database see to) wherever
    // the first tick comes.
    connect(link, &KTClusterBroker::tableChangedElsewhere, this, [this](const QString& table) {
        if (table == QLatin1String("srvTaskScheduler") || table == QLatin1String("srvUserTask"))
            _scheduler->updateData();
    });
    connect(link, &KTClusterBroker::messagesLost, this, &KTMainPanel::reloadSharedStatistics);
    connect(_cluster, &KTCluster::stateChanged, this, &KTMainPanel::clusterStateChanged);
    connect(_cluster, &KTCluster::eventMessage, this, &KTMainWindow::eventMessage);
    _statusEndpoint->setCluster(_cluster);
}

void KTMainPanel::clusterStateChanged(bool up)
{
    if (up) {
        reloadSharedStatistics();
        return;
    }
    QMutexLocker locker(&_mutex);
    _statisticsTrusted = false;
}

// Changes made on other instances while their messages could not arrive are
// in the statistics table: read again before they are trusted.
void KTMainPanel::reloadSharedStatistics()
{
    {
        QMutexLocker locker(&_mutex);
        _statisticsTrusted = false;
    }
    if (!_dbController->connectionStatus() || !_dbController->tableRecordDataModel()
        || !_dbController->refreshTableRecordData())
        return;
    QMutexLocker locker(&_mutex);
    _statisticsTrusted = _cluster && _cluster->brokerUp();
}

void KTMainPanel::readSystemObjects()
{
    _systemObjectsList.clear();
    _systemObjectsListClient.clear();
    QFile file(KTInstallationPaths::systemObjectsFile());
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QStringList* section = &_systemObjectsList;
        QTextStream stream(&file);
        while (!stream.atEnd()) {
            const QString line = stream.readLine().simplified();
            if (line.isEmpty())
                continue;
            if (line == QLatin1String("[ServerFiles]"))
                section = &_systemObjectsList;
            else if (line == QLatin1String("[ClientFiles]"))
                section = &_systemObjectsListClient;
            else
                *section << line.section(QLatin1Char('='), 0, 0).trimmed();
        }
    }
    _systemObjects = _systemObjectsList.join(QLatin1Char(','));
    _systemObjectsClient = _systemObjectsListClient.join(QLatin1Char(','));
}

void KTMainPanel::loadSettings()
{
    QSettings settings(KTInstallationPaths::panelLayoutFile(), QSettings::IniFormat);
    // A size out of range (edited by hand, or damaged) would build no grid or a huge one.
    const int columns = inRange(settings.value(QStringLiteral("PanelSettings/PanelColumns"), defaultColumns).toInt(),
                                maxGridSize, defaultColumns);
    const int rows = inRange(settings.value(QStringLiteral("PanelSettings/PanelRows"), defaultRows).toInt(),
                             maxGridSize, defaultRows);
    const int tabs = inRange(settings.value(QStringLiteral("PanelSettings/Tabs"), QStringLiteral("1")).toInt(), maxTabs,
                             QStringLiteral("1"));
    // Written by hand without quotes, the commas make QSettings read a list.
    const QVariant activated = settings.value(QStringLiteral("PanelSettings/ActivatedPanets"), defaultPanets);
    const QString saved = activated.userType() == QMetaType::QStringList ? activated.toStringList().join(QLatin1Char(','))
                                                                          : activated.toString();
    QStringList entries = saved.split(QLatin1Char('|'));
    if (entries == QStringList{QString()})
        entries.clear();

    _panelOptions->setSize(rows, columns);
    _panelView->setPageSize(rows, columns);
    for (int tab = 1; tab < tabs; ++tab)
        _panelView->updateTabs();
    QMap<QString, QString> placed;
    for (const QString& entry : entries)
        placed.insert(entry.section(QStringLiteral("--"), 1), entry.section(QStringLiteral("--"), 0, 0));
    for (auto it = placed.cbegin(); it != placed.cend(); ++it) {
        QAction* action = _actionMap.value(it.value());
        if (!action)
            continue;
        _panelView->setCurrentIndex(it.key().section(QLatin1Char(','), 0, 0).toInt());
        action->trigger();
    }
}

void KTMainPanel::saveSettings()
{
    QStringList entries;
    for (int tab = 0; tab < _panelView->count(); ++tab) {
        const KTPanelViewPage* page = _panelView->page(tab);
        if (!page)
            continue;
        const auto positions = page->panetPosition();
        for (auto it = positions.cbegin(); it != positions.cend(); ++it)
            entries << QStringLiteral("%1--%2,%3,%4").arg(it.key()->name()).arg(tab).arg(it.value().first).arg(it.value().second);
    }
    // In the state folder, which the service's user owns: replaced whole, never half-written.
    QSettings settings(KTInstallationPaths::panelLayoutFile(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("PanelSettings/Geometry"), saveGeometry());
    settings.setValue(QStringLiteral("PanelSettings/PanelColumns"), _panelOptions->columnCount());
    settings.setValue(QStringLiteral("PanelSettings/PanelRows"), _panelOptions->rowCount());
    settings.setValue(QStringLiteral("PanelSettings/Tabs"), _panelView->count());
    settings.setValue(QStringLiteral("PanelSettings/ActivatedPanets"), entries.join(QLatin1Char('|')));
}

void KTMainPanel::showWindow()
{
    QSettings settings(KTInstallationPaths::panelLayoutFile(), QSettings::IniFormat);
    if (!restoreGeometry(settings.value(QStringLiteral("PanelSettings/Geometry")).toByteArray())) {
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        resize((screen.size() * 0.8).expandedTo(minimumFirstSize));
        move(screen.center() - rect().center());
    }
    show();
}

void KTMainPanel::warnIfSettingsReadable()
{
    warnIfReadable(KTInstallationPaths::serverSettingsFile(), tr("contraseñas"));
    if (_tlsPort != 0 && !_tlsKeyFile.isEmpty())
        warnIfReadable(_tlsKeyFile, tr("la clave privada del puerto cifrado"));
}

void KTMainPanel::warnIfReadable(const QString& path, const QString& holds)
{
    if (KTSettingsFile::readableByOthers(path))
        emit eventMessage(tr("Otros usuarios pueden leer el archivo %1, que guarda %2: déjelo legible solo "
                             "por su dueño (chmod 600 %1).").arg(path, holds),
                          KT::WarningMessage, QStringLiteral("KTMainPanel::warnIfSettingsReadable()"));
}

// ---------------------------------------------------------------------------
// Shut-down

void KTMainPanel::shutDown()
{
    _notifier->stopping();
    _pingTimer->stop();
    _statusEndpoint->stop();
    _startupWait->served();
    _connector->shutDown();
    _scheduler->stop();
    _updater->stop();
    saveSettings();
}

// A stop signal from the system (the service stopping, Ctrl+C, a closed
// terminal) ends the panel as its Quit action does.
void KTMainPanel::stopOnSignal(int signalNumber)
{
    emit eventMessage(tr("Se recibió la señal %1: el servidor se detiene").arg(signalNumber), KT::InformationMessage,
                      QStringLiteral("KTMainPanel::stopOnSignal()"));
    close();
    // A modal dialog may still be open; quitting ends its loop too.
    QCoreApplication::quit();
}

// ---------------------------------------------------------------------------
// Database

bool KTMainPanel::establishConnection()
{
    if (!_dbController->establishConnection(KTVersion::dbUserName(), dbType(), dbHost(), dbName(),
                                            KTVersion::dbUserName(), password(), dbPort().toInt(), mapsDirectory,
                                            QString()))
        return false;
    // The main thread serves every connection's registry, logouts and
    // cancellations: a client's table lock may hold it up a few seconds at
    // most, never for as long as the lock lasts.
    _dbController->setSessionLimits(0, panelLockWaitSeconds);
    _connector->setDbParams({dbType(), dbHost(), dbName(), KTVersion::dbUserName(), password(), dbPort(), mapsDirectory});
    return true;
}

bool KTMainPanel::loadTablesFromFiles()
{
    if (!_dbController->loadTablesFromFiles(QStringLiteral("OmbrixDbData/Tables")))
        return false;
    _dbController->setAdminUser(_adminLogin, _adminPassword, KTVersion::ombrixClientVersionSimplified());
    _dbController->setCompany(_companyName, _companyID);
    return true;
}

void KTMainPanel::loadTableRecordData()
{
    _dbController->loadTableRecordData();
    if (_cluster && _dbController->connectionStatus()) {
        QMutexLocker locker(&_mutex);
        _statisticsTrusted = _cluster->brokerUp();
    }
}

void KTMainPanel::updateDatabase()
{
    _dbController->createTables(false);
    if (!_dbController->allTablesCreated())
        return;
    _dbController->createDataFromFiles(QStringLiteral("OmbrixDbData/Data"), QStringLiteral("OmbrixDbData/Blobs"), false);
    if (!_dbController->allDataLoaded())
        return;
    _dbController->fillSystemTables();
    _dbController->setAdminUser(_adminLogin, _adminPassword, KTVersion::ombrixClientVersionSimplified());
    // On a first start the company row did not exist yet when the definitions loaded.
    _dbController->setCompany(_companyName, _companyID);
    loadTableRecordData();
}

QStandardItemModel* KTMainPanel::tableRecordDataModel()
{
    return _dbController->tableRecordDataModel();
}

void KTMainPanel::changeStatus(bool status)
{
    emit databaseStatusChanged(status);
    if (!status) {
        _connector->closePorts();
        setStatusIcon(QStringLiteral(":/Resources/Images/imgPanelNotOk.png"));
        if (_dbController->connectionLost() && !_reconnectTimer->isActive())
            _reconnectTimer->start();
        updateServiceStatus();
        return;
    }
    _reconnectTimer->stop();
    checkConnectionCapacity();
    checkAccountPrivileges();
    // Files of a release whose SQL never ran: no client is served before it has.
    if (!_updater->runPendingCommands()) {
        setStatusIcon(QStringLiteral(":/Resources/Images/imgPanelNotOk.png"));
        return;
    }
    listenConnections();
    if (_dbController->allTablesLoaded()) {
        _connector->updateData(_dbController);
        _scheduler->updateData(_dbController);
        _authorization->updateData(_dbController);
        emit schedulerModelCreated(_scheduler->model());
        emit connectorModelCreated(_connector->model());
        emit authorizationModelCreated(_authorization->model());
    }
    setStatusIcon(QStringLiteral(":/Resources/Images/imgPanelOk.png"));
}

// Every logged-in client holds a MariaDB connection of its own: a server
// that allows more clients than MariaDB allows connections fails logins,
// and at worst leaves no connection for an operator.
void KTMainPanel::checkConnectionCapacity()
{
    QSqlQuery query = _dbController->customQuery(QStringLiteral("SELECT @@max_connections"));
    if (!query.next())
        return;
    const int available = query.value(0).toInt();
    const int needed = _connector->maxConnections() + ownDatabaseConnections;
    if (needed > available)
        emit eventMessage(tr("MariaDB admite %1 conexiones (max_connections) y este servidor puede necesitar %2 "
                             "(MaxConnections = %3 más %4 propias). Aumente max_connections en MariaDB o reduzca "
                             "[ServerSettings] MaxConnections.")
                              .arg(available).arg(needed).arg(_connector->maxConnections()).arg(ownDatabaseConnections),
                          KT::WarningMessage, QStringLiteral("KTMainPanel::checkConnectionCapacity()"));
}

// Whatever a statement of the server may still reach, its account bounds:
// the operator hears of rights beyond the server's own database.
void KTMainPanel::checkAccountPrivileges()
{
    const QStringList parameters = _dbController->dbParameters();
    const QString warning = KTAccountPrivileges::warning(
        parameters.value(KTDatabaseController::UserName),
        KTAccountPrivileges::excess(KTAccountPrivileges::grants(_dbController)),
        parameters.value(KTDatabaseController::DatabaseName));
    if (!warning.isEmpty())
        emit eventMessage(warning, KT::WarningMessage, QStringLiteral("KTMainPanel::checkAccountPrivileges()"));
}

void KTMainPanel::listenConnections()
{
    if (_connector->isServing())
        return;
    _connector->setUnitParams({_companyName, _connectivityPassword, _systemObjects, _systemObjectsClient});
    const QHostAddress address = _listenAddress.isEmpty() ? QHostAddress(QHostAddress::Any) : QHostAddress(_listenAddress);
    QStringList failures;
    const bool plainOpened = listenPlain(address, &failures);
    listenEncrypted(address, &failures);
    if (failures.isEmpty())
        _listenFailure.clear();
    if (_connector->isServing()) {
        _startupWait->served();
        _notifier->ready();
        updateServiceStatus();
    }
    // Every recovery of the database tries again; the same reasons are told once.
    const QString reason = failures.join(QLatin1Char('\n'));
    if (failures.isEmpty() || reason == _listenFailure)
        return;
    for (const QString& failure : std::as_const(failures))
        emit eventMessage(failure, KT::ErrorMessage, QStringLiteral("KTMainPanel::listenConnections()"));
    _listenFailure = reason;
    // A port it was told to open and could not: the manager starts it again.
    if (_serviceMode)
        endService(!plainOpened ? tr("sin el puerto %1 no puede atender a nadie").arg(_serverPort)
                                : tr("sin el puerto cifrado %1 no atiende a los clientes cifrados").arg(_tlsPort));
}

bool KTMainPanel::listenPlain(const QHostAddress& address, QStringList* failures)
{
    if (!_plainPort)
        return true;
    if (!_connector->listen(address, quint16(_serverPort.toInt()))) {
        *failures << tr("El servidor no pudo abrir el puerto %1: %2").arg(_serverPort, _connector->errorString());
        return false;
    }
    emit eventMessage(tr("El servidor está esperando conexiones en el puerto %1").arg(_serverPort),
                      KT::SuccessMessage, QStringLiteral("KTMainPanel::listenConnections()"));
    return true;
}

// A certificate that could not be read leaves the port closed (the watcher
// said why) until a usable one is put in place.
bool KTMainPanel::listenEncrypted(const QHostAddress& address, QStringList* failures)
{
    if (_tlsPort == 0 || _connector->isListeningEncrypted() || _connector->tlsConfiguration().isNull())
        return false;
    if (!_connector->listenEncrypted(address, _tlsPort)) {
        *failures << tr("El servidor no pudo abrir el puerto cifrado %1: %2")
                         .arg(_tlsPort).arg(_connector->encryptedErrorString());
        return false;
    }
    emit eventMessage(tr("El servidor está esperando conexiones cifradas (TLS) en el puerto %1").arg(_tlsPort),
                      KT::SuccessMessage, QStringLiteral("KTMainPanel::listenConnections()"));
    return true;
}

// A usable certificate that arrives while the server serves opens the
// encrypted port that a bad one had kept closed.
void KTMainPanel::listenEncryptedLate()
{
    if (!_connector->isServing())
        return;
    QStringList failures;
    if (!listenEncrypted(_listenAddress.isEmpty() ? QHostAddress(QHostAddress::Any) : QHostAddress(_listenAddress),
                         &failures))
        for (const QString& failure : std::as_const(failures))
            emit eventMessage(failure, KT::ErrorMessage, QStringLiteral("KTMainPanel::listenConnections()"));
    updateServiceStatus();
}

// "el puerto 6660", "el puerto 6661 (TLS)" or "los puertos 6660 y 6661 (TLS)".
QString KTMainPanel::portsText() const
{
    const bool plain = _connector->isListening();
    const bool encrypted = _connector->isListeningEncrypted();
    if (plain && encrypted)
        return tr("los puertos %1 y %2 (TLS)").arg(_serverPort).arg(_tlsPort);
    if (encrypted)
        return tr("el puerto %1 (TLS)").arg(_tlsPort);
    return tr("el puerto %1").arg(_serverPort);
}

// ---------------------------------------------------------------------------
// Start-up and supervision

void KTMainPanel::startServing()
{
    if (_cluster)
        _cluster->start();
    _notifier->startWatchdog();
    _pingTimer->start();
    startStatusEndpoint();
    if (!_connector->isServing()) {
        _startupWait->start();
        if (!_dbController->connectionStatus()) {
            emit eventMessage(tr("Esperando la base de datos: se intentará conectar cada %1 ms")
                                  .arg(_reconnectTimer->interval()),
                              KT::WarningMessage, QStringLiteral("KTMainPanel::startServing()"));
            _startupWait->reportsThisTry();
            _startupWait->waitForDatabase();
        }
    }
    updateServiceStatus();
}

// What the pages and the start-up do with a database that answered at once.
void KTMainPanel::retryFirstConnection()
{
    _quietTry = !_startupWait->reportsThisTry();
    const bool connected = establishConnection();
    _quietTry = false;
    updateServiceStatus();
    if (!connected)
        return;
    _startupWait->databaseAnswered();
    if (loadTablesFromFiles())
        loadTableRecordData();
    updateDatabase();
}

void KTMainPanel::pingDatabase()
{
    if (_dbController->connectionStatus() && !_dbController->connectionLost() && !_startupWait->isWaiting())
        _dbController->customQuery(QStringLiteral("SELECT 1"));
    updateServiceStatus();
}

void KTMainPanel::startupTimedOut()
{
    endService(_dbController->connectionStatus()
                   ? tr("no atiende clientes %1 s después de iniciar").arg(_startupWait->deadline() / 1000)
                   : tr("la base de datos no respondió en %1 s").arg(_startupWait->deadline() / 1000));
}

// Only before the event loop quits: the manager restarts the server, which
// then starts afresh.
void KTMainPanel::endService(const QString& reason)
{
    if (_endingService)
        return;
    _endingService = true;
    emit eventMessage(tr("El servidor termina (%1) para que el servicio lo reinicie.").arg(reason), KT::ErrorMessage,
                      QStringLiteral("KTMainPanel::endService()"));
    // The event loop may not run yet: exit() before it does would be lost.
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(serviceFailureStatus); });
}

void KTMainPanel::updateServiceStatus()
{
    if (_connector->isServing())
        _notifier->setStatus(tr("Sirviendo en %1, %2 conexiones, BD conectada")
                                 .arg(portsText()).arg(_connector->connectionIDs().size()));
    else if (_dbController->connectionStatus() && !_dbController->connectionLost())
        _notifier->setStatus(tr("Puerto %1 cerrado, BD conectada").arg(_serverPort));
    else
        _notifier->setStatus(tr("Esperando la base de datos"));
}

// Up whatever the database does: a watcher must hear that it is down.
void KTMainPanel::startStatusEndpoint()
{
    if (_statusPort == 0)
        return;
    const QString location = QStringLiteral("KTMainPanel::startStatusEndpoint()");
    const QHostAddress address(_statusAddress);
    if (address.isNull()) {
        emit eventMessage(tr("La dirección de estado '%1' no es válida: el estado no estará disponible")
                              .arg(_statusAddress), KT::ErrorMessage, location);
        return;
    }
    const QString url = QStringLiteral("http://%1:%2")
                            .arg(address.protocol() == QAbstractSocket::IPv6Protocol
                                     ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
                                     : address.toString())
                            .arg(_statusPort);
    if (_statusEndpoint->start(address, _statusPort))
        emit eventMessage(tr("Estado disponible en %1 (/health, /metrics, /connections)").arg(url), KT::InformationMessage,
                          location);
    else
        emit eventMessage(tr("No se pudo abrir el puerto de estado %1: %2").arg(url, _statusEndpoint->errorString()),
                          KT::ErrorMessage, location);
}

void KTMainPanel::connectUpdater()
{
    connect(_updater, &KTServerUpdater::eventMessage, this, &KTMainWindow::eventMessage);
    connect(_updater, &KTServerUpdater::clientObjectDownloadStatusUpdated, this,
            &KTMainWindow::clientObjectDownloadStatusUpdated);
    connect(_updater, &KTServerUpdater::objectDownloadStatusUpdated, this, &KTMainWindow::objectDownloadStatusUpdated);
    connect(_updater, &KTServerUpdater::upgradeStatusChanged, this, &KTMainWindow::upgradeStatusChanged);
    connect(_updater, &KTServerUpdater::upgradeThreadFinished, this, &KTMainWindow::upgradeThreadFinished);
    connect(_updater, &KTServerUpdater::upgradeThreadStarted, this, &KTMainWindow::upgradeThreadStarted);
    connect(_updater, &KTServerUpdater::downloadListUpdated, this, &KTMainWindow::downloadListUpdated);
    connect(_updater, &KTServerUpdater::downloadCompleted, this, &KTMainWindow::downloadCompleted);
}

// ---------------------------------------------------------------------------
// Updates

void KTMainPanel::checkUpdates()
{
    _updater->checkUpdates(_companyName, _password);
}

void KTMainPanel::downloadUpdates()
{
    _updater->downloadUpdates();
}

void KTMainPanel::prepareInstallation(QString serverCommands)
{
    _updater->performInstall(serverCommands);
}

// Until the database is back; the recovery reopens the port through changeStatus(true).
void KTMainPanel::reconnectDatabase()
{
    if (!_dbController->connectionLost() || _dbController->reconnect())
        _reconnectTimer->stop();
}

// The administrator's key is renewed here too: a server that runs for months
// must not lock out the administrator its start-up set.
void KTMainPanel::sendKeepAlive()
{
    _dbController->select(QStringLiteral("srvComponent"), {QStringLiteral("1")}, QString(), QString(), QString(),
                          QString());
    _dbController->renewAdminKey(QDate::currentDate());
}

void KTMainPanel::executeCustomQuery(QString customQuery)
{
    const QSqlQuery query = _dbController->customQuery(customQuery);
    if (query.lastError().isValid())
        emit eventMessage(tr("Error en la ejecución de Query : '%1'. BD: '%2'\nSi se estaba realizando un upgrade puede "
                             "que este no se haya completado exitosamente.").arg(customQuery, query.lastError().databaseText()),
                          KT::ErrorMessage, QStringLiteral("KTMainPanel::executeCustomQuery()"));
}

// ---------------------------------------------------------------------------
// Statistics, shared with connection threads

QList<quint64> KTMainPanel::tableMainStats(const QString& tableName)
{
    QMutexLocker locker(&_mutex);
    return _statisticsTrusted ? _tableMainStats.value(tableName) : QList<quint64>();
}

void KTMainPanel::clearTableMainStats()
{
    QMutexLocker locker(&_mutex);
    _tableMainStats.clear();
}

void KTMainPanel::setTableMainStats(const QString& tableName, QList<quint64> stats)
{
    QMutexLocker locker(&_mutex);
    _tableMainStats.insert(tableName, stats);
}

// ---------------------------------------------------------------------------
// Pages

void KTMainPanel::showPanelOptions()
{
    _panelOptions->exec();
}

void KTMainPanel::updatePanelValues(int rows, int columns)
{
    _panelView->setPageSize(rows, columns);
}

void KTMainPanel::panetSetChecked(QString name, bool shown)
{
    if (QAction* action = _actionMap.value(name))
        action->setChecked(shown);
}

void KTMainPanel::showPanet(bool show)
{
    auto* action = qobject_cast<QAction*>(sender());
    if (!action) {
        emit eventMessage(tr("No se pudo mostrar panet"), KT::BugMessage, QStringLiteral("KTMainPanel::showPanet()"));
        return;
    }
    if (KTPanetBase* panet = _panetMap.value(action->data().toString()))
        _panelView->showPanet(panet, show);
}

void KTMainPanel::loadPanets(QString dirName, bool recursive)
{
    for (const KTPluginLoader::File& file : KTPluginLoader::files(dirName))
        if (_systemObjectsList.contains(file.objectName))
            loadPanetFile(dirName, file.fileName);
    setUpPanets();
    if (recursive)
        for (const QString& subdirectory : KTPluginLoader::subdirectories(dirName))
            loadPanets(subdirectory, true);
    emit connectorModelCreated(_connector->model());
    emit authorizationModelCreated(_authorization->model());
}

void KTMainPanel::loadPanetFile(const QString& dirName, const QString& fileName)
{
    const QString location = QStringLiteral("KTMainPanel::loadPanets()");
    QFile file(dirName + QLatin1Char('/') + fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        emit eventMessage(tr("No se pudo leer archivo : %1 ").arg(fileName), KT::ErrorMessage, location);
        return;
    }
    KTPanetBase* panet = KTPluginLoader::load<KTPanetBase>(QFileInfo(file).absoluteFilePath());
    if (!panet) {
        emit eventMessage(tr("El Panet : '%1' no pudo ser cargado.").arg(fileName), KT::ErrorMessage, location);
        return;
    }
    _panetMap.insert(panet->name(), panet);
    if (_toolBarMap.contains(panet->areaName()))
        return;
    QToolBar* toolBar = new QToolBar(panet->areaLabel(), this);
    toolBar->setIconSize(QSize(36, 36));
    _toolBarMap.insert(panet->areaName(), toolBar);
    addToolBar(Qt::LeftToolBarArea, toolBar);
}

// Each page is set up once, however many folders the pages come from. The
// log page goes first, whatever the list's order (the wizard writes it
// sorted by name): the pages set up after it report what they do, and only
// a log page already listening shows it.
void KTMainPanel::setUpPanets()
{
    QStringList order = _systemObjectsList;
    if (order.removeAll(logPanetName) > 0)
        order.prepend(logPanetName);
    for (const QString& name : std::as_const(order)) {
        KTPanetBase* panet = _panetMap.value(name);
        if (!name.contains(QLatin1String("Panet")) || !panet || _actionMap.contains(name))
            continue;
        panet->setEmitterObject(this);
        panet->setup();
        auto* action = new QAction(panet->icon(), panet->label(), this);
        action->setCheckable(true);
        action->setData(panet->name());
        _toolBarMap.value(panet->areaName())->addAction(action);
        _actionMap.insert(panet->name(), action);
        emit eventMessage(tr("El Panet : '%1' fue cargado exitosamente.").arg(panet->name()), KT::SuccessMessage,
                          QStringLiteral("KTMainPanel::loadPanets()"));
        connect(action, &QAction::triggered, this, &KTMainPanel::showPanet);
    }
}

void KTMainPanel::setStatusIcon(const QString& resource)
{
    _panelStatus->setPixmap(QPixmap(resource).scaled(18, 18, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}
