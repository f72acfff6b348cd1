#include "KTReleaseRecord.h"

#include <KTDatabaseController.h>
#include <KTDatabaseParser.h>
#include <KTDbTable.h>

#include <QCoreApplication>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>

#include <memory>

namespace {

const QString runTable = QStringLiteral("srvReleaseRun");

QString tr(const char* text)
{
    return QCoreApplication::translate("KTReleaseRecord", text);
}

} // namespace

KTReleaseRecord::KTReleaseRecord(KTDatabaseController* dbController, const QString& tablesDirectory)
    : _dbController(dbController)
    , _tablesDirectory(tablesDirectory)
{
}

bool KTReleaseRecord::failed(const QString& error)
{
    _error = error;
    return false;
}

bool KTReleaseRecord::prepare()
{
    if (_dbController->customQuery(QStringLiteral("SELECT 1 FROM ") + runTable + QStringLiteral(" LIMIT 1")).isActive())
        return true;
    QFile file(_tablesDirectory + QLatin1Char('/') + runTable + QStringLiteral(".otd"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return failed(tr("no se pudo leer la definición de la tabla %1").arg(file.fileName()));
    KTDatabaseParser parser;
    parser.loadMapPlugins(_dbController->dbParameters().value(KTDatabaseController::MapDirectory),
                          QStringLiteral("MySqlDialectMap"));
    const std::unique_ptr<KTDbTable> table(parser.parseTable(runTable, QString::fromUtf8(file.readAll())));
    if (!table)
        return failed(tr("la definición de la tabla %1 no es válida").arg(runTable));
    // As the start-up creates tables: the system columns' reference to the
    // groups table must not depend on the order of creation.
    _dbController->customQuery(parser.setEnabledForeignChecks(false));
    const QSqlQuery created = _dbController->customQuery(parser.createTable(table.get()));
    _dbController->customQuery(parser.setEnabledForeignChecks(true));
    if (!created.isActive())
        return failed(created.lastError().databaseText());
    return true;
}

bool KTReleaseRecord::hasRun(const QString& release)
{
    QSqlQuery query = _dbController->customQuery(QStringLiteral("SELECT COUNT(*) FROM ") + runTable
                                                 + QStringLiteral(" WHERE fldRelease = ")
                                                 + _dbController->quoted(release));
    return query.next() && query.value(0).toInt() > 0;
}

bool KTReleaseRecord::add(const QString& release)
{
    const QSqlQuery insert = _dbController->customQuery(
        QStringLiteral("INSERT INTO ") + runTable + QStringLiteral(" (fldRelease, fldDate, fldTime) VALUES (")
        + _dbController->quoted(release) + QStringLiteral(", CURRENT_DATE, CURRENT_TIME)"));
    if (!insert.isActive())
        return failed(insert.lastError().databaseText());
    return true;
}
