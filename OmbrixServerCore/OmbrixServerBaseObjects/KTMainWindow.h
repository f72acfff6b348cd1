#ifndef KTMAINWINDOW_H
#define KTMAINWINDOW_H

#include <KTEvent.h>

#include <QList>
#include <QMainWindow>
#include <QMap>
#include <QMultiMap>
#include <QStringList>

class QStandardItemModel;

// The control panel as libraries and plug-ins see it. The panel's main window
// derives from it; everybody else reaches it through mainWindowInstance().
class KTMainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit KTMainWindow(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~KTMainWindow() override;

    // Null before the panel has built its window and after it is gone.
    static KTMainWindow* mainWindowInstance();

    virtual bool establishConnection();
    // The three statistics operations are called from connection threads too:
    // implementations guard them with a mutex.
    virtual QList<quint64> tableMainStats(const QString& tableName);
    virtual void clearTableMainStats();
    virtual void setTableMainStats(const QString& tableName, QList<quint64> stats);
    virtual QStandardItemModel* tableRecordDataModel();
    virtual QString companyName();
    virtual QString companyID();
    virtual QString dbHost();
    virtual QString dbName();
    virtual QString dbPort();
    virtual QString dbType();
    virtual QString password();
    virtual QString ombrixPassword();
    virtual QString serverPort();
    virtual QString systemObjects();
    virtual QStringList systemObjectsList();

public Q_SLOTS:
    virtual bool loadTablesFromFiles();
    virtual void checkUpdates();
    virtual void downloadUpdates();
    virtual void loadSettings();
    virtual void loadTableRecordData();
    virtual void prepareInstallation();
    virtual void updateDatabase();
    virtual void saveSettings();

Q_SIGNALS:
    void downloadCompleted();
    void downloadListUpdated(QMap<QString, QStringList> downloadMap,
                             QMultiMap<QString, QStringList> clientDownloadMap,
                             QString serverUpgradeLog, QString serverCommands,
                             QString clientUpgradeLog, QString clientCommands);
    void eventMessage(const QString& message, int status, const QString& objectLocation);
    // Events already written to the log file, for display, several at a time.
    void eventsLogged(const QList<KTEvent>& events);
    // The panel's own database connection went down or came back.
    void databaseStatusChanged(bool up);
    void clientObjectDownloadStatusUpdated(QString objectName, int downloadStatus, int osCod);
    void objectDownloadStatusUpdated(QString objectName, int downloadStatus);
    void authorizationModelCreated(QStandardItemModel* model);
    void connectorModelCreated(QStandardItemModel* model);
    void schedulerModelCreated(QStandardItemModel* model);
    void upgradeStatusChanged(int status);
    void upgradeThreadStarted();
    void upgradeThreadFinished();

private:
    static KTMainWindow* _self;
};

#endif
