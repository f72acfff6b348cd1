#include "SchedulerPanet.h"

#include <KTMainWindow.h>

SchedulerPanet::SchedulerPanet(QWidget* parent)
    : KTModelPanet(tr("Planificador"), QStringLiteral("tvwScheduler"), &KTMainWindow::schedulerModelCreated,
                   {140, 80, 80, 90, 55, 55, 60, 60, 55, 55, 55, 80, 20, 60}, parent)
{
}
