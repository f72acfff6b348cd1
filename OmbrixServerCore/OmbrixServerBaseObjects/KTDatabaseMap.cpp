#include "KTDatabaseMap.h"

KTDatabaseMap::KTDatabaseMap(QObject* parent)
    : QObject(parent)
{
}

void KTDatabaseMap::setDbDefinitionMap(QMap<QString, KTDbTable*> dbDefinitionMap)
{
    _dbDefinitionMap = dbDefinitionMap;
}

void KTDatabaseMap::setup()
{
}
