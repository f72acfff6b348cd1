#include "KTModelPanet.h"

#include <KTMainWindow.h>

#include <algorithm>

#include <QHeaderView>
#include <QStandardItemModel>
#include <QTreeView>

KTModelPanet::KTModelPanet(const QString& label, const QString& viewName, ModelSignal modelCreated,
                           const QList<int>& columnWidths, QWidget* parent)
    : KTCorePanet(label, parent), _viewName(viewName), _modelCreated(modelCreated), _columnWidths(columnWidths)
{
}

void KTModelPanet::setup()
{
    if (formBuilt())
        return;
    _view = new QTreeView(this);
    _view->setObjectName(_viewName);
    // The style's minimum section would widen the narrowest columns past the widths asked for.
    if (!_columnWidths.isEmpty()) {
        const int narrowest = *std::min_element(_columnWidths.cbegin(), _columnWidths.cend());
        _view->header()->setMinimumSectionSize(qMin(narrowest, _view->header()->minimumSectionSize()));
    }
    buildForm(QStringLiteral(":/Resources/Images/DatabasePanetConfig.png"), {}, _view);
    if (KTMainWindow* window = mainWindow())
        connect(window, _modelCreated, this, &KTModelPanet::linkModel);
}

void KTModelPanet::linkModel(QStandardItemModel* model)
{
    // A null model must not blank what the operator is looking at.
    if (!model || !_view)
        return;
    _view->setModel(model);
    for (int column = 0; column < _columnWidths.size(); ++column)
        _view->setColumnWidth(column, _columnWidths.at(column));
}
