#ifndef KTSERVERAUTHORIZATION_H
#define KTSERVERAUTHORIZATION_H

#include <KTDbTable.h>

#include <QMap>
#include <QObject>
#include <QString>

class KTDatabaseController;
class QStandardItemModel;

// The pending authorizations (table accAuthorization) as an item model for
// the control panel, and beside them the tables each client component is
// bound to (srvComponentTable), as a child model named after that table so
// that both travel together. The panel's database controller builds the
// rows; this object only keeps the latest models and replaces them on every
// refresh.
class KTServerAuthorization : public QObject
{
    Q_OBJECT
public:
    explicit KTServerAuthorization(QObject* parent = nullptr);
    ~KTServerAuthorization() override;

    // Null until the first updateData; owned by this object and replaced
    // (the previous one deleted) by every later updateData.
    QStandardItemModel* model() const { return _model; }
    // The component bindings, a child of model(); null while model() is.
    QStandardItemModel* bindingModel() const;
    static const QString bindingTable;

public Q_SLOTS:
    // Rebuilds the model from the controller, which stays its creator's.
    void updateData(KTDatabaseController* controller);

Q_SIGNALS:
    void eventMessage(const QString& message, int type, const QString& objectLocation);

private:
    QStandardItemModel* emptyModel(const QString& tableName) const;

    // Not owned once updateData supplied the panel's controller; until then
    // a placeholder child of this object.
    KTDatabaseController* _dbController = nullptr;
    // Borrowed definitions: the controller owns the tables.
    QMap<QString, KTDbTable*> _dbDefinitionMap;
    QStandardItemModel* _model = nullptr;
};

#endif
