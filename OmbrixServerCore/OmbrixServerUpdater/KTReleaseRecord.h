#ifndef KTRELEASERECORD_H
#define KTRELEASERECORD_H

#include <QString>

class KTDatabaseController;

// The releases whose SQL lines have run on this database, one row each in
// srvReleaseRun. The row is written in the lines' own transaction, so that
// the database, not a file beside it, says whether they ran: a crash after
// the commit never runs them a second time.
class KTReleaseRecord
{
public:
    // tablesDirectory holds srvReleaseRun.otd.
    KTReleaseRecord(KTDatabaseController* dbController, const QString& tablesDirectory);

    // Creates the table from its definition when it is missing: the lines of
    // a release may run before the start-up has created the new tables.
    bool prepare();
    bool hasRun(const QString& release);
    // Inside the caller's transaction.
    bool add(const QString& release);
    QString error() const { return _error; }

private:
    bool failed(const QString& error);

    KTDatabaseController* _dbController;
    QString _tablesDirectory;
    QString _error;
};

#endif
