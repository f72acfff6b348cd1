#ifndef AUTHORIZATIONPANET_H
#define AUTHORIZATIONPANET_H

#include <KTModelPanet.h>

class QTreeView;

// The pending authorizations, as the authorization model lists them, and
// below them the tables each client component is bound to.
class AuthorizationPanet : public KTModelPanet
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID KTPanetBaseInterface_iid)
    Q_INTERFACES(KTPanetBaseInterface)
public:
    explicit AuthorizationPanet(QWidget* parent = nullptr);
    void setup() override;

private Q_SLOTS:
    void linkBindings(QStandardItemModel* model);

private:
    QTreeView* _bindings = nullptr;
};

#endif
