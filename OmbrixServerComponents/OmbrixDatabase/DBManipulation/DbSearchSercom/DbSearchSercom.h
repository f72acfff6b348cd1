#ifndef DBSEARCHSERCOM_H
#define DBSEARCHSERCOM_H

#include <KTDbSercom.h>

// Looks one record up by its key for a client widget: its label or browse
// text, or the whole record with its system values.
class DbSearchSercom : public KTDbSercom
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID KTSercomBaseInterface_iid)
    Q_INTERFACES(KTSercomBaseInterface)
public:
    explicit DbSearchSercom(QObject* parent = nullptr);

    KTSercomBase* createInstance() override;
    bool readsOnly() const override { return true; }
    QString processRequest(const QMultiMap<QString, QString>& params) override;

private:
    QString condition(KTDbTable* table, const QString& key) const;
    QStringList columns(KTDbTable* table, const QString& role) const;
    static QString recordRow(const QSqlQuery& query, KTDbTable* table, const QStringList& columns);
    static QString recordModifiers(const QSqlQuery& query, const QStringList& columns);
    KTSercomResponse::Attributes rootAttributes() const override;
};

#endif
