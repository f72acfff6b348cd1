#ifndef DBMODIFIERSSERCOM_H
#define DBMODIFIERSSERCOM_H

#include <KTDbSercom.h>

// Changes the system values of one record (enabled, editable, authorized,
// visible, context, group) without touching its own columns.
class DbModifiersSercom : public KTDbSercom
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID KTSercomBaseInterface_iid)
    Q_INTERFACES(KTSercomBaseInterface)
public:
    explicit DbModifiersSercom(QObject* parent = nullptr);

    KTSercomBase* createInstance() override;
    QString processRequest(const QMultiMap<QString, QString>& params) override;

private:
    QString malformed(const QString& tableName, KTDbTable* table, const QStringList& modifiers) const;
    void countChange(const QString& tableName, const QString& enabled);
    QString successResponse(const QString& key, const QStringList& modifiers, bool log);
    QString failure(const QString& key, const QString& error);
};

#endif
