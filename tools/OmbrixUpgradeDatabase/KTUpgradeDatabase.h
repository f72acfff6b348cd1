#ifndef KTUPGRADEDATABASE_H
#define KTUPGRADEDATABASE_H

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// Writes the upgrade database the updater reads: the schema, customer
// accounts, and releases published from a folder of files. It works on an
// open connection that it does not own.
class KTUpgradeDatabase
{
public:
    struct Account {
        QString company;
        QString password;
        bool active = true;
        QString currentServer;
        QString upgradeServer;
        QString currentClient;
        QString upgradeClient;
        // Platform codes the account's clients run on.
        QList<int> clientPlatforms;
    };

    struct Release {
        int softwareType = 1; // 1 server, 2 client
        int platform = 2;     // the KT operating system code
        QString version;      // fixed-width form, e.g. "01.32.00"
        QString name;
        QString date;         // yyyy-MM-dd
        QString description;
        int versionType = 1;
        int upgradeType = 1;
        QString commands;
        QString upgradeLog;
    };

    explicit KTUpgradeDatabase(const QSqlDatabase& database);

    // Creates the tables that are missing, with the release kinds.
    bool createSchema();
    // Adds the account, or replaces the one of the same company.
    bool setAccount(const Account& account);
    // Publishes every file under folder (recursively; each file's folder,
    // relative to folder, is where it goes in the installation)
    // as the files of release, readable by every account. Files that
    // another release already published are shared by object name.
    bool publish(const Release& release, const QString& folder);
    QString lastError() const { return _lastError; }

private:
    bool run(const QString& statement);
    bool publishRows(const Release& release, const QString& folder);
    bool insertFiles(qint64 software, int platform, const QString& folder);
    qint64 systemObject(const QString& name);
    qint64 lastKey();

    QSqlDatabase _database;
    QString _lastError;
};

#endif
