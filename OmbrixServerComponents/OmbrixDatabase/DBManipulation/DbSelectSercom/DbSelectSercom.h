#ifndef DBSELECTSERCOM_H
#define DBSELECTSERCOM_H

#include <KTDbSercom.h>

// Runs a select the client composed (tables, columns, condition, grouping
// and order) and answers with every row, tagged with the client's request
// number and name.
class DbSelectSercom : public KTDbSercom
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID KTSercomBaseInterface_iid)
    Q_INTERFACES(KTSercomBaseInterface)
public:
    explicit DbSelectSercom(QObject* parent = nullptr);

    KTSercomBase* createInstance() override;
    bool readsOnly() const override { return true; }
    QString processRequest(const QMultiMap<QString, QString>& params) override;

private:
    QString failure(const QMultiMap<QString, QString>& params, const QString& error);
};

#endif
