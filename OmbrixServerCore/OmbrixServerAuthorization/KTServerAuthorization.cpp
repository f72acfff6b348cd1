#include "KTServerAuthorization.h"

#include <KT.h>
#include <KTDatabaseController.h>

#include <QStandardItem>
#include <QStandardItemModel>

namespace {

const QString authorizationTable = QStringLiteral("accAuthorization");

} // namespace

const QString KTServerAuthorization::bindingTable = QStringLiteral("srvComponentTable");

KTServerAuthorization::KTServerAuthorization(QObject* parent)
    : QObject(parent)
    , _dbController(new KTDatabaseController(this))
{
}

KTServerAuthorization::~KTServerAuthorization() = default;

void KTServerAuthorization::updateData(KTDatabaseController* controller)
{
    if (!controller) {
        // Keep whatever the panel is showing rather than losing it to a bad call.
        emit eventMessage(tr("No se recibió un controlador de base de datos para cargar las autorizaciones"),
                          KT::BugMessage, QStringLiteral("KTServerAuthorization::updateData()"));
        return;
    }
    _dbDefinitionMap = controller->dbDefinitionMap();
    _dbController = controller;

    QStandardItemModel* previous = _model;
    _model = _dbController->loadCustomTable(authorizationTable, QStringList(), true, true);
    // The controller has already reported why the table could not be read.
    // An empty model, rather than none, lets the page drop the old rows: a
    // page ignores a null model and would go on showing the deleted one.
    if (!_model)
        _model = emptyModel(authorizationTable);
    _model->setParent(this);
    QStandardItemModel* bindings = _dbController->loadCustomTable(bindingTable, QStringList(), true, true);
    if (!bindings)
        bindings = emptyModel(bindingTable);
    bindings->setObjectName(bindingTable);
    bindings->setParent(_model);
    delete previous;
}

QStandardItemModel* KTServerAuthorization::bindingModel() const
{
    return _model ? _model->findChild<QStandardItemModel*>(bindingTable, Qt::FindDirectChildrenOnly) : nullptr;
}

QStandardItemModel* KTServerAuthorization::emptyModel(const QString& tableName) const
{
    auto* model = new QStandardItemModel;
    const KTDbTable* table = _dbDefinitionMap.value(tableName);
    if (!table)
        return model;
    int column = 0;
    for (const _TableField& field : table->_tableFields) {
        auto* header = new QStandardItem(field.alias);
        header->setToolTip(field.toolTip);
        model->setHorizontalHeaderItem(column++, header);
    }
    return model;
}
