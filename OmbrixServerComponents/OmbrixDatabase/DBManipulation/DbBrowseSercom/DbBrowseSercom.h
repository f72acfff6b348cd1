#ifndef DBBROWSESERCOM_H
#define DBBROWSESERCOM_H

#include <KTDbSercom.h>

#include <QMap>

// Fills a client's data view with the rows of one table that the user may
// see. When the table's counters still match what the client last received
// and the limit is the one of this connection's previous browse, only the
// counters are sent and the client keeps its rows.
class DbBrowseSercom : public KTDbSercom
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID KTSercomBaseInterface_iid)
    Q_INTERFACES(KTSercomBaseInterface)
public:
    explicit DbBrowseSercom(QObject* parent = nullptr);

    KTSercomBase* createInstance() override;
    bool readsOnly() const override { return true; }
    QString processRequest(const QMultiMap<QString, QString>& params) override;

private:
    KTSercomResponse::Attributes rootAttributes() const override;
    bool tableChanged(const QString& table, const QList<quint64>& stats, const QStringList& clientStats,
                      const QString& limit);
    QString visibleCondition(const QString& prefix, const QString& where) const;

    // Table name to the limit of this connection's last browse of it.
    QMap<QString, QString> _limits;
};

#endif
