#ifndef DBDELETESERCOM_H
#define DBDELETESERCOM_H

#include <KTDbSercom.h>

// Deletes records of one table by key, their rows in the named detail tables
// first, and keeps the counters of every table right from the system values
// the client sends along with each key.
class DbDeleteSercom : public KTDbSercom
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID KTSercomBaseInterface_iid)
    Q_INTERFACES(KTSercomBaseInterface)
public:
    explicit DbDeleteSercom(QObject* parent = nullptr);

    KTSercomBase* createInstance() override;
    QString processRequest(const QMultiMap<QString, QString>& params) override;

private:
    struct Request {
        QString table;
        QStringList detailTables;
        QStringList entries;
    };

    QString malformed(const Request& request, KTDbTable* table) const;
    // Deletes one record and its detail rows; the master's affected count, or -1 on a database error.
    int deleteRecord(const Request& request, KTDbTable* table, const QStringList& entry, QString* error);
    static QList<int> deletedCounters(const QStringList& entry, int count);
    QString successResponse(const QStringList& keys, int lastCount);
    QString failure(const QString& error);
};

#endif
