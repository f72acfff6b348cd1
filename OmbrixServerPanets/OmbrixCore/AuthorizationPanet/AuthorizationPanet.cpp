#include "AuthorizationPanet.h"

#include <KTMainWindow.h>

AuthorizationPanet::AuthorizationPanet(QWidget* parent)
    : KTModelPanet(tr("Autorizador"), QStringLiteral("tvwAuthorization"), &KTMainWindow::authorizationModelCreated,
                   {160, 150, 100, 110, 110, 110}, parent)
{
}
