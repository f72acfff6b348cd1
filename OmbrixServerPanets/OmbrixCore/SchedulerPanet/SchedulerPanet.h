#ifndef SCHEDULERPANET_H
#define SCHEDULERPANET_H

#include <KTModelPanet.h>

// The scheduled messages waiting for delivery, as the scheduler lists them.
class SchedulerPanet : public KTModelPanet
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID KTPanetBaseInterface_iid)
    Q_INTERFACES(KTPanetBaseInterface)
public:
    explicit SchedulerPanet(QWidget* parent = nullptr);
};

#endif
