#ifndef KTCONNECTIONSESSION_H
#define KTCONNECTIONSESSION_H

#include "KTAccessList.h"

#include <QString>

// How far one connection's client has come, and who it is. The stage moves
// only through the named steps below; a later negotiation never takes a
// client back, a failed login does.
class KTConnectionSession
{
public:
    enum Stage { Connected, CompanyAccepted, Negotiated, Authenticated };

    Stage stage() const { return _stage; }
    // The client knew the company's name and password, whatever became of
    // its version: it may download the client program.
    bool companyAccepted() const { return _stage >= CompanyAccepted; }
    bool negotiated() const { return _stage >= Negotiated; }
    bool authenticated() const { return _stage == Authenticated; }
    void acceptCompany();
    void completeNegotiation();
    // The outcome of a login: who logged in, or nobody.
    void logIn(const QString& user, const QString& userCod, int userType, const QString& group);
    void logOut();

    int connectionID = 0;
    // Until negotiation sets it, replies go out at zlib's default level.
    int compressionFactor = -1;
    int packMaxCount = 0;
    QString clientIP;
    QString clientMAC;
    QString clientVersion;
    QString operatingSystem;
    KTAccessList accessList;

    const QString& user() const { return _user; }
    const QString& userCod() const { return _userCod; }
    const QString& group() const { return _group; }
    int userType() const { return _userType; }

private:
    Stage _stage = Connected;
    QString _user = QStringLiteral("?");
    QString _userCod;
    QString _group;
    int _userType = 0;
};

#endif
