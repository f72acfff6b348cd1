#ifndef KTLOGINHANDLER_H
#define KTLOGINHANDLER_H

#include "KTAccessList.h"

#include <QMap>
#include <QObject>
#include <QString>

class KTComponentRegistry;
class KTConnectionSession;
class KTDatabaseController;

// A login on a connection whose database is open: asks the authentication
// component, records who logged in and what they may do, and returns the
// answer for the connection to apply.
class KTLoginHandler : public QObject
{
    Q_OBJECT
public:
    struct Answer {
        QString reply;
        QString message;
        bool granted = false;
        // A refusal the database caused (not the key) is not counted against the user.
        bool counted = true;
    };

    KTLoginHandler(KTConnectionSession& session, KTComponentRegistry& registry, KTDatabaseController* dbController);

    Answer answer(const QMap<QString, QString>& params);

Q_SIGNALS:
    void eventMessage(const QString& message, int type, const QString& objectLocation);
    // What the login granted; an empty list when it was refused.
    void accessListChanged(int connectionID, KTAccessList accessList);

private:
    void grantAccess(const QString& loginReply);
    QMap<QString, QString> componentParents();

    KTConnectionSession& _session;
    KTComponentRegistry& _registry;
    KTDatabaseController* _dbController;
};

#endif
