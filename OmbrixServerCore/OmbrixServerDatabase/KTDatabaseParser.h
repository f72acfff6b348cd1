#ifndef KTDATABASEPARSER_H
#define KTDATABASEPARSER_H

#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

class KTDatabaseMap;
class QFile;
#include <KTDbTable.h>

// Stands between a database controller and the SQL dialect: loads the dialect
// map that matches the driver, parses table definitions and hands every
// request for SQL text to the map. It never executes SQL itself.
class KTDatabaseParser : public QObject
{
    Q_OBJECT
public:
    explicit KTDatabaseParser(QObject* parent = nullptr);

    void loadMapPlugins(const QString& pluginDir, const QString& pluginName);
    bool hasMap() const;

    KTDbTable* parseTable(const QString& tableName, const QString& tableDefinition);
    QString recordCount(const QString& tableName);

    // A data file's rows as one INSERT of SQL literals.
    QString createDataFromFile(QFile& tableFile, bool force = false);
    // One INSERT with placeholders per row of a data file, with the row's
    // values bound by placeholder name; the blob column's value is the
    // content of the file it names in blobDir.
    QMultiMap<QString, QMap<QString, QVariant> > createDataFromFileBindingBlobs(QFile& tableFile, int blobFieldIndex,
                                                                              const QString& blobDir,
                                                                              bool force = false);
    static QString dataFileTableName(const QFile& tableFile);
    void setDbDefinitionMap(QMap<QString, KTDbTable*> dbDefinitionMap);
    QMap<QString, KTDbTable*> dbDefinitionMap() const;

    QString concat(const QStringList& keys);
    QString count();
    QString createDatabase(const QString& dbName);
    QString createTable(const KTDbTable* tableStructure, bool unused = false);
    QString deleteRecords(const QString& tableName, const QString& whereCondition);
    QString in(const QStringList& keys);
    QString insertRecords(const QString& tableName, const QList<QStringList>& values, const QStringList& fields);
    QString lastInsertID();
    QString lock(const QStringList& tables, const QStringList& aliases, const QStringList& modes);
    QString nullValue();
    QString select(const QString& tableName, const QStringList& fields, const QString& whereCondition,
                   const QString& groupBy, const QString& orderBy, const QString& limit);
    QString selectResolveKeys(const QString& tableName, const QStringList& fields, const QString& whereCondition,
                              const QString& groupBy, const QString& orderBy, const QString& limit);
    QString selectMulti(const QStringList& tableNames, const QStringList& fields, const QString& whereCondition,
                        const QString& groupBy, const QString& orderBy, const QString& limit);
    QString setEnabledForeignChecks(bool enable);
    QString unlock();
    QString updateRecords(const QString& tableName, const QStringList& values, const QStringList& fields,
                          const QString& whereCondition);

Q_SIGNALS:
    void errorLoadingTable(const QString& tableName);
    void eventMessage(const QString& message, int type, const QString& source);

private:
    // False, with the "no map" event from source, while no map is loaded.
    bool mapLoaded(const QString& source);
    static QList<QStringList> dataRows(QFile& tableFile);

    KTDatabaseMap* _dbMap = nullptr;
    QMap<QString, KTDbTable*> _dbDefinitionMap;
};

#endif
