#ifndef KTMODELPANET_H
#define KTMODELPANET_H

#include "KTCorePanet.h"

class QStandardItemModel;
class QTreeView;

// A Core page that shows, in one tree view, the model another part of the
// server announces through a main-window signal. The page never owns the model.
class KTModelPanet : public KTCorePanet
{
    Q_OBJECT
public:
    void setup() override;

public Q_SLOTS:
    void linkModel(QStandardItemModel* model);

protected:
    using ModelSignal = void (KTMainWindow::*)(QStandardItemModel*);

    KTModelPanet(const QString& label, const QString& viewName, ModelSignal modelCreated,
                 const QList<int>& columnWidths, QWidget* parent);

private:
    const QString _viewName;
    const ModelSignal _modelCreated;
    const QList<int> _columnWidths;
    QTreeView* _view = nullptr;
};

#endif
