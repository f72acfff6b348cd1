#ifndef KTRELEASECOMMANDS_H
#define KTRELEASECOMMANDS_H

#include <QString>
#include <QStringList>

class KTDatabaseController;
class KTReleaseRecord;

// The SQL lines of a server release ("SQL|statement|..." lines of its
// command text), run on the server database in one transaction as far as
// MariaDB allows (a schema change commits by itself). The first failing
// line stops them and rolls back what can be rolled back. With a record,
// a release that has run already is skipped, and the lines' transaction
// records that the release ran.
class KTReleaseCommands
{
public:
    explicit KTReleaseCommands(const QString& commands);

    QStringList statements() const { return _statements; }
    bool isEmpty() const { return _statements.isEmpty(); }
    bool run(KTDatabaseController* dbController, const QString& release = QString(),
             KTReleaseRecord* record = nullptr);
    // After a successful run: the record said the release had run, and nothing ran now.
    bool alreadyRun() const { return _alreadyRun; }
    // After a failed run: the line that failed and the database's reason.
    QString failedStatement() const { return _failedStatement; }
    QString error() const { return _error; }

private:
    bool failed(const QString& statement, const QString& error);
    bool runStatements(KTDatabaseController* dbController);

    QStringList _statements;
    QString _failedStatement;
    QString _error;
    bool _alreadyRun = false;
};

#endif
