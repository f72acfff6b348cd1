#ifndef DBMETADATASERCOM_H
#define DBMETADATASERCOM_H

#include <KTDbSercom.h>

// Tells a client what the server knows of one table: its record counters as
// the requester may see them, and the table's definition document.
class DbMetadataSercom : public KTDbSercom
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID KTSercomBaseInterface_iid)
    Q_INTERFACES(KTSercomBaseInterface)
public:
    explicit DbMetadataSercom(QObject* parent = nullptr);

    KTSercomBase* createInstance() override;
    bool readsOnly() const override { return true; }
    QString processRequest(const QMultiMap<QString, QString>& params) override;
};

#endif
