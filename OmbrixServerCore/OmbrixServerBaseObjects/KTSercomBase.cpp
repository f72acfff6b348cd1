#include "KTSercomBase.h"

KTSercomBase::KTSercomBase(QObject* parent)
    : QObject(parent)
{
}

bool KTSercomBase::lastResult() { return _lastResult; }
QString KTSercomBase::lastMessage() { return _lastMessage; }

void KTSercomBase::setup(int connectionID, QMap<QString, QMap<int, quint64> >* lastKeysMap,
                         QMap<QString, QList<int> >* transactionModifiers)
{
    _lastResult = false;
    _connectionID = connectionID;
    _lastKeysMap = lastKeysMap;
    _transactionModifiers = transactionModifiers;
}
