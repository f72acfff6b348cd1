#ifndef KTDATABASEMAP_H
#define KTDATABASEMAP_H

#include "KTDatabaseMapInterface.h"

#include <QMutex>

// Base of the SQL dialect plug-ins. The plug-in's root object is the one map
// instance of the process, shared by the parsers of every connection thread;
// it keeps a copy of the table definition map, which those threads set and
// read concurrently, so the copy is guarded.
class KTDatabaseMap : public QObject, public KTDatabaseMapInterface
{
    Q_OBJECT
    Q_INTERFACES(KTDatabaseMapInterface)
public:
    explicit KTDatabaseMap(QObject* parent = nullptr);

public Q_SLOTS:
    QString autoIncrement(bool enabled) override = 0;
    QString canBeNull(bool null) override = 0;
    QString concat(const QStringList& keys) override = 0;
    QString count() override = 0;
    QString createDatabase(const QString& dbName) override = 0;
    QString createTable(const KTDbTable* dbTable) override = 0;
    QString defaultValue(const QString& defValue) override = 0;
    QString deleteRecords(const QString& tableName, const QString& whereCondition) override = 0;
    QString fieldType(const QString& type, const QString& typeModifier) override = 0;
    QString in(const QStringList& keys) override = 0;
    QString index(bool unique) override = 0;
    QString insertRecords(const QString& tableName, const QList<QStringList>& values,
                          const QStringList& fields) override = 0;
    QString label() override = 0;
    QString lastInsertID() override = 0;
    QString lock(const QStringList& tables, const QStringList& aliases,
                 const QStringList& modes) override = 0;
    QString name() override = 0;
    QString nullValue() override = 0;
    QString select(const QString& tableName, const QStringList& fields,
                   const QString& whereCondition, const QString& groupBy,
                   const QString& orderBy, const QString& limit) override = 0;
    QString selectResolveKeys(const QString& tableName, const QStringList& fields,
                              const QString& whereCondition, const QString& groupBy,
                              const QString& orderBy, const QString& limit,
                              bool browseOrLabelField) override = 0;
    QString selectMulti(const QStringList& tableNames, const QStringList& fields,
                        const QString& whereCondition, const QString& groupBy,
                        const QString& orderBy, const QString& limit) override = 0;
    QString setEnabledForeignChecks(bool enable) override = 0;
    QString tableCreateOptions() override = 0;
    QString unlock() override = 0;
    QString updateRecords(const QString& tableName, const QStringList& values,
                          const QStringList& fields, const QString& whereCondition) override = 0;
    void setDbDefinitionMap(QMap<QString, KTDbTable*> dbDefinitionMap) override;
    void setup() override;

Q_SIGNALS:
    void eventMessage(const QString& message, int type, const QString& source);

protected:
    // A copy of the map last set, safe to call from any thread.
    QMap<QString, KTDbTable*> dbDefinitionMap() const;

    QMap<QString, KTDbTable*> _dbDefinitionMap;

private:
    mutable QMutex _dbDefinitionMapMutex;
};

#endif
