// Creates the upgrade database, sets customer accounts and publishes
// releases into it from a folder of files:
//
//   OmbrixUpgradeAdmin [connection options] create
//   OmbrixUpgradeAdmin [connection options] account --company C --account-password P
//       --server-upgrade 01.32.00 [--client-upgrade 02.09.00] [--client-platforms 2,4]
//   OmbrixUpgradeAdmin [connection options] publish --type server|client --platform 2
//       --release 01.32.00 [--commands-file F] [--log-file F] FOLDER

#include "KTUpgradeDatabase.h"

#include <KTVersion.h>

#include <KTCommandLine.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QSqlError>
#include <QSqlQuery>
#include <QFile>
#include <QTextStream>

namespace {

QString fileText(const QString& path)
{
    QFile file(path);
    return !path.isEmpty() && file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

int fail(const QString& message)
{
    QTextStream(stderr) << message << '\n';
    return 1;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Base de datos de actualizaciones de Ombrix");
    const QList<QCommandLineOption> options{
        {"host", "Servidor MariaDB", "host", KTVersion::upgradeHost()},
        {"port", "Puerto", "port", QString::number(KTVersion::upgradeDatabasePort())},
        {"user", "Usuario", "user", KTVersion::upgradeDatabaseUser()},
        {"password", "Contraseña", "password", KTVersion::upgradeDatabasePassword()},
        {"database", "Base de datos", "name", KTVersion::upgradeDatabaseName()},
        {"company", "Empresa de la cuenta", "name"}, {"account-password", "Contraseña de la cuenta", "password"},
        {"server-current", "Versión registrada del servidor", "version"},
        {"server-upgrade", "Versión asignada del servidor", "version"},
        {"client-current", "Versión registrada del cliente", "version"},
        {"client-upgrade", "Versión asignada del cliente", "version"},
        {"client-platforms", "Plataformas de los clientes, separadas por comas", "codes"},
        {"type", "server o client", "type", "server"}, {"platform", "Código de plataforma", "code", "2"},
        {"release", "Versión publicada", "version"}, {"name", "Nombre de la versión", "name", "Ombrix"},
        {"date", "Fecha de la versión", "yyyy-MM-dd", QDate::currentDate().toString(Qt::ISODate)},
        {"description", "Descripción", "text"}, {"commands-file", "Comandos de la versión", "file"},
        {"log-file", "Notas de la versión", "file"}};
    parser.addOptions(options);
    parser.addPositionalArgument("command", "create, account o publish");
    parser.addPositionalArgument("folder", "publish: carpeta con los archivos de la versión");
    if (const int status = KTCommandLine::handle(parser, app.arguments()); status != KTCommandLine::Run)
        return status;
    const QStringList arguments = parser.positionalArguments();
    const QString command = arguments.value(0);

    QSqlDatabase db = QSqlDatabase::addDatabase(KTVersion::upgradeDatabaseDriver(), "upgradeAdmin");
    db.setHostName(parser.value("host"));
    db.setPort(parser.value("port").toInt());
    db.setUserName(parser.value("user"));
    db.setPassword(parser.value("password"));
    if (command == "create") {
        if (!db.open())
            return fail(db.lastError().text());
        QSqlQuery(db).exec("CREATE DATABASE IF NOT EXISTS " + parser.value("database"));
        db.close();
    }
    db.setDatabaseName(parser.value("database"));
    if (!db.open())
        return fail(db.lastError().text());
    KTUpgradeDatabase upgrade(db);
    bool done = false;
    if (command == "create") {
        done = upgrade.createSchema();
    } else if (command == "account") {
        KTUpgradeDatabase::Account account{parser.value("company"), parser.value("account-password"), true,
                                           parser.value("server-current"), parser.value("server-upgrade"),
                                           parser.value("client-current"), parser.value("client-upgrade"), {}};
        for (const QString& code : parser.value("client-platforms").split(',', Qt::SkipEmptyParts))
            account.clientPlatforms << code.toInt();
        done = upgrade.setAccount(account);
    } else if (command == "publish" && arguments.size() == 2) {
        KTUpgradeDatabase::Release release;
        release.softwareType = parser.value("type") == "client" ? 2 : 1;
        release.platform = parser.value("platform").toInt();
        release.version = parser.value("release");
        release.name = parser.value("name");
        release.date = parser.value("date");
        release.description = parser.value("description");
        release.commands = fileText(parser.value("commands-file"));
        release.upgradeLog = fileText(parser.value("log-file"));
        done = upgrade.publish(release, arguments.at(1));
    } else {
        parser.showHelp(2);
    }
    return done ? 0 : fail(upgrade.lastError());
}
