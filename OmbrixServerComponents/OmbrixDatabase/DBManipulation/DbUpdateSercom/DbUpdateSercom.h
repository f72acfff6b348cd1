#ifndef DBUPDATESERCOM_H
#define DBUPDATESERCOM_H

#include <KTDbSercom.h>

// Changes rows of one table, each named by its key or all by one condition,
// and stamps them with the requester's authorization group. When the client
// asks for it, the changed rows are read back, logged and returned.
class DbUpdateSercom : public KTDbSercom
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID KTSercomBaseInterface_iid)
    Q_INTERFACES(KTSercomBaseInterface)
public:
    explicit DbUpdateSercom(QObject* parent = nullptr);

    KTSercomBase* createInstance() override;
    QString processRequest(const QMultiMap<QString, QString>& params) override;

private:
    struct Request {
        QString table;
        QStringList fields;
        QStringList rows;
        QString where;
        bool log = false;
    };

    QString malformed(const Request& request, KTDbTable* table) const;
    // Updates every row; false at the first database error, whose text goes to error.
    bool updateRows(const Request& request, KTDbTable* table, Rows* changed, QString* error);
    QString successResponse(const Request& request, const Rows& changed);
    QString failure(const QString& error);
};

#endif
