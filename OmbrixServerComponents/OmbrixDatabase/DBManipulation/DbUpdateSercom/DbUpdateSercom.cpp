#include "DbUpdateSercom.h"

#include "KTSercomResponse.h"

#include <KT.h>
#include <KTDatabaseController.h>
#include <KTDbTable.h>

#include <QSqlError>
#include <QSqlQuery>

DbUpdateSercom::DbUpdateSercom(QObject* parent)
    : KTDbSercom(QStringLiteral("DbUpdateSercom"), tr("Editar Registro"), true, true, parent)
{
}

KTSercomBase* DbUpdateSercom::createInstance() { return new DbUpdateSercom; }

QString DbUpdateSercom::processRequest(const QMultiMap<QString, QString>& params)
{
    readIdentity(params);
    Request request;
    request.table = params.value(QStringLiteral("Table"));
    request.fields = params.value(QStringLiteral("Fields")).split(QLatin1Char(','));
    request.fields << QStringLiteral("sysAuthorizationGroup");
    request.rows = params.values(QStringLiteral("Values"));
    request.where = params.value(QStringLiteral("Where"));
    request.log = params.value(QStringLiteral("Log")).toInt() != 0;

    KTDbTable* table = definition(request.table);
    const QString problem = malformed(request, table);
    if (!problem.isEmpty())
        return refuse(problem);
    ensureModifiers(request.table);
    _lastResult = true;
    Rows changed;
    QString error;
    if (!updateRows(request, table, &changed, &error))
        return failure(error);
    if (request.log)
        return successResponse(request, changed);
    _lastMessage = tr("Registros editados exitosamente : %1").arg(request.rows.size());
    report(tr("Registros editados exitosamente de '%1 - %2'. Nro de registros : '%3', proveniente del usuario '%4' con "
              "ID de Conexión : '%5'").arg(_objectType, _objectName).arg(request.rows.size()).arg(_user)
               .arg(_connectionID),
           KT::SuccessMessage);
    return QString();
}

QString DbUpdateSercom::malformed(const Request& request, KTDbTable* table) const
{
    if (!table)
        return tr("La tabla '%1' no existe en el servidor").arg(request.table);
    for (const QString& row : request.rows)
        if (row.count(QLatin1Char('|')) + 2 != request.fields.size())
            return tr("La solicitud de edición en la tabla '%1' trae filas que no tienen %2 valores")
                .arg(request.table).arg(request.fields.size() - 1);
    return QString();
}

bool DbUpdateSercom::updateRows(const Request& request, KTDbTable* table, Rows* changed, QString* error)
{
    const int groupPosition = int(request.fields.size() - 1);
    for (const QString& row : request.rows) {
        QStringList values = row.split(QLatin1Char('|'));
        values << _group;
        for (int k = 0; k < groupPosition; ++k)
            values[k] = sqlValue(table, request.fields.at(k), values.at(k));
        const QString where = request.where.isEmpty()
            ? QStringLiteral("%1 = %2").arg(request.fields.first(), keyExpression(values.first())) : request.where;
        const QString changeable = withRecordCondition(where);

        const QSqlQuery update = _dbController->updateRecords(request.table, values, request.fields, changeable,
                                                              noModifiers());
        if (!update.isActive()) {
            *error = update.lastError().databaseText();
            return false;
        }
        // An edit that changed nothing may have found nothing it may change.
        if (hasRecordCondition() && update.numRowsAffected() <= 0 && !recordExists(request.table, changeable)) {
            *error = tr("el registro no existe o el usuario no puede modificarlo");
            return false;
        }
        QList<int> edited = noModifiers();
        edited[Edits] = 1;
        addModifiers(request.table, edited);
        if (!request.log)
            continue;
        // The resolved select names the table T0; a key condition must say so.
        QSqlQuery readBack = _dbController->selectResolveKeys(
            request.table, request.fields,
            request.where.isEmpty() ? QStringLiteral("T0.") + where : where, QString(), QString(), QString());
        const Rows found = readRows(readBack, table, request.fields, true, groupPosition);
        if (found.values.isEmpty())
            continue;
        changed->values << found.values.first();
        changed->display << found.display.first();
        changed->keys << found.keys.first();
    }
    return true;
}

QString DbUpdateSercom::successResponse(const Request& request, const Rows& changed)
{
    const QString count = QString::number(changed.values.size());
    _lastMessage = tr("Registros editados exitosamente : %1").arg(count);
    KTSercomResponse response = answer(QStringLiteral("EditRecords"));
    response.text(QStringLiteral("Status"), QStringLiteral("1"))
        .text(QStringLiteral("Message"), _lastMessage)
        .text(QStringLiteral("Table"), request.table)
        .text(QStringLiteral("RowCount"), count)
        .text(QStringLiteral("Fields"), request.fields.join(QLatin1Char(',')))
        .rows(changed.values, changed.display);
    if (logRecords(changed.keys, QStringLiteral("6")))
        report(tr("Registros editados exitosamente de '%1 - %2'. Nro de registros : '%3', proveniente del usuario '%4' "
                  "con ID de Conexión : '%5'").arg(_objectType, _objectName, count, _user).arg(_connectionID),
               KT::SuccessMessage);
    if (_objectName == QLatin1String("ComponentTaskScheduler"))
        emit updateTaskScheduler();
    return response.toString();
}

// Answered with or without Log: an empty answer would tell the client nothing
// while the connection rolls its request back.
QString DbUpdateSercom::failure(const QString& error)
{
    _lastResult = false;
    _lastMessage = tr("%1 > Error al editar registros. Error de BD : '%2'").arg(_objectName, error);
    report(tr("%1 > Error al editar registros. proveniente del usuario '%2' con ID de Conexión : '%3'. Error de BD : "
              "'%4'").arg(_objectName, _user).arg(_connectionID).arg(error),
           KT::WarningMessage);
    return failureResponse(_lastMessage);
}
