#include "DbInsertSercom.h"

#include "KTSercomResponse.h"

#include <KT.h>
#include <KTDatabaseController.h>
#include <KTDbTable.h>

#include <QSqlError>
#include <QSqlQuery>

DbInsertSercom::DbInsertSercom(QObject* parent)
    : KTDbSercom(QStringLiteral("DbInsertSercom"), tr("Insertar Registro"), true, true, parent)
{
}

KTSercomBase* DbInsertSercom::createInstance() { return new DbInsertSercom; }

QString DbInsertSercom::processRequest(const QMultiMap<QString, QString>& params)
{
    readIdentity(params);
    Request request;
    request.table = params.value(QStringLiteral("Table"));
    request.fields = params.value(QStringLiteral("Fields")).split(QLatin1Char(','));
    // Most recently added first: the last row of the request is inserted first.
    request.rows = params.values(QStringLiteral("Values"));
    request.lineNumbers = params.value(QStringLiteral("LineNumbers")).split(QLatin1Char(','));
    request.mainTransaction = params.contains(QStringLiteral("MainTransaction"))
        ? params.value(QStringLiteral("MainTransaction")) : QStringLiteral("0");

    if (request.lineNumbers.size() != request.rows.size()) {
        _lastResult = false;
        _lastMessage = tr("Solicitud de Inserción de registro del usuario '%1' con ID de Conexión '%2' no contiene la "
                          "misma cantidad de líneas").arg(_user).arg(_connectionID);
        report(_lastMessage, KT::WarningMessage);
        // Answered, not left empty, so that the client can tell its user.
        return failureResponse(_lastMessage, true);
    }
    KTDbTable* table = definition(request.table);
    const QString problem = malformed(request, table);
    if (!problem.isEmpty())
        return refuse(problem);
    ensureModifiers(request.table);
    _lastResult = true;
    return insertRows(request, table);
}

namespace {

// The requester's group is written into the last listed field: were that
// another column, the group would land there and the client's own value
// in sysAuthorizationGroup.
bool endsWithGroup(const QStringList& fields)
{
    QString last = fields.last().section(QLatin1Char('.'), -1);
    last.remove(QLatin1Char('`'));
    return last.trimmed().compare(QLatin1String("sysAuthorizationGroup"), Qt::CaseInsensitive) == 0;
}

} // namespace

// Why the request cannot be run as it stands; empty when it can.
QString DbInsertSercom::malformed(const Request& request, KTDbTable* table) const
{
    if (!table)
        return tr("La tabla '%1' no existe en el servidor").arg(request.table);
    if (request.fields.size() <= systemFields.size())
        return tr("La solicitud de inserción en la tabla '%1' no incluye los campos de sistema").arg(request.table);
    if (!endsWithGroup(request.fields))
        return tr("La solicitud de inserción en la tabla '%1' no termina con el campo sysAuthorizationGroup")
            .arg(request.table);
    for (const QString& row : request.rows)
        if (row.count(QLatin1Char('|')) + 1 != request.fields.size())
            return tr("La solicitud de inserción en la tabla '%1' trae filas que no tienen %2 valores")
                .arg(request.table).arg(request.fields.size());
    return QString();
}

QString DbInsertSercom::insertRows(const Request& request, KTDbTable* table)
{
    const int systemStart = int(request.fields.size() - systemFields.size());
    Rows inserted;
    for (int i = 0; i < request.rows.size(); ++i) {
        QStringList values = request.rows.at(i).split(QLatin1Char('|'));
        values.last() = _group;
        for (int k = 0; k < systemStart; ++k)
            values[k] = sqlValue(table, request.fields.at(k), values.at(k));
        const QString key = keyExpression(values.first());

        const QSqlQuery insert = _dbController->insertRecords(request.table, {values}, noModifiers(), request.fields);
        if (!insert.isActive()) {
            const QString error = insert.lastError().databaseText();
            _lastResult = false;
            _lastMessage = tr("%1 > Error al insertar registros. Error de BD : '%2'").arg(_objectName, error);
            report(tr("%1 > Error al insertar registros, proveniente del usuario '%2' con ID de Conexión : '%3'. "
                      "Error de BD : '%4'").arg(_objectName, _user).arg(_connectionID).arg(error),
                   KT::WarningMessage);
            return failureResponse(_lastMessage, true, parentComponent(request.fields, values));
        }
        addModifiers(request.table, insertedCounters(request.fields, values));

        QSqlQuery readBack = _dbController->selectResolveKeys(
            request.table, request.fields, QStringLiteral("T0.%1 = %2").arg(request.fields.first(), key),
            QString(), QString(), QString());
        const Rows row = readRows(readBack, table, request.fields, true);
        if (row.values.isEmpty())
            continue;
        recordKey(request.table, request.lineNumbers.at(request.lineNumbers.size() - 1 - i).toInt(),
                  row.keys.first());
        inserted.values << row.values.first();
        inserted.display << row.display.first();
        inserted.keys << row.keys.first();
    }
    return successResponse(request, inserted);
}

QString DbInsertSercom::parentComponent(const QStringList& fields, const QStringList& values) const
{
    const int position = int(fields.indexOf(QStringLiteral("fldParentComponent")));
    return position >= 0 ? values.value(position).remove(QLatin1Char('\'')) : QString();
}

// The counters of the new record follow the system values it was given;
// a row without them counts as the system creates records.
QList<int> DbInsertSercom::insertedCounters(const QStringList& fields, const QStringList& values)
{
    const auto system = [&](const char* name, const char* fallback) {
        const int position = int(fields.indexOf(QLatin1String(name)));
        return position >= 0 ? values.value(position) : QString::fromLatin1(fallback);
    };
    QList<int> counters = recordCounters(system("sysEnabled", "1"), system("sysEditable", "2"),
                                         system("sysAuthorized", "1"), system("sysVisible", "2"));
    counters[Inserts] = 1;
    return counters;
}

QString DbInsertSercom::successResponse(const Request& request, const Rows& inserted)
{
    const QString count = QString::number(inserted.values.size());
    _lastMessage = tr("%1 > Registros insertados exitosamente : %2").arg(_objectName, count);
    KTSercomResponse response = answer(QStringLiteral("AppendRecords"));
    response.text(QStringLiteral("Login"), _user)
        .text(QStringLiteral("Status"), QStringLiteral("1"))
        .text(QStringLiteral("Message"), _lastMessage)
        .text(QStringLiteral("Table"), request.table)
        .text(QStringLiteral("RowCount"), count)
        .text(QStringLiteral("Fields"), request.fields.join(QLatin1Char(',')))
        .text(QStringLiteral("MainTransaction"), request.mainTransaction)
        .rows(inserted.values, inserted.display);
    if (logRecords(inserted.keys, QStringLiteral("2")))
        report(tr("%1 > Registros insertados exitosamente. Nro de registros : '%2', proveniente del usuario '%3' con "
                  "ID de Conexión : '%4'").arg(_objectName, count, _user).arg(_connectionID),
               KT::SuccessMessage);
    return response.toString();
}
