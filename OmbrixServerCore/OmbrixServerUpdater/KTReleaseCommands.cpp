#include "KTReleaseCommands.h"

#include "KTReleaseRecord.h"

#include <KTDatabaseController.h>

#include <QCoreApplication>

KTReleaseCommands::KTReleaseCommands(const QString& commands)
{
    for (const QString& line : commands.split(QLatin1Char('\n')))
        if (line.section(QLatin1Char('|'), 0, 0).simplified() == QLatin1String("SQL"))
            _statements << line.section(QLatin1Char('|'), 1, 1).simplified();
}

bool KTReleaseCommands::failed(const QString& statement, const QString& error)
{
    _failedStatement = statement;
    _error = error;
    return false;
}

bool KTReleaseCommands::run(KTDatabaseController* dbController, const QString& release, KTReleaseRecord* record)
{
    _failedStatement.clear();
    _error.clear();
    _alreadyRun = false;
    if (_statements.isEmpty())
        return true;
    if (!dbController)
        return failed(QString(), QCoreApplication::translate("KTReleaseCommands",
                                                             "no se pudo iniciar una transacción en la BD"));
    // The table is created before the transaction: creating it would commit.
    if (record && !record->prepare())
        return failed(QString(), record->error());
    if (record && record->hasRun(release)) {
        _alreadyRun = true;
        return true;
    }
    if (!dbController->beginTransaction())
        return failed(QString(), QCoreApplication::translate("KTReleaseCommands",
                                                             "no se pudo iniciar una transacción en la BD"));
    // Without autocommit the lines after a schema change, which commits
    // what came before it, are still one transaction.
    dbController->customQuery(QStringLiteral("SET autocommit = 0"));
    bool done = runStatements(dbController);
    if (done && record && !record->add(release)) {
        dbController->rollback();
        done = failed(QString(), record->error());
    }
    if (done && !dbController->commit()) {
        dbController->rollback();
        done = failed(QString(), QCoreApplication::translate("KTReleaseCommands",
                                                             "no se pudo confirmar la transacción en la BD"));
    }
    dbController->customQuery(QStringLiteral("SET autocommit = 1"));
    return done;
}

bool KTReleaseCommands::runStatements(KTDatabaseController* dbController)
{
    for (const QString& statement : _statements) {
        const QSqlQuery query = dbController->customQuery(statement);
        if (!query.isActive()) {
            dbController->rollback();
            return failed(statement, query.lastError().databaseText());
        }
    }
    return true;
}
