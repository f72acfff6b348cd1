#include "KTTestDatabase.h"

#include <QSqlQuery>

QString KTTestDatabase::host() { return qEnvironmentVariable("OMBRIX_TEST_DB_HOST"); }
int KTTestDatabase::port() { return qEnvironmentVariableIntValue("OMBRIX_TEST_DB_PORT"); }
QString KTTestDatabase::password() { return qEnvironmentVariable("OMBRIX_TEST_DB_PASSWORD"); }
QString KTTestDatabase::userName() { return QStringLiteral("OmbrixAdm"); }

QString KTTestDatabase::missingReason()
{
    if (host().isEmpty() || port() == 0 || password().isEmpty())
        return QStringLiteral("No test database: OMBRIX_TEST_DB_HOST, OMBRIX_TEST_DB_PORT and "
                              "OMBRIX_TEST_DB_PASSWORD are not set. Run the test through ctest, "
                              "whose MariaDB fixture sets them.");
    return QString();
}

QSqlDatabase KTTestDatabase::open(const QString& connectionName, const QString& dbName)
{
    QSqlDatabase db = QSqlDatabase::contains(connectionName)
        ? QSqlDatabase::database(connectionName, false)
        : QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), connectionName);
    db.setHostName(host());
    db.setPort(port());
    db.setUserName(userName());
    db.setPassword(password());
    db.setDatabaseName(dbName);
    db.open();
    return db;
}

bool KTTestDatabase::recreateDatabase(QSqlDatabase& db, const QString& dbName)
{
    QSqlQuery query(db);
    return query.exec(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(dbName))
        && query.exec(QStringLiteral("CREATE DATABASE `%1` CHARACTER SET utf8mb4 COLLATE utf8mb4_bin").arg(dbName));
}

bool KTTestDatabase::dropDatabase(const QString& dbName)
{
    bool dropped = false;
    {
        QSqlDatabase db = open(QStringLiteral("drop-") + dbName);
        dropped = QSqlQuery(db).exec(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(dbName));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("drop-") + dbName);
    return dropped;
}

QString KTTestDatabase::mapsDirectory()
{
    return qEnvironmentVariable("OMBRIX_APP_DIR") + QStringLiteral("/OmbrixServerComponents/OmbrixDbMaps");
}

QStringList KTTestDatabase::controllerParameters(const QString& connectionName, const QString& dbName)
{
    return {connectionName, QStringLiteral("QMYSQL"), host(), dbName, userName(), password(),
            QString::number(port()), mapsDirectory(), QString()};
}
