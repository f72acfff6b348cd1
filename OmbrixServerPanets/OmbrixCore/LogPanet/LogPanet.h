#ifndef LOGPANET_H
#define LOGPANET_H

#include <KTCorePanet.h>

class QStandardItemModel;
class QTableView;

// The event log: every event the server's parts report, one coloured row
// each, kept in memory for the life of the panel.
class LogPanet : public KTCorePanet
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID KTPanetBaseInterface_iid)
    Q_INTERFACES(KTPanetBaseInterface)
public:
    explicit LogPanet(QWidget* parent = nullptr);

    void setup() override;

public Q_SLOTS:
    void appendMessage(const QString& message, int status, const QString& objectLocation);

private:
    QStandardItemModel* _log;
    QTableView* _tvwLog = nullptr;
};

#endif
