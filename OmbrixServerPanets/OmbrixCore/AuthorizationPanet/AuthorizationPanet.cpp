#include "AuthorizationPanet.h"

#include <KTMainWindow.h>

#include <QLayout>
#include <QStandardItemModel>
#include <QTreeView>

AuthorizationPanet::AuthorizationPanet(QWidget* parent)
    : KTModelPanet(tr("Autorizador"), QStringLiteral("tvwAuthorization"), &KTMainWindow::authorizationModelCreated,
                   {160, 150, 100, 110, 110, 110}, parent)
{
}

void AuthorizationPanet::setup()
{
    const bool built = formBuilt();
    KTModelPanet::setup();
    auto* authorizations = findChild<QTreeView*>(QStringLiteral("tvwAuthorization"));
    if (built || !authorizations || !authorizations->parentWidget() || !authorizations->parentWidget()->layout())
        return;
    _bindings = new QTreeView(authorizations->parentWidget());
    _bindings->setObjectName(QStringLiteral("tvwComponentTables"));
    authorizations->parentWidget()->layout()->addWidget(_bindings);
    if (KTMainWindow* window = mainWindow())
        connect(window, &KTMainWindow::authorizationModelCreated, this, &AuthorizationPanet::linkBindings);
}

// The bindings travel as a child of the authorizations' model.
void AuthorizationPanet::linkBindings(QStandardItemModel* model)
{
    if (!model || !_bindings)
        return;
    if (auto* bindings = model->findChild<QStandardItemModel*>(QStringLiteral("srvComponentTable"),
                                                               Qt::FindDirectChildrenOnly))
        _bindings->setModel(bindings);
}
