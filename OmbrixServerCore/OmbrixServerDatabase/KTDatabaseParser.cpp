#include "KTDatabaseParser.h"

#include "KTTableDefinitionReader.h"

#include <KT.h>
#include <KTDatabaseMap.h>
#include <KTDbTable.h>
#include <KTPluginLoader.h>
#include <KTVersion.h>

#include <QFile>
#include <QFileInfo>
#include <QTextStream>

namespace {

QString source(const char* operation)
{
    return QStringLiteral("KTDatabaseParser::%1()").arg(QLatin1String(operation));
}

} // namespace

KTDatabaseParser::KTDatabaseParser(QObject* parent)
    : QObject(parent)
{
}

void KTDatabaseParser::loadMapPlugins(const QString& pluginDir, const QString& pluginName)
{
    const QString location = source("loadMapPlugins");
    for (const KTPluginLoader::File& file : KTPluginLoader::files(pluginDir)) {
        if (file.objectName != pluginName)
            continue;
        _dbMap = KTPluginLoader::load<KTDatabaseMap>(file.absolutePath);
        if (_dbMap) {
            _dbMap->setup();
            emit eventMessage(tr("El mapa de BD : '%1' fue cargado exitosamente.").arg(_dbMap->name()),
                              KT::SuccessMessage, location);
        } else {
            emit eventMessage(tr("El mapa de BD : '%1' no pudo ser cargado.").arg(pluginName),
                              KT::ErrorMessage, location);
        }
    }
}

bool KTDatabaseParser::hasMap() const
{
    return _dbMap != nullptr;
}

bool KTDatabaseParser::mapLoaded(const QString& location)
{
    if (!_dbMap)
        emit eventMessage(tr("No existe ningún mapa de BD cargado"), KT::ErrorMessage, location);
    return _dbMap != nullptr;
}

KTDbTable* KTDatabaseParser::parseTable(const QString& tableName, const QString& tableDefinition)
{
    const QString location = source("parseTable");
    if (!_dbMap) {
        emit errorLoadingTable(tableName);
        mapLoaded(location);
        return nullptr;
    }
    KTTableDefinitionReader reader(tableName);
    KTDbTable* table = reader.read(tableDefinition);
    if (!table) {
        emit errorLoadingTable(tableName);
        emit eventMessage(reader.errorText(), KT::ErrorMessage, location);
    }
    return table;
}

QString KTDatabaseParser::recordCount(const QString& tableName)
{
    if (!mapLoaded(source("recordCount")))
        return QString();
    return _dbMap->select(tableName, {_dbMap->count()}, QString(), QString(), QString(), QString());
}

QString KTDatabaseParser::dataFileTableName(const QFile& tableFile)
{
    return QFileInfo(tableFile.fileName()).fileName().remove(QStringLiteral(".odd"));
}

// One row per line, values split at "|"; the first line that is blank once
// simplified ends the file.
QList<QStringList> KTDatabaseParser::dataRows(QFile& tableFile)
{
    QList<QStringList> rows;
    QTextStream stream(&tableFile);
    while (!stream.atEnd()) {
        const QString line = stream.readLine().simplified();
        if (line.isEmpty())
            break;
        rows << line.split(QLatin1Char('|'));
    }
    return rows;
}

QString KTDatabaseParser::createDataFromFile(QFile& tableFile, bool)
{
    if (!mapLoaded(QStringLiteral("KTDatabaseParser::createDataFromFile")))
        return QString();
    return _dbMap->insertRecords(dataFileTableName(tableFile), dataRows(tableFile), QStringList());
}

QMultiMap<QString, QMap<QString, QVariant> >
KTDatabaseParser::createDataFromFileBindingBlobs(QFile& tableFile, int blobFieldIndex, const QString& blobDir, bool)
{
    QMultiMap<QString, QMap<QString, QVariant> > statements;
    if (!mapLoaded(QStringLiteral("KTDatabaseParser::createDataFromFileBindingBlobs")))
        return statements;
    const QString tableName = dataFileTableName(tableFile);
    for (const QStringList& row : dataRows(tableFile)) {
        QStringList placeholders;
        QMap<QString, QVariant> bindings;
        for (int j = 0; j < row.size(); ++j) {
            const QString placeholder = QLatin1Char(':') + QString::number(j);
            placeholders << placeholder;
            // Bound values carry no quotes, so NULL is the one word that stands for no value.
            if (row.at(j) == QLatin1String("NULL")) {
                bindings.insert(placeholder, QVariant());
                continue;
            }
            if (j != blobFieldIndex) {
                bindings.insert(placeholder, row.at(j));
                continue;
            }
            // A blob is a file of the blob folder itself, never a path out of it.
            const QString blobName = row.at(j);
            QFile blob(blobDir + QLatin1Char('/') + blobName);
            if (KTVersion::isPlainFileName(blobName) && blob.open(QIODevice::ReadOnly))
                bindings.insert(placeholder, blob.readAll());
            else
                emit eventMessage(tr("No se pudo abrir archivo : '%1'").arg(blob.fileName()), KT::ErrorMessage,
                                  source("createDataFromFileBindingBlobs"));
        }
        statements.insert(_dbMap->insertRecords(tableName, {placeholders}, QStringList()), bindings);
    }
    return statements;
}

void KTDatabaseParser::setDbDefinitionMap(QMap<QString, KTDbTable*> dbDefinitionMap)
{
    _dbDefinitionMap = dbDefinitionMap;
    if (mapLoaded(source("setDbDefinitionMap")))
        _dbMap->setDbDefinitionMap(dbDefinitionMap);
}

QMap<QString, KTDbTable*> KTDatabaseParser::dbDefinitionMap() const
{
    return _dbDefinitionMap;
}

QString KTDatabaseParser::concat(const QStringList& keys)
{
    return mapLoaded(source("concat")) ? _dbMap->concat(keys) : QString();
}

QString KTDatabaseParser::count()
{
    return mapLoaded(source("count")) ? _dbMap->count() : QString();
}

QString KTDatabaseParser::createDatabase(const QString& dbName)
{
    return mapLoaded(source("createDatabase")) ? _dbMap->createDatabase(dbName) : QString();
}

QString KTDatabaseParser::createTable(const KTDbTable* tableStructure, bool)
{
    return mapLoaded(source("createTable")) ? _dbMap->createTable(tableStructure) : QString();
}

QString KTDatabaseParser::deleteRecords(const QString& tableName, const QString& whereCondition)
{
    return mapLoaded(source("deleteRecords")) ? _dbMap->deleteRecords(tableName, whereCondition) : QString();
}

QString KTDatabaseParser::in(const QStringList& keys)
{
    return mapLoaded(source("in")) ? _dbMap->in(keys) : QString();
}

QString KTDatabaseParser::insertRecords(const QString& tableName, const QList<QStringList>& values,
                                        const QStringList& fields)
{
    return mapLoaded(source("insertRecords")) ? _dbMap->insertRecords(tableName, values, fields) : QString();
}

QString KTDatabaseParser::lastInsertID()
{
    return mapLoaded(source("lastInsertID")) ? _dbMap->lastInsertID() : QString();
}

QString KTDatabaseParser::lock(const QStringList& tables, const QStringList& aliases, const QStringList& modes)
{
    return mapLoaded(source("lock")) ? _dbMap->lock(tables, aliases, modes) : QString();
}

QString KTDatabaseParser::nullValue()
{
    return mapLoaded(source("nullValue")) ? _dbMap->nullValue() : QString();
}

QString KTDatabaseParser::select(const QString& tableName, const QStringList& fields, const QString& whereCondition,
                                 const QString& groupBy, const QString& orderBy, const QString& limit)
{
    if (!mapLoaded(source("select")))
        return QString();
    return _dbMap->select(tableName, fields, whereCondition, groupBy, orderBy, limit);
}

QString KTDatabaseParser::selectResolveKeys(const QString& tableName, const QStringList& fields,
                                            const QString& whereCondition, const QString& groupBy,
                                            const QString& orderBy, const QString& limit)
{
    if (!mapLoaded(source("select")))
        return QString();
    return _dbMap->selectResolveKeys(tableName, fields, whereCondition, groupBy, orderBy, limit, false);
}

QString KTDatabaseParser::selectMulti(const QStringList& tableNames, const QStringList& fields,
                                      const QString& whereCondition, const QString& groupBy,
                                      const QString& orderBy, const QString& limit)
{
    if (!mapLoaded(source("select")))
        return QString();
    return _dbMap->selectMulti(tableNames, fields, whereCondition, groupBy, orderBy, limit);
}

QString KTDatabaseParser::setEnabledForeignChecks(bool enable)
{
    return mapLoaded(source("setEnabledForeignChecks")) ? _dbMap->setEnabledForeignChecks(enable) : QString();
}

QString KTDatabaseParser::unlock()
{
    return mapLoaded(source("unlock")) ? _dbMap->unlock() : QString();
}

QString KTDatabaseParser::updateRecords(const QString& tableName, const QStringList& values,
                                        const QStringList& fields, const QString& whereCondition)
{
    if (!mapLoaded(source("updateRecords")))
        return QString();
    return _dbMap->updateRecords(tableName, values, fields, whereCondition);
}
