#include "LogPanet.h"

#include <KT.h>
#include <KTLocalClock.h>
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
    if (KTMainWindow* window = mainWindow()) {
        connect(window, &KTMainWindow::eventMessage, this, &LogPanet::appendMessage);
        connect(window, &KTMainWindow::eventsLogged, this, &LogPanet::appendMessages);
    }
}

void LogPanet::appendMessage(const QString& message, int status, const QString& objectLocation)
{
    appendRow(KTLocalClock::now(), message, status, objectLocation);
    showLatest();
}

void LogPanet::appendMessages(const QList<KTEvent>& events)
{
    for (const KTEvent& event : events)
        appendRow(KTLocalClock::at(event.msecsSinceEpoch), event.message, event.type, event.location);
    showLatest();
}

void LogPanet::appendRow(const QDateTime& time, const QString& message, int status, const QString& objectLocation)
{
    // Indexed by KT::MessageType; client-side events keep the view's own colour.
    static const QColor colours[] = {
        QColor(143, 62, 81), QColor(104, 72, 101), QColor(169, 145, 13), QColor(50, 55, 95), QColor(114, 152, 108)};

    const QList<QStandardItem*> row = {new QStandardItem(time.toString(QStringLiteral("yyyy-MM-dd"))),
                                       new QStandardItem(time.toString(QStringLiteral("hh:mm:ss"))),
                                       new QStandardItem(objectLocation), new QStandardItem(message)};
    row.last()->setToolTip(message);
    if (status >= KT::ErrorMessage && status <= KT::SuccessMessage) {
        for (QStandardItem* cell : row)
            cell->setForeground(colours[status]);
    }
    _log->appendRow(row);
}

// Drops the oldest rows past the limit (in one go, not a row per event) and
// shows the newest.
void LogPanet::showLatest()
{
    if (_log->rowCount() > maxRows + maxRows / 10)
        _log->removeRows(0, _log->rowCount() - maxRows);
    if (_tvwLog)
        _tvwLog->scrollToBottom();
}
