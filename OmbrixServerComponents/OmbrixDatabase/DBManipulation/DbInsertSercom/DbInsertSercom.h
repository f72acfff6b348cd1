#ifndef DBINSERTSERCOM_H
#define DBINSERTSERCOM_H

#include <KTDbSercom.h>

// Inserts the rows of one table, reads each back with its keys resolved,
// records the generated keys by line number for the later actions of the
// request and answers with the inserted rows.
class DbInsertSercom : public KTDbSercom
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID KTSercomBaseInterface_iid)
    Q_INTERFACES(KTSercomBaseInterface)
public:
    explicit DbInsertSercom(QObject* parent = nullptr);

    KTSercomBase* createInstance() override;
    QString processRequest(const QMultiMap<QString, QString>& params) override;

private:
    struct Request {
        QString table;
        QStringList fields;
        QStringList rows;
        QStringList lineNumbers;
        QString mainTransaction;
    };

    QString malformed(const Request& request, KTDbTable* table) const;
    QString insertRows(const Request& request, KTDbTable* table);
    QString parentComponent(const QStringList& fields, const QStringList& values) const;
    static QList<int> insertedCounters(const QStringList& fields, const QStringList& values);
    QString successResponse(const Request& request, const Rows& inserted);
};

#endif
