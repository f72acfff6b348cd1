#include "DatabasePanet.h"

#include <KTMainWindow.h>

#include <QGroupBox>
#include <QHeaderView>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

DatabasePanet::DatabasePanet(QWidget* parent)
    : KTCorePanet(tr("Base De Datos"), parent)
{
}

void DatabasePanet::setup()
{
    if (formBuilt())
        return;
    _tvwDatabase = createTableView(QStringLiteral("tvwDatabase"), QStringLiteral("Arial"));
    _gbxDbInfo = new QGroupBox(this);
    _gbxDbInfo->setObjectName(QStringLiteral("gbxDbInfo"));
    (new QVBoxLayout(_gbxDbInfo))->addWidget(_tvwDatabase);

    _tbtDbUpdate = new QToolButton(this);
    _tbtDbUpdate->setObjectName(QStringLiteral("tbtDbUpdate"));
    _tbtDbUpdate->setIcon(QIcon(QStringLiteral(":/Resources/Images/") + name() + QStringLiteral("UpdateDb.png")));
    _tbtDbUpdate->setToolTip(tr("Sincronizacion con BD"));
    _pbtStatus = new QPushButton(this);
    _pbtStatus->setObjectName(QStringLiteral("pbtStatus"));
    _pbtStatus->setToolTip(tr("Estado de la conexión a la BD"));
    buildForm(QStringLiteral(":/Resources/Images/DatabasePanetConfig.png"), {_tbtDbUpdate, _pbtStatus}, _gbxDbInfo);

    KTMainWindow* window = mainWindow();
    establishConnection();
    // Asked whatever the connection's state: whether the definitions can be
    // loaded without the database is the panel's to decide.
    if (window && window->loadTablesFromFiles())
        window->loadTableRecordData();

    connect(_pbtStatus, &QPushButton::clicked, this, &DatabasePanet::establishConnection);
    if (!window)
        return;
    connect(_tbtDbUpdate, &QToolButton::clicked, window, &KTMainWindow::updateDatabase);
    // A database that comes up later (a delayed start, a reconnection) shows
    // without a click.
    connect(window, &KTMainWindow::databaseStatusChanged, this, [this, window](bool up) {
        showConnection(up);
        if (up && !_tvwDatabase->model())
            showRecordData(window);
    });
    _gbxDbInfo->setTitle(window->dbName() + QStringLiteral(" - ") + window->dbType());
    showRecordData(window);
}

void DatabasePanet::establishConnection()
{
    KTMainWindow* window = mainWindow();
    showConnection(window && window->establishConnection());
}

void DatabasePanet::showConnection(bool connected)
{
    if (!_pbtStatus)
        return;
    _tbtDbUpdate->setEnabled(connected);
    _pbtStatus->setIcon(QIcon(connected ? QStringLiteral(":/Resources/Images/PanetConnectionOk.png")
                                        : QStringLiteral(":/Resources/Images/PanetConnectionInvalid.png")));
}

void DatabasePanet::showRecordData(KTMainWindow* window)
{
    QStandardItemModel* model = window->tableRecordDataModel();
    if (!model)
        return;
    _tvwDatabase->setModel(model);
    // Column 0 is the row's key; the table's alias takes what name and version leave.
    _tvwDatabase->hideColumn(0);
    QHeaderView* header = _tvwDatabase->horizontalHeader();
    const QHeaderView::ResizeMode modes[] = {QHeaderView::ResizeToContents, QHeaderView::Stretch,
                                             QHeaderView::ResizeToContents};
    for (int column = 1; column <= 3 && column < header->count(); ++column)
        header->setSectionResizeMode(column, modes[column - 1]);
    _tvwDatabase->resizeColumnsToContents();
}
