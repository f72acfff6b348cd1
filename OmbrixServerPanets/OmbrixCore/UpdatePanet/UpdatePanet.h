#ifndef UPDATEPANET_H
#define UPDATEPANET_H

#include <KTCorePanet.h>

#include <QMap>
#include <QMultiMap>
#include <QStringList>

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QStandardItem;
class QStandardItemModel;
class QTableView;
class QToolButton;

// The updates page: starts the update check, lists the server and client
// files of the new releases with their download state, follows the download
// and starts the installation of a downloaded server release.
class UpdatePanet : public KTCorePanet
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID KTPanetBaseInterface_iid)
    Q_INTERFACES(KTPanetBaseInterface)
public:
    explicit UpdatePanet(QWidget* parent = nullptr);
    ~UpdatePanet() override;

    void setup() override;

public Q_SLOTS:
    void enableInstall();
    void disableInstall();
    void enableUpgrade();
    void disableUpgrade();
    void setStatus(int status);
    void setStatusInstall();
    void showInfo();
    void updateList(QMap<QString, QStringList> downloadMap, QMultiMap<QString, QStringList> clientDownloadMap,
                    QString serverUpgradeLog, QString serverCommands, QString clientUpgradeLog,
                    QString clientCommands);
    void updateServerObjectInfo(QString objectName, int downloadStatus);
    void updateClientObjectInfo(QString objectName, int downloadStatus, int osCod);

Q_SIGNALS:
    void downloadUpdatesRequested();
    void prepareInstallation(QString commands);

private:
    struct List {
        QGroupBox* box = nullptr;
        QTableView* view = nullptr;
        QLabel* label = nullptr;
        QProgressBar* progress = nullptr;
        QStandardItemModel* model = nullptr;
    };

    QWidget* createList(List& list, const QString& suffix, const QString& title);
    void createInfoWindow();
    void connectMainWindow(KTMainWindow* window);
    int fillList(List& list, const QMultiMap<QString, QStringList>& entries, const QString& installed, bool client);
    QList<QStandardItem*> row(const QString& objectName, const QStringList& entry, int platform, bool client);
    void finishList(List& list, int total);
    void reportDownload(List& list, int row, int downloadStatus, int total);
    static QIcon stateIcon(int downloadStatus, bool client);
    static QString kilobytes(int bytes);

    int _status = 0;
    int _totalServerSize = 0;
    int _totalClientSize = 0;
    QToolButton* _tbtConfig = nullptr;
    QToolButton* _tbtUpgrade = nullptr;
    QToolButton* _tbtInfo = nullptr;
    QToolButton* _tbtInstall = nullptr;
    QPushButton* _pbtStatus = nullptr;
    // The two lists, each with its own model.
    List _server;
    List _client;
    QWidget* _info = nullptr;
    QGroupBox* _serInfoGB = nullptr;
    QGroupBox* _cliInfoGB = nullptr;
    QGroupBox* _serCommandsGB = nullptr;
    QGroupBox* _cliCommandsGB = nullptr;
    QLabel* _serInfo = nullptr;
    QLabel* _cliInfo = nullptr;
    QLabel* _serCommands = nullptr;
    QLabel* _cliCommands = nullptr;
};

#endif
