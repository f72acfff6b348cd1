#ifndef KTTESTDATABASE_H
#define KTTESTDATABASE_H

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

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

    // Drops dbName through a connection of its own; false on failure.
    static bool dropDatabase(const QString& dbName);

    // The staged dialect map folder and the nine connection parameters a
    // database controller takes to reach dbName on the test server.
    static QString mapsDirectory();
    static QStringList controllerParameters(const QString& connectionName, const QString& dbName);

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
