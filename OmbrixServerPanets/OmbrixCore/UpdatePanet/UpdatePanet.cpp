#include "UpdatePanet.h"

#include <KT.h>
#include <KTInstallationPaths.h>
#include <KTMainWindow.h>
#include <KTVersion.h>

#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include <iterator>

namespace {

// Positions in a download table entry.
enum Entry { RelativePath = 2, Hash = 3, Size = 4, ReleaseName = 5, ReleaseVersion = 6, ReleaseDate = 7,
             ReleaseDescription = 8, ReleaseKind = 9, State = 10, Platform = 13 };
enum Column { ObjectColumn, SizeColumn, PlatformColumn, PathColumn };
const int platformRole = Qt::UserRole + 1;
const QString images = QStringLiteral(":/Resources/Images/");

struct StatusLook {
    const char* icon;
    const char* toolTip;
};

const StatusLook statusLooks[] = {
    {"PanetStopped.png", QT_TRANSLATE_NOOP("UpdatePanet", "Sin actividad")},
    {"PanetCheckingUpdates.png", QT_TRANSLATE_NOOP("UpdatePanet", "Revisando actualizaciones")},
    {"PanetNoUpgrades.png", QT_TRANSLATE_NOOP("UpdatePanet", "No existen versiones superiores")},
    {"PanetDownloading.png", QT_TRANSLATE_NOOP("UpdatePanet", "Descargando actualizaciones")},
    {"PanetUpgrading.png", QT_TRANSLATE_NOOP("UpdatePanet", "Actualizando el server")},
};

QToolButton* toolButton(QWidget* parent, const QString& objectName, const QString& toolTip, const QString& icon)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(objectName);
    button->setToolTip(toolTip);
    button->setIcon(QIcon(images + icon));
    return button;
}

QString installedClientVersion()
{
    const QSettings index(KTInstallationPaths::downloadsDirectory() + QStringLiteral("/ClientVersion.txt"),
                          QSettings::IniFormat);
    return index.value(QStringLiteral("ClientValues/ClientVersion"), KTVersion::ombrixClientVersion()).toString();
}

QString releaseToolTip(const QStringList& entry)
{
    return entry.value(ReleaseDate) + QStringLiteral(" - ") + entry.value(ReleaseKind) + QLatin1Char('\n')
        + entry.value(ReleaseDescription);
}

} // namespace

UpdatePanet::UpdatePanet(QWidget* parent)
    : KTCorePanet(tr("Actualizaciones"), parent)
{
}

UpdatePanet::~UpdatePanet()
{
    delete _info;
}

void UpdatePanet::setup()
{
    if (formBuilt())
        return;
    _tbtUpgrade = toolButton(this, QStringLiteral("tbtUpgrade"), tr("Actualizar"), QStringLiteral("PanetDownload.png"));
    _tbtInfo = toolButton(this, QStringLiteral("tbtInfo"), tr("Información"), QStringLiteral("UpdatePanetInfo.png"));
    _tbtInstall = toolButton(this, QStringLiteral("tbtInstall"), tr("Instalar nueva versión"),
                             QStringLiteral("UpdatePanetInstall.png"));
    _pbtStatus = new QPushButton(this);
    _pbtStatus->setObjectName(QStringLiteral("pbtStatus"));
    _tbtInfo->setEnabled(false);
    _tbtInstall->setEnabled(false);

    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frm"));
    auto* splitter = new QSplitter(Qt::Vertical, frame);
    splitter->addWidget(createList(_server, QStringLiteral("Server"), tr("Ombrix Server ")));
    splitter->addWidget(createList(_client, QStringLiteral("Client"), tr("Ombrix Client")));
    auto* frameLayout = new QVBoxLayout(frame);
    frameLayout->setContentsMargins(0, 0, 0, 0);
    frameLayout->addWidget(splitter);
    buildForm(images + QStringLiteral("UpdatePanetConfig.png"), {_tbtUpgrade, _tbtInfo, _tbtInstall, _pbtStatus}, frame);
    _tbtConfig = findChild<QToolButton*>(QStringLiteral("tbtConfig"));
    createInfoWindow();
    setStatus(0);

    connect(_tbtInfo, &QToolButton::clicked, this, &UpdatePanet::showInfo);
    connect(_tbtInstall, &QToolButton::clicked, this, &UpdatePanet::setStatusInstall);
    if (KTMainWindow* window = mainWindow())
        connectMainWindow(window);
}

QWidget* UpdatePanet::createList(List& list, const QString& suffix, const QString& title)
{
    list.box = new QGroupBox(title, this);
    list.box->setObjectName(QStringLiteral("gbx") + suffix);
    list.view = createTableView(QStringLiteral("tvw") + suffix, QStringLiteral("Arial"));
    list.model = new QStandardItemModel(this);
    list.view->setModel(list.model);
    list.view->verticalHeader()->hide();
    list.view->horizontalHeader()->setStretchLastSection(true);
    list.label = new QLabel(QStringLiteral("-"), list.box);
    list.label->setObjectName(QStringLiteral("lbl") + suffix);
    list.progress = new QProgressBar(list.box);
    list.progress->setObjectName(QStringLiteral("pgb") + suffix);
    list.progress->setValue(0);
    auto* progressRow = new QHBoxLayout;
    progressRow->addWidget(list.label);
    progressRow->addWidget(list.progress, 1);
    auto* layout = new QVBoxLayout(list.box);
    layout->addWidget(list.view);
    layout->addLayout(progressRow);
    return list.box;
}

void UpdatePanet::createInfoWindow()
{
    _info = new QWidget(nullptr, Qt::Tool);
    _info->setObjectName(QStringLiteral("wdgInfo"));
    _info->setWindowTitle(tr("Información"));
    auto* grid = new QGridLayout(_info);
    const auto add = [this, grid](QGroupBox*& box, QLabel*& label, const QString& title, int row, int column) {
        box = new QGroupBox(title, _info);
        label = new QLabel(box);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        (new QVBoxLayout(box))->addWidget(label);
        grid->addWidget(box, row, column);
    };
    add(_serInfoGB, _serInfo, tr("Log Servidor"), 0, 0);
    add(_cliInfoGB, _cliInfo, tr("Log Cliente"), 0, 1);
    add(_serCommandsGB, _serCommands, tr("Comandos Servidor"), 1, 0);
    add(_cliCommandsGB, _cliCommands, tr("Comandos Cliente"), 1, 1);
}

void UpdatePanet::connectMainWindow(KTMainWindow* window)
{
    connect(window, &KTMainWindow::downloadCompleted, this, &UpdatePanet::enableInstall);
    connect(window, &KTMainWindow::upgradeStatusChanged, this, &UpdatePanet::setStatus);
    connect(window, &KTMainWindow::upgradeThreadFinished, this, &UpdatePanet::enableUpgrade);
    connect(window, &KTMainWindow::upgradeThreadStarted, this, &UpdatePanet::disableUpgrade);
    connect(window, &KTMainWindow::downloadListUpdated, this, &UpdatePanet::updateList);
    connect(window, &KTMainWindow::objectDownloadStatusUpdated, this, &UpdatePanet::updateServerObjectInfo);
    connect(window, &KTMainWindow::clientObjectDownloadStatusUpdated, this, &UpdatePanet::updateClientObjectInfo);
    connect(_tbtUpgrade, &QToolButton::clicked, window, &KTMainWindow::checkUpdates);
    connect(_tbtUpgrade, &QToolButton::clicked, this, &UpdatePanet::disableInstall);
    connect(this, &UpdatePanet::downloadUpdatesRequested, window, &KTMainWindow::downloadUpdates);
    // The panel's own slot, not part of the facade: found by name.
    if (window->metaObject()->indexOfSlot("prepareInstallation(QString)") >= 0)
        connect(this, SIGNAL(prepareInstallation(QString)), window, SLOT(prepareInstallation(QString)));
}

void UpdatePanet::enableInstall() { _tbtInstall->setEnabled(true); }
void UpdatePanet::disableInstall() { _tbtInstall->setEnabled(false); }
void UpdatePanet::enableUpgrade() { _tbtUpgrade->setEnabled(true); }
void UpdatePanet::disableUpgrade() { _tbtUpgrade->setEnabled(false); }

void UpdatePanet::setStatus(int status)
{
    _status = status;
    if (status < 0 || status >= int(std::size(statusLooks)) || !_pbtStatus)
        return;
    _pbtStatus->setIcon(QIcon(images + QLatin1String(statusLooks[status].icon)));
    _pbtStatus->setToolTip(tr(statusLooks[status].toolTip));
}

void UpdatePanet::setStatusInstall()
{
    setStatus(4);
    _tbtUpgrade->setEnabled(false);
    _tbtInstall->setEnabled(false);
    _tbtConfig->setEnabled(false);
    emit prepareInstallation(_serCommands->text());
}

void UpdatePanet::showInfo()
{
    _info->move(mapToGlobal(QPoint(0, 0)).x(), _tbtInfo->mapToGlobal(QPoint(0, 0)).y());
    _info->show();
}

// ---------------------------------------------------------------------------
// Lists

void UpdatePanet::updateList(QMap<QString, QStringList> downloadMap, QMultiMap<QString, QStringList> clientDownloadMap,
                             QString serverUpgradeLog, QString serverCommands, QString clientUpgradeLog,
                             QString clientCommands)
{
    _totalServerSize = fillList(_server, QMultiMap<QString, QStringList>(downloadMap),
                                QStringLiteral("Ombrix Server : ") + KTVersion::ombrixServerVersionSimplified()
                                    + QStringLiteral(" - ") + KTVersion::ombrixServerAlias(),
                                false);
    _serInfo->setText(serverUpgradeLog);
    _serCommands->setText(serverCommands);
    _totalClientSize = fillList(_client, clientDownloadMap,
                                QStringLiteral("Ombrix Client : ") + KTVersion::simplifiedVersion(installedClientVersion()),
                                true);
    _cliInfo->setText(clientUpgradeLog);
    _cliCommands->setText(clientCommands);

    finishList(_server, _totalServerSize);
    finishList(_client, _totalClientSize);
    _tbtInfo->setEnabled(true);
    emit downloadUpdatesRequested();
}

// One row per entry; the group box names the release of the last one.
// Returns the bytes still to download.
int UpdatePanet::fillList(List& list, const QMultiMap<QString, QStringList>& entries, const QString& installed,
                          bool client)
{
    list.model->clear();
    list.model->setHorizontalHeaderLabels({tr("Objeto"), tr("Tamaño"), tr("SO"), tr("Ruta")});
    const int ownPlatform = KTVersion::operatingSystem().toInt();
    int total = 0;
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        const int platform = client ? it.value().value(Platform).toInt() : ownPlatform;
        list.model->appendRow(row(it.key(), it.value(), platform, client));
        if (it.value().value(State) == QLatin1String("0"))
            total += it.value().value(Size).toInt();
    }
    if (!entries.isEmpty()) {
        const QStringList& last = std::prev(entries.cend()).value();
        list.box->setTitle(installed + QStringLiteral(" ----> ") + KTVersion::simplifiedVersion(last.value(ReleaseVersion))
                           + QStringLiteral(" - ") + last.value(ReleaseName));
        list.box->setToolTip(releaseToolTip(last));
    }
    return total;
}

QList<QStandardItem*> UpdatePanet::row(const QString& objectName, const QStringList& entry, int platform,
                                       bool client)
{
    auto* object = new QStandardItem(stateIcon(entry.value(State).toInt(), client), objectName);
    object->setToolTip(QStringLiteral("Hash :  ") + entry.value(Hash));
    auto* size = new QStandardItem(entry.value(Size) + QStringLiteral(" bytes "));
    const QString word = KTVersion::operatingSystemLiteral(platform);
    auto* system = new QStandardItem(QIcon(images + name() + QStringLiteral("Logo") + word + QStringLiteral(".png")),
                                     QString());
    system->setToolTip(word);
    if (client)
        system->setData(platform, platformRole);
    const QList<QStandardItem*> items{object, size, system, new QStandardItem(entry.value(RelativePath))};
    for (QStandardItem* item : items)
        item->setEditable(false);
    return items;
}

void UpdatePanet::finishList(List& list, int total)
{
    list.view->sortByColumn(PathColumn, Qt::AscendingOrder);
    list.view->resizeColumnToContents(ObjectColumn);
    list.view->resizeColumnToContents(PlatformColumn);
    list.label->setText(QStringLiteral("0 / ") + kilobytes(total) + QStringLiteral(" Kb   "));
    if (total > 0) {
        list.progress->setRange(0, total);
        list.progress->setValue(0);
    }
}

void UpdatePanet::updateServerObjectInfo(QString objectName, int downloadStatus)
{
    const QList<QStandardItem*> found = _server.model->findItems(objectName, Qt::MatchExactly, ObjectColumn);
    if (!found.isEmpty())
        reportDownload(_server, found.first()->row(), downloadStatus, _totalServerSize);
}

void UpdatePanet::updateClientObjectInfo(QString objectName, int downloadStatus, int osCod)
{
    for (QStandardItem* item : _client.model->findItems(objectName, Qt::MatchExactly, ObjectColumn)) {
        if (_client.model->item(item->row(), PlatformColumn)->data(platformRole).toInt() == osCod)
            return reportDownload(_client, item->row(), downloadStatus, _totalClientSize);
    }
}

void UpdatePanet::reportDownload(List& list, int row, int downloadStatus, int total)
{
    list.model->item(row, ObjectColumn)->setIcon(stateIcon(downloadStatus, &list == &_client));
    const int size = list.model->item(row, SizeColumn)->text().section(QLatin1Char(' '), 0, 0).toInt();
    list.progress->setValue(qMin(list.progress->maximum(), qMax(0, list.progress->value()) + size));
    const QString done = list.progress->value() >= list.progress->maximum() ? kilobytes(total)
                                                                             : kilobytes(list.progress->value());
    list.label->setText(done + QStringLiteral(" / ") + kilobytes(total) + QStringLiteral(" Kb   "));
}

QIcon UpdatePanet::stateIcon(int downloadStatus, bool client)
{
    if (downloadStatus == 1)
        return QIcon(images + QStringLiteral("UpdatePanetFileAlreadyDownloaded.png"));
    if (downloadStatus == 2 && !client)
        return QIcon(images + QStringLiteral("UpdatePanetFileAlreadyInstalled.png"));
    return QIcon(images + QStringLiteral("UpdatePanetFileNotDownloaded.png"));
}

// Kilobytes of a size, at least one when there is anything at all.
QString UpdatePanet::kilobytes(int bytes)
{
    return QString::number(bytes > 0 ? qMax(1, bytes / 1024) : 0);
}
