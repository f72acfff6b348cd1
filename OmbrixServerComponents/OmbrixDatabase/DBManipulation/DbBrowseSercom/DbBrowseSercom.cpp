#include "DbBrowseSercom.h"

#include "KTSercomResponse.h"

#include <KT.h>
#include <KTDatabaseController.h>
#include <KTDbTable.h>
#include <KTRawRows.h>

#include <memory>

DbBrowseSercom::DbBrowseSercom(QObject* parent)
    : KTDbSercom(QStringLiteral("DbBrowseSercom"), tr("Visor de datos"), false, false, parent)
{
}

KTSercomBase* DbBrowseSercom::createInstance() { return new DbBrowseSercom; }

QString DbBrowseSercom::processRequest(const QMultiMap<QString, QString>& params)
{
    readIdentity(params);
    const QString tableName = params.value(QStringLiteral("Table"));
    const QString limit = params.value(QStringLiteral("Limit"));
    const bool resolve = params.value(QStringLiteral("ResolveKeys")).toInt() != 0;
    KTDbTable* table = definition(tableName);
    if (!table)
        return refuse(tr("La tabla '%1' no existe en el servidor").arg(tableName));

    bool published = false;
    const QList<quint64> stats = tableStats(tableName, &published);
    const bool sinceLastBrowse =
        tableChanged(tableName, stats, params.value(QStringLiteral("Stats")).split(QLatin1Char(',')), limit);
    // A table the panel has no statistics for is always sent.
    const bool changed = !published || sinceLastBrowse;
    const QStringList statsSent{QString::number(stats.at(StatTotal)), QString::number(stats.at(StatInserts)),
                                QString::number(stats.at(StatDeletes)), QString::number(stats.at(StatEdits)),
                                QString::number(visibleCount(stats))};

    const QStringList fields = table->fields() + systemFields;
    std::unique_ptr<KTRawRows> rows;
    int count = 0;
    if (changed) {
        const QString condition = visibleCondition(resolve ? QStringLiteral("T0.") : QString(),
                                                   params.value(QStringLiteral("Where")));
        QString error;
        rows = _dbController->selectRows(tableName, fields, condition, params.value(QStringLiteral("OrderBy")), limit,
                                         resolve, &error);
        if (!rows) {
            _lastResult = false;
            _lastMessage = tr("%1 > Solicitud de visualización no fue realizada exitosamente. Error de BD : '%2'")
                               .arg(_objectName, error);
            report(tr("%1 > Solicitud de Visualización de datos de usuario '%2' con ID de Conexión : '%3' no fue "
                      "realizada exitosamente. Error de BD : '%4'").arg(_objectName, _user).arg(_connectionID).arg(error),
                   KT::WarningMessage);
            return failureResponse(_lastMessage);
        }
        count = int(rows->size());
    }

    _lastResult = true;
    _lastMessage = tr("%1 > Solicitud de visualización realizada exitosamente. Nro de registros : '%2'")
                       .arg(_objectName).arg(count);
    KTSercomResponse response = answer(QStringLiteral("FillSetModel"));
    response.text(QStringLiteral("CallerComponent"), params.value(QStringLiteral("CallerComponent")))
        .text(QStringLiteral("FillSetModel"), params.value(QStringLiteral("FillSetModel")))
        .text(QStringLiteral("Status"), changed ? QStringLiteral("1") : QStringLiteral("0"))
        .text(QStringLiteral("Message"), _lastMessage)
        .text(QStringLiteral("Table"), tableName)
        .text(QStringLiteral("Stats"), statsSent.join(QLatin1Char(',')));
    if (changed) {
        response.text(QStringLiteral("Pack"), params.value(QStringLiteral("Pack")))
            .text(QStringLiteral("RowCount"), QString::number(count))
            .text(QStringLiteral("Fields"), fields.join(QLatin1Char(',')));
        writeRows(*rows, table, fields, resolve, response);
    }
    report(tr("%1 > Solicitud de Visualización de datos de usuario '%2' con ID de Conexión : '%3' completada "
              "exitosamente. Nro de registros : '%4'").arg(_objectName, _user).arg(_connectionID).arg(count),
           KT::InformationMessage);
    return response.toString();
}

KTSercomResponse::Attributes DbBrowseSercom::rootAttributes() const
{
    KTSercomResponse::Attributes attributes = KTDbSercom::rootAttributes();
    if (!_objectNameEmbedded.isEmpty())
        attributes.append({QStringLiteral("ObjectNameEmbedded"), _objectNameEmbedded});
    return attributes;
}

// Only inserts, deletes and edits say whether the client's rows are still
// current. The limit is stored whatever the outcome.
bool DbBrowseSercom::tableChanged(const QString& table, const QList<quint64>& stats, const QStringList& clientStats,
                                  const QString& limit)
{
    const bool unchanged = clientStats.size() >= 3
        && clientStats.at(0) == QString::number(stats.at(StatInserts))
        && clientStats.at(1) == QString::number(stats.at(StatDeletes))
        && clientStats.at(2) == QString::number(stats.at(StatEdits))
        && _limits.contains(table) && _limits.value(table) == limit;
    _limits.insert(table, limit);
    return !unchanged;
}

// Administrators see the records visible to them and to normal users,
// normal users only their own; any other type sees nothing. The client's
// condition is bracketed, so that an OR in it cannot widen what is visible.
QString DbBrowseSercom::visibleCondition(const QString& prefix, const QString& where) const
{
    QString visibility;
    switch (_userType) {
    case 1: return where;
    case 2: visibility = prefix + QStringLiteral("sysVisible >= 1"); break;
    case 3: visibility = prefix + QStringLiteral("sysVisible = 2"); break;
    default: return QStringLiteral("1 = 0");
    }
    return where.isEmpty() ? visibility : QStringLiteral("%1 AND (%2)").arg(visibility, where);
}
