#ifndef MYSQLDIALECTMAP_H
#define MYSQLDIALECTMAP_H

#include <KTDatabaseMap.h>

// The SQL dialect of MySQL and MariaDB. Pure text builders: values and
// conditions are inserted as the callers give them.
class MySqlDialectMap : public KTDatabaseMap
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID KTDatabaseMapInterface_iid)
    Q_INTERFACES(KTDatabaseMapInterface)
public:
    explicit MySqlDialectMap(QObject* parent = nullptr);

    QString autoIncrement(bool enabled) override;
    QString canBeNull(bool null) override;
    QString concat(const QStringList& keys) override;
    QString count() override;
    QString createDatabase(const QString& dbName) override;
    QString createTable(const KTDbTable* dbTable) override;
    QString defaultValue(const QString& defValue) override;
    QString deleteRecords(const QString& tableName, const QString& whereCondition) override;
    QString fieldType(const QString& type, const QString& typeModifier) override;
    QString in(const QStringList& keys) override;
    QString index(bool unique) override;
    QString insertRecords(const QString& tableName, const QList<QStringList>& values,
                          const QStringList& fields) override;
    QString label() override;
    QString lastInsertID() override;
    QString lock(const QStringList& tables, const QStringList& aliases, const QStringList& modes) override;
    QString name() override;
    QString nullValue() override;
    QString select(const QString& tableName, const QStringList& fields, const QString& whereCondition,
                   const QString& groupBy, const QString& orderBy, const QString& limit) override;
    QString selectResolveKeys(const QString& tableName, const QStringList& fields, const QString& whereCondition,
                              const QString& groupBy, const QString& orderBy, const QString& limit,
                              bool browseOrLabelField) override;
    QString selectMulti(const QStringList& tableNames, const QStringList& fields, const QString& whereCondition,
                        const QString& groupBy, const QString& orderBy, const QString& limit) override;
    QString setEnabledForeignChecks(bool enable) override;
    QString tableCreateOptions() override;
    QString unlock() override;
    QString updateRecords(const QString& tableName, const QStringList& values, const QStringList& fields,
                          const QString& whereCondition) override;
    void postSetup() override;

private:
    QString columnDefinitions(const KTDbTable* dbTable);
    QString systemColumns();
    QString keysAndConstraints(const KTDbTable* dbTable);
    static QString optionalClauses(const QString& whereCondition, const QString& groupBy, const QString& orderBy,
                                   const QString& limit);
};

#endif
