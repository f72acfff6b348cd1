#ifndef KTUSERLIST_H
#define KTUSERLIST_H

#include <QList>
#include <QReadWriteLock>
#include <QString>

class KTDatabaseController;

// The users a negotiation lists, read once for every connection: a client
// that has only negotiated holds no database connection of its own. The
// connector refreshes it on the main thread; connection threads read it.
class KTUserList
{
public:
    struct User {
        QString key;
        QString login;
        QString iconSha1;
    };

    // Reads the enabled users again through controller; keeps the old list when that fails.
    bool refresh(KTDatabaseController* controller);
    QList<User> users() const;

private:
    mutable QReadWriteLock _lock;
    QList<User> _users;
};

#endif
