#ifndef LOGPANET_H
#define LOGPANET_H

#include <KTCorePanet.h>
#include <KTEvent.h>

class QDateTime;

class QStandardItemModel;
class QTableView;

// The event log: the events the server's parts report, one coloured row
// each. Only the latest rows stay in memory: the log file keeps them all.
class LogPanet : public KTCorePanet
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID KTPanetBaseInterface_iid)
    Q_INTERFACES(KTPanetBaseInterface)
public:
    explicit LogPanet(QWidget* parent = nullptr);

    void setup() override;

    static constexpr int maxRows = 20000;

public Q_SLOTS:
    void appendMessage(const QString& message, int status, const QString& objectLocation);
    void appendMessages(const QList<KTEvent>& events);

private:
    void appendRow(const QDateTime& time, const QString& message, int status, const QString& objectLocation);
    void showLatest();

    QStandardItemModel* _log;
    QTableView* _tvwLog = nullptr;
};

#endif
