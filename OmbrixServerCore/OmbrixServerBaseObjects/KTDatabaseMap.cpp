#include "KTDatabaseMap.h"

KTDatabaseMap::KTDatabaseMap(QObject* parent)
    : QObject(parent)
{
}

void KTDatabaseMap::setDbDefinitionMap(QMap<QString, KTDbTable*> dbDefinitionMap)
{
    QMutexLocker locker(&_dbDefinitionMapMutex);
    _dbDefinitionMap = dbDefinitionMap;
}

QMap<QString, KTDbTable*> KTDatabaseMap::dbDefinitionMap() const
{
    QMutexLocker locker(&_dbDefinitionMapMutex);
    return _dbDefinitionMap;
}

void KTDatabaseMap::setup()
{
}
