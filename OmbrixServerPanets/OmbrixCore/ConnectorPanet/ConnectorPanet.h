#ifndef CONNECTORPANET_H
#define CONNECTORPANET_H

#include <KTModelPanet.h>

// The live client connections, as the connector's monitor lists them.
class ConnectorPanet : public KTModelPanet
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID KTPanetBaseInterface_iid)
    Q_INTERFACES(KTPanetBaseInterface)
public:
    explicit ConnectorPanet(QWidget* parent = nullptr);
};

#endif
