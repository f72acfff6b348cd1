#include "DbDeleteSercom.h"

#include "KTSercomResponse.h"

#include <KT.h>
#include <KTDatabaseController.h>
#include <KTDbTable.h>

#include <QSqlError>
#include <QSqlQuery>

namespace {

// An entry is the key followed by sysEnabled, sysEditable, sysAuthorized and sysVisible.
enum Entry { Key, Enabled, Editable, Authorized, Visible, EntrySize };

} // namespace

DbDeleteSercom::DbDeleteSercom(QObject* parent)
    : KTDbSercom(QStringLiteral("DbDeleteSercom"), tr("Borrar Registro"), true, true, parent)
{
}

KTSercomBase* DbDeleteSercom::createInstance() { return new DbDeleteSercom; }

QString DbDeleteSercom::processRequest(const QMultiMap<QString, QString>& params)
{
    readIdentity(params);
    Request request;
    request.table = params.value(QStringLiteral("Table"));
    const QString details = params.value(QStringLiteral("DetailTables"));
    if (!details.isEmpty())
        request.detailTables = details.split(QLatin1Char(','));
    request.entries = params.values(QStringLiteral("Values"));

    KTDbTable* table = definition(request.table);
    const QString problem = malformed(request, table);
    if (!problem.isEmpty())
        return refuse(problem);
    ensureModifiers(request.table);
    for (const QString& detail : request.detailTables)
        ensureModifiers(detail);

    _lastResult = true;
    QStringList keys;
    int count = 0;
    // Most recently added first: walking backwards follows the request.
    for (auto entry = request.entries.crbegin(); entry != request.entries.crend(); ++entry) {
        const QStringList values = entry->split(QLatin1Char(','));
        keys << values.at(Key);
        QString error;
        count = deleteRecord(request, table, values, &error);
        if (count < 0)
            return failure(error);
    }
    return successResponse(keys, count);
}

QString DbDeleteSercom::malformed(const Request& request, KTDbTable* table) const
{
    if (!table || primaryKeyName(table).isEmpty())
        return tr("La tabla '%1' no existe en el servidor").arg(request.table);
    for (const QString& detail : request.detailTables)
        if (KTDbTable* detailTable = definition(detail); !detailTable || detailTable->fields().size() < 2)
            return tr("La tabla de detalle '%1' no existe en el servidor").arg(detail);
    for (const QString& entry : request.entries)
        if (entry.split(QLatin1Char(',')).size() < EntrySize)
            return tr("La solicitud de borrado en la tabla '%1' trae registros sin clave y modificadores")
                .arg(request.table);
    return QString();
}

// The key goes into the conditions as a literal: a delete names records, it
// does not take conditions from the client.
int DbDeleteSercom::deleteRecord(const Request& request, KTDbTable* table, const QStringList& entry, QString* error)
{
    const QString key = _dbController->quoted(entry.at(Key));
    const QString masterCondition = withRecordCondition(QStringLiteral("%1 = %2").arg(primaryKeyName(table), key));
    // The details go first; a master the user may not change keeps them.
    if (hasRecordCondition() && !recordExists(request.table, masterCondition)) {
        *error = tr("el registro no existe o el usuario no puede modificarlo");
        return -1;
    }
    for (auto detail = request.detailTables.crbegin(); detail != request.detailTables.crend(); ++detail) {
        const QString column = definition(*detail)->fields().at(1);
        const QSqlQuery rows =
            _dbController->deleteRecords(*detail, noModifiers(),
                                         withRecordCondition(QStringLiteral("%1 = %2").arg(column, key)));
        addModifiers(*detail, deletedCounters(entry, qMax(0, rows.numRowsAffected())));
    }
    const QSqlQuery master = _dbController->deleteRecords(request.table, noModifiers(), masterCondition);
    if (!master.isActive()) {
        *error = master.lastError().databaseText();
        return -1;
    }
    const int count = qMax(0, master.numRowsAffected());
    if (count == 0 && hasRecordCondition()) {
        *error = tr("el registro no existe o el usuario no puede modificarlo");
        return -1;
    }
    addModifiers(request.table, deletedCounters(entry, count));
    return count;
}

// count records with the entry's system values leave the table.
QList<int> DbDeleteSercom::deletedCounters(const QStringList& entry, int count)
{
    QList<int> counters = recordCounters(entry.at(Enabled), entry.at(Editable), entry.at(Authorized),
                                         entry.at(Visible));
    counters[Inserts] = 1;
    for (int& counter : counters)
        counter *= -count;
    counters[Deletes] = count;
    return counters;
}

QString DbDeleteSercom::successResponse(const QStringList& keys, int lastCount)
{
    const QString count = QString::number(keys.size());
    _lastMessage = tr("%1 > Registros eliminados exitosamente. Nro.Registros : %2").arg(_objectName, count);
    KTSercomResponse response = answer(QStringLiteral("DeleteRecords"));
    response.text(QStringLiteral("Status"), QString::number(lastCount)).text(QStringLiteral("Message"), _lastMessage);
    for (const QString& key : keys)
        response.text(QStringLiteral("RecordKey"), key);
    QStringList logged;
    for (const QString& key : keys)
        logged << _dbController->quoted(key);
    if (logRecords(logged, QStringLiteral("4")))
        report(tr("%1 > Registros eliminados exitosamente. Nro de registros : '%2', proveniente del usuario '%3' con ID "
                  "de Conexión : '%4'").arg(_objectName, count, _user).arg(_connectionID),
               KT::SuccessMessage);
    if (_objectName == QLatin1String("ComponentTaskScheduler"))
        emit updateTaskScheduler();
    return response.toString();
}

QString DbDeleteSercom::failure(const QString& error)
{
    _lastResult = false;
    _lastMessage = tr("%1 > Error al eliminar registros. Error de BD : '%2'").arg(_objectName, error);
    report(tr("%1 > Error al eliminar registros provenientes del usuario '%2' con ID de Conexión : '%3. Error de BD : "
              "'%4'").arg(_objectName, _user).arg(_connectionID).arg(error),
           KT::WarningMessage);
    return failureResponse(_lastMessage);
}
