#include "KTLoginHandler.h"

#include "KTComponentRegistry.h"
#include "KTConnectionSession.h"
#include "KTReplyXml.h"

#include <KT.h>
#include <KTAuthcomBase.h>
#include <KTDatabaseController.h>

#include <QSqlQuery>

KTLoginHandler::KTLoginHandler(KTConnectionSession& session, KTComponentRegistry& registry,
                               KTDatabaseController* dbController)
    : _session(session)
    , _registry(registry)
    , _dbController(dbController)
{
}

KTLoginHandler::Answer KTLoginHandler::answer(const QMap<QString, QString>& params)
{
    KTAuthcomBase* authcom = _registry.authcom(params.value(QStringLiteral("IdentifierType")));
    _dbController->resetLastErrorCode();
    // Its login record is written outside a request's transaction.
    _dbController->startWritingRequest();
    Answer answer;
    answer.reply = authcom->authenticate(params);
    answer.granted = authcom->authenticated();
    answer.message = authcom->lastMessage();
    // A lookup the database failed (a lock held too long, a lost connection)
    // says nothing of the key: it is answered as such and not counted.
    answer.counted = answer.granted || _dbController->lastErrorCode() == 0;
    if (!answer.counted) {
        answer.message = tr("No se pudo verificar el usuario '%1': la base de datos no respondió. Intente nuevamente.")
                             .arg(params.value(QStringLiteral("Login")).trimmed());
        answer.reply = KTReplyXml::refusal(QStringLiteral("Authenticate"), answer.message);
        emit eventMessage(tr("%1 Conexión : %2").arg(answer.message).arg(_session.connectionID), KT::WarningMessage,
                          QStringLiteral("KTTcpSocket::authenticate()"));
    }
    if (answer.granted)
        _session.logIn(authcom->user(), authcom->userCod(), authcom->userType(), authcom->group());
    else
        _session.logOut();
    grantAccess(answer.reply);
    return answer;
}

// Told to the connector before the login's reply, so that pushed replies
// follow the new rights from the first one on.
void KTLoginHandler::grantAccess(const QString& loginReply)
{
    const int userType = _session.userType();
    _session.accessList = !_session.authenticated() ? KTAccessList()
        : userType == 3 ? KTAccessList::fromLogin(userType, loginReply, componentParents(), _dbController->dbDefinitionMap())
                        : KTAccessList::fromLogin(userType, loginReply);
    emit accessListChanged(_session.connectionID, _session.accessList);
}

// A client object embedded in another (a detail in its master) is reached
// through the grant of the one it is embedded in.
QMap<QString, QString> KTLoginHandler::componentParents()
{
    QMap<QString, QString> parents;
    QSqlQuery query = _dbController->select(QStringLiteral("srvComponent"),
                                            {QStringLiteral("fldName"), QStringLiteral("fldParentComponent")},
                                            QStringLiteral("fldParentComponent IS NOT NULL"), QString(), QString(),
                                            QString());
    while (query.next())
        parents.insert(query.value(0).toString(), query.value(1).toString());
    return parents;
}
