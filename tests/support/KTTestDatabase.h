#ifndef KTTESTDATABASE_H
#define KTTESTDATABASE_H

#include <QSqlDatabase>
#include <QString>

// The test run's MariaDB, as the CTest fixture hands it over in the environment.
class KTTestDatabase
{
public:
    static QString host();
    static int port();
    static QString password();
    static QString userName();

    // Empty when the fixture's variables are present; otherwise why the test cannot run.
    static QString missingReason();

    // Opens a named QMYSQL connection as OmbrixAdm (to dbName, or to no database).
    static QSqlDatabase open(const QString& connectionName, const QString& dbName = QString());

    // Drops and creates dbName through the given open connection; false on failure.
    static bool recreateDatabase(QSqlDatabase& db, const QString& dbName);
};

// Fails the current test clearly when the fixture did not provide a database.
#define KT_REQUIRE_DATABASE() \
    do { \
        const QString why = KTTestDatabase::missingReason(); \
        if (!why.isEmpty()) \
            QFAIL(qPrintable(why)); \
    } while (false)

#endif
