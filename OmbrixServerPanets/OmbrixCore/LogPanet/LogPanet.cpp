#include "LogPanet.h"

#include <KT.h>
#include <KTMainWindow.h>

#include <QDateTime>
#include <QHeaderView>
#include <QStandardItemModel>
#include <QTableView>

LogPanet::LogPanet(QWidget* parent)
    : KTCorePanet(tr("Logs"), parent), _log(new QStandardItemModel(0, 4, this))
{
    _log->setHorizontalHeaderLabels({tr("Fecha"), tr("Hora"), tr("Fuente"), tr("Mensaje")});
}

void LogPanet::setup()
{
    if (formBuilt())
        return;
    _tvwLog = createTableView(QStringLiteral("tvwLog"), QStringLiteral("Sans Serif"));
    _tvwLog->setModel(_log);
    _tvwLog->setColumnWidth(2, 190);
    // The message is what the operator reads: it takes the width left over,
    // and a message too long for it shows whole on hover.
    _tvwLog->horizontalHeader()->setStretchLastSection(true);
    // Fixed widths: measuring the contents at every new row would slow a long log down.
    const QFontMetrics metrics(_tvwLog->font());
    _tvwLog->setColumnWidth(0, metrics.horizontalAdvance(QStringLiteral("0000-00-00")) + 16);
    _tvwLog->setColumnWidth(1, metrics.horizontalAdvance(QStringLiteral("00:00:00")) + 16);
    buildForm(QStringLiteral(":/Resources/Images/LogPanetConfig.png"), {}, _tvwLog);
    if (KTMainWindow* window = mainWindow())
        connect(window, &KTMainWindow::eventMessage, this, &LogPanet::appendMessage);
}

void LogPanet::appendMessage(const QString& message, int status, const QString& objectLocation)
{
    // Indexed by KT::MessageType; client-side events keep the view's own colour.
    static const QColor colours[] = {
        QColor(143, 62, 81), QColor(104, 72, 101), QColor(169, 145, 13), QColor(50, 55, 95), QColor(114, 152, 108)};

    // One clock reading, so that date and time agree across midnight.
    const QDateTime now = QDateTime::currentDateTime();
    const QList<QStandardItem*> row = {new QStandardItem(now.toString(QStringLiteral("yyyy-MM-dd"))),
                                       new QStandardItem(now.toString(QStringLiteral("hh:mm:ss"))),
                                       new QStandardItem(objectLocation), new QStandardItem(message)};
    row.last()->setToolTip(message);
    if (status >= KT::ErrorMessage && status <= KT::SuccessMessage) {
        for (QStandardItem* cell : row)
            cell->setForeground(colours[status]);
    }
    _log->appendRow(row);
    if (_tvwLog)
        _tvwLog->scrollToBottom();
}
