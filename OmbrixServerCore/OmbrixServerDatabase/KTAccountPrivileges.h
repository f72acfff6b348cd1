#ifndef KTACCOUNTPRIVILEGES_H
#define KTACCOUNTPRIVILEGES_H

#include <QString>
#include <QStringList>

class KTDatabaseController;

// What the server's database account may do beyond its own database, read
// from SHOW GRANTS. The server needs every right on its database and none
// elsewhere: FILE reads and writes the host's files, SUPER and the other
// global rights reach the whole MariaDB, and rights on *.* reach every
// other database on it.
class KTAccountPrivileges
{
public:
    // The rights the grants give on *.* beyond USAGE, as they name them.
    static QStringList excess(const QStringList& grants);
    // The grants of the controller's connection; empty when they cannot be read.
    static QStringList grants(KTDatabaseController* controller);
    // The operator's warning for an account with excess rights; empty for none.
    static QString warning(const QString& user, const QStringList& excess, const QString& database);
};

#endif
