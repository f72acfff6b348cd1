#ifndef AUTHORIZATIONPANET_H
#define AUTHORIZATIONPANET_H

#include <KTModelPanet.h>

// The pending authorizations, as the authorization model lists them.
class AuthorizationPanet : public KTModelPanet
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID KTPanetBaseInterface_iid)
    Q_INTERFACES(KTPanetBaseInterface)
public:
    explicit AuthorizationPanet(QWidget* parent = nullptr);
};

#endif
