#include "KTAuthcomBase.h"

KTAuthcomBase::KTAuthcomBase(QObject* parent)
    : QObject(parent)
{
}

bool KTAuthcomBase::authenticated() { return _authenticated; }
QString KTAuthcomBase::lastMessage() { return _lastMessage; }
QString KTAuthcomBase::user() { return _user; }
QString KTAuthcomBase::userCod() { return _userCod; }
QString KTAuthcomBase::group() { return _group; }
int KTAuthcomBase::userType() { return _userType; }

void KTAuthcomBase::setup(int connectionID)
{
    _authenticated = false;
    _connectionID = connectionID;
}
