#include "KTConnectionSession.h"

#include <algorithm>

void KTConnectionSession::acceptCompany()
{
    _stage = std::max(_stage, CompanyAccepted);
}

void KTConnectionSession::completeNegotiation()
{
    Q_ASSERT(companyAccepted());
    _stage = std::max(_stage, Negotiated);
}

void KTConnectionSession::logIn(const QString& user, const QString& userCod, int userType, const QString& group)
{
    Q_ASSERT(negotiated());
    _stage = Authenticated;
    _user = user;
    _userCod = userCod;
    _userType = userType;
    _group = group;
}

void KTConnectionSession::logOut()
{
    _stage = std::min(_stage, Negotiated);
    _user = QStringLiteral("?");
    _userCod.clear();
    _userType = 0;
    _group.clear();
}
