#include "ConnectorPanet.h"

#include <KTMainWindow.h>

ConnectorPanet::ConnectorPanet(QWidget* parent)
    : KTModelPanet(tr("Conector"), QStringLiteral("tvwConnector"), &KTMainWindow::connectorModelCreated,
                   {100, 100, 130, 200}, parent)
{
}
