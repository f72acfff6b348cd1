#ifndef KTDATABASEMAPINTERFACE_H
#define KTDATABASEMAPINTERFACE_H

#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include <KTDbTable.h>

// SQL dialect contract: every operation but the last three returns SQL text or
// a word of the dialect. Declaration order is the binary contract.
class KTDatabaseMapInterface
{
public:
    virtual QString autoIncrement(bool enabled) = 0;
    virtual QString canBeNull(bool null) = 0;
    virtual QString concat(const QStringList& keys) = 0;
    virtual QString count() = 0;
    virtual QString createDatabase(const QString& dbName) = 0;
    virtual QString createTable(const KTDbTable* dbTable) = 0;
    virtual QString deleteRecords(const QString& tableName, const QString& whereCondition) = 0;
    virtual QString defaultValue(const QString& defValue) = 0;
    virtual QString fieldType(const QString& type, const QString& typeModifier) = 0;
    virtual QString in(const QStringList& keys) = 0;
    virtual QString index(bool unique) = 0;
    virtual QString insertRecords(const QString& tableName, const QList<QStringList>& values,
                                  const QStringList& fields) = 0;
    virtual QString lock(const QStringList& tables, const QStringList& aliases,
                         const QStringList& modes) = 0;
    virtual QString label() = 0;
    virtual QString lastInsertID() = 0;
    virtual QString name() = 0;
    virtual QString nullValue() = 0;
    virtual QString select(const QString& tableName, const QStringList& fields,
                           const QString& whereCondition, const QString& groupBy,
                           const QString& orderBy, const QString& limit) = 0;
    virtual QString selectResolveKeys(const QString& tableName, const QStringList& fields,
                                      const QString& whereCondition, const QString& groupBy,
                                      const QString& orderBy, const QString& limit,
                                      bool browseOrLabelField) = 0;
    virtual QString selectMulti(const QStringList& tableNames, const QStringList& fields,
                                const QString& whereCondition, const QString& groupBy,
                                const QString& orderBy, const QString& limit) = 0;
    virtual QString setEnabledForeignChecks(bool enable) = 0;
    virtual QString tableCreateOptions() = 0;
    virtual QString unlock() = 0;
    virtual QString updateRecords(const QString& tableName, const QStringList& values,
                                  const QStringList& fields, const QString& whereCondition) = 0;
    virtual void setDbDefinitionMap(QMap<QString, KTDbTable*> dbDefinitionMap) = 0;
    virtual void setup() = 0;
    virtual void postSetup() = 0;

protected:
    ~KTDatabaseMapInterface() = default;
};

#define KTDatabaseMapInterface_iid "Ombrix.KTDatabaseMapInterface/1.0.0"
Q_DECLARE_INTERFACE(KTDatabaseMapInterface, KTDatabaseMapInterface_iid)

#endif
