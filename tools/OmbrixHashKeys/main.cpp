// Replaces every plain user key of a server database by its salted hash, in
// one transaction; keys already hashed are left as they are, so running it
// again changes nothing:
//
//   OmbrixHashKeys --host H --port P --user U --password W --database D [--rounds N]

#include <KTKeyHash.h>
#include <KTVersion.h>

#include <KTCommandLine.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>
#include <QVariant>

namespace {

// The number of keys hashed, or -1 with error set; nothing is changed on failure.
int hashPlainKeys(QSqlDatabase& db, int rounds, QString* error)
{
    QSqlQuery keys(db);
    QSqlQuery update(db);
    // Locked, so that a key changed meanwhile is not overwritten with the hash of its old value.
    if (!db.transaction() || !keys.exec("SELECT pkyUserIdentifier, fldKey FROM accUserIdentifier FOR UPDATE")
        || !update.prepare("UPDATE accUserIdentifier SET fldKey = ? WHERE pkyUserIdentifier = ?")) {
        *error = keys.lastError().isValid() ? keys.lastError().text() : db.lastError().text();
        return -1;
    }
    int hashed = 0;
    while (keys.next()) {
        const QString key = keys.value(1).toString();
        if (KTKeyHash::isHashed(key))
            continue;
        const QString stored = KTKeyHash::hash(key, rounds);
        update.addBindValue(stored);
        update.addBindValue(keys.value(0));
        if (stored.isEmpty() || !update.exec()) {
            *error = stored.isEmpty() ? QStringLiteral("No se pudo generar un hash") : update.lastError().text();
            db.rollback();
            return -1;
        }
        ++hashed;
    }
    if (!db.commit()) {
        *error = db.lastError().text();
        return -1;
    }
    return hashed;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Guarda como hash las contraseñas de usuario en texto plano");
    parser.addOptions({{"host", "Servidor MariaDB", "host", "127.0.0.1"},
                       {"port", "Puerto", "port", "3306"},
                       {"user", "Usuario", "user", KTVersion::dbUserName()},
                       {"password", "Contraseña", "password"},
                       {"database", "Base de datos del servidor", "name"},
                       {"rounds", "Iteraciones de PBKDF2", "count", QString::number(KTKeyHash::defaultRounds)}});
    if (const int status = KTCommandLine::handle(parser, app.arguments()); status != KTCommandLine::Run)
        return status;
    const int rounds = parser.value("rounds").toInt();
    if (parser.value("database").isEmpty() || rounds < 1 || rounds > KTKeyHash::maxRounds)
        parser.showHelp(2);

    QSqlDatabase db = QSqlDatabase::addDatabase("QMYSQL", "hashKeys");
    db.setHostName(parser.value("host"));
    db.setPort(parser.value("port").toInt());
    db.setUserName(parser.value("user"));
    db.setPassword(parser.value("password"));
    db.setDatabaseName(parser.value("database"));
    QString error;
    const int hashed = db.open() ? hashPlainKeys(db, rounds, &error) : -1;
    if (hashed < 0) {
        QTextStream(stderr) << (error.isEmpty() ? db.lastError().text() : error) << '\n';
        return 1;
    }
    QTextStream(stdout) << QStringLiteral("%1 contraseñas guardadas como hash\n").arg(hashed);
    return 0;
}
