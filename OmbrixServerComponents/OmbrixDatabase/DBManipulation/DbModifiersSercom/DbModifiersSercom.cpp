#include "DbModifiersSercom.h"

#include "KTSercomResponse.h"

#include <KT.h>
#include <KTDatabaseController.h>
#include <KTDbTable.h>

#include <QSqlError>
#include <QSqlQuery>

namespace {

const QString unchanged = QStringLiteral("-1");

} // namespace

DbModifiersSercom::DbModifiersSercom(QObject* parent)
    : KTDbSercom(QStringLiteral("DbModifiersSercom"), tr("Cambiar Modificadores"), true, true, parent)
{
}

KTSercomBase* DbModifiersSercom::createInstance() { return new DbModifiersSercom; }

QString DbModifiersSercom::processRequest(const QMultiMap<QString, QString>& params)
{
    readIdentity(params);
    const QString tableName = params.value(QStringLiteral("Table"));
    const QString key = params.value(QStringLiteral("Key"));
    QStringList modifiers = params.value(QStringLiteral("Modifiers")).split(QLatin1Char(','));
    KTDbTable* table = definition(tableName);
    const QString problem = malformed(tableName, table, modifiers);
    if (!problem.isEmpty())
        return refuse(problem);
    // 00, +0 and " 0" are 0 for the counters and the log as for the database.
    for (int i = 0; i < systemFields.size(); ++i)
        modifiers[i] = QString::number(modifiers.at(i).trimmed().toLongLong());

    // The key is a value, never a condition; the first pair is the row's key
    // and is not written.
    const QString keyField = primaryKeyName(table);
    const QString keyValue = _dbController->quoted(key);
    QStringList fields{keyField};
    QStringList values{keyValue};
    for (int i = 0; i < systemFields.size(); ++i)
        if (modifiers.at(i) != unchanged) {
            fields << systemFields.at(i);
            values << modifiers.at(i);
        }
    if (fields.size() == 1) {
        // Nothing to change: the key is set to itself, which is still an edit.
        fields << keyField;
        values << keyValue;
    }

    ensureModifiers(tableName);
    _lastResult = true;
    const QString condition = withRecordCondition(QStringLiteral("%1 = %2").arg(keyField, keyValue));
    const bool exists = recordExists(tableName, condition);
    if (!exists && hasRecordCondition())
        return failure(key, tr("el registro no existe o el usuario no puede modificarlo"));
    const QSqlQuery update = _dbController->updateRecords(tableName, values, fields, condition, noModifiers());
    if (!update.isActive())
        return failure(key, update.lastError().databaseText());
    if (exists)
        countChange(tableName, modifiers.first());
    return successResponse(key, modifiers.mid(0, systemFields.size()), params.value(QStringLiteral("Log")).toInt() != 0);
}

// The values go into the statement as they stand: only numbers are accepted.
QString DbModifiersSercom::malformed(const QString& tableName, KTDbTable* table, const QStringList& modifiers) const
{
    if (!table || primaryKeyName(table).isEmpty())
        return tr("La tabla '%1' no existe en el servidor").arg(tableName);
    if (modifiers.size() < systemFields.size())
        return tr("Los modificadores para la tabla '%1' no traen %2 valores").arg(tableName).arg(systemFields.size());
    for (int i = 0; i < systemFields.size(); ++i) {
        bool numeric = false;
        modifiers.at(i).trimmed().toLongLong(&numeric);
        if (!numeric)
            return tr("El modificador %1 para la tabla '%2' no es un número: '%3'")
                .arg(systemFields.at(i), tableName, modifiers.at(i));
    }
    return QString();
}

// The old value is not read: setting enabled moves one record from disabled
// to enabled whatever it was before.
void DbModifiersSercom::countChange(const QString& tableName, const QString& enabled)
{
    QList<int> counters = noModifiers();
    counters[Edits] = 1;
    if (enabled == QLatin1String("0") || enabled == QLatin1String("1")) {
        const int toEnabled = enabled == QLatin1String("1") ? 1 : -1;
        counters[EnabledRecords] = toEnabled;
        counters[DisabledRecords] = -toEnabled;
    }
    addModifiers(tableName, counters);
}

QString DbModifiersSercom::successResponse(const QString& key, const QStringList& modifiers, bool log)
{
    const QString success = tr("Cambio de modificadores realizado exitosamente de '%1 - %2'. Codigo : '%3', proveniente "
                               "del usuario '%4' con ID de Conexión : '%5'")
                                .arg(_objectType, _objectName, key, _user).arg(_connectionID);
    _lastMessage = tr("Modificadores del registro '%1' editados exitosamente").arg(key);
    if (!log) {
        report(success, KT::SuccessMessage);
        return QString();
    }
    KTSercomResponse response = answer(QStringLiteral("ChangeModifiers"));
    response.text(QStringLiteral("Status"), QStringLiteral("1"))
        .text(QStringLiteral("Message"), _lastMessage)
        .text(QStringLiteral("Key"), key)
        .text(QStringLiteral("Modifiers"), modifiers.join(QLatin1Char(',')));
    const QString action = modifiers.first() == QLatin1String("0") ? QStringLiteral("5") : QStringLiteral("11");
    if (logRecords({_dbController->quoted(key)}, action))
        report(success, KT::SuccessMessage);
    return response.toString();
}

// Answered with or without Log, so that the client learns why nothing changed.
QString DbModifiersSercom::failure(const QString& key, const QString& error)
{
    _lastResult = false;
    _lastMessage = tr("%1 > Error al cambiar modificadores del registro '%2'. Error de BD : '%3'")
                       .arg(_objectName, key, error);
    report(tr("%1 > Error al cambiar modificadores del registro '%2', proveniente del usuario '%3' con ID de Conexión : "
              "'%4'. Error de BD : '%5'").arg(_objectName, key, _user).arg(_connectionID).arg(error),
           KT::WarningMessage);
    return failureResponse(_lastMessage);
}
