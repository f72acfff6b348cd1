#include "DbSearchSercom.h"

#include <KT.h>
#include <KTDatabaseController.h>
#include <KTDbTable.h>

#include <QSqlError>
#include <QSqlQuery>

namespace {

const QString labelRole = QStringLiteral("Label");
const QString browseRole = QStringLiteral("Browse");

QStringList parts(const QString& composition)
{
    QStringList result = composition.split(QLatin1Char('+'));
    for (QString& part : result)
        part = part.trimmed();
    return result;
}

} // namespace

DbSearchSercom::DbSearchSercom(QObject* parent)
    : KTDbSercom(QStringLiteral("DbSearchSercom"), tr("Visor de datos"), false, false, parent)
{
}

KTSercomBase* DbSearchSercom::createInstance() { return new DbSearchSercom; }

QString DbSearchSercom::processRequest(const QMultiMap<QString, QString>& params)
{
    readIdentity(params);
    const QString key = params.value(QStringLiteral("Key"));
    const QString tableName = params.value(QStringLiteral("Table"));
    const QString role = params.value(QStringLiteral("Role"));
    KTDbTable* table = definition(tableName);
    if (!table || table->fields().isEmpty())
        return refuse(tr("La tabla '%1' no existe en el servidor").arg(tableName));
    const QStringList selected = columns(table, role);
    if (selected.isEmpty())
        return refuse(tr("La búsqueda en la tabla '%1' pide un rol desconocido: '%2'").arg(tableName, role));

    QSqlQuery query = _dbController->select(tableName, selected, condition(table, key), QString(), QString(),
                                            QString());
    if (!query.isActive()) {
        const QString error = query.lastError().databaseText();
        _lastResult = false;
        _lastMessage = tr("%1 > Solicitud de búsqueda no fue realizada exitosamente. Error de BD : '%2'")
                           .arg(_objectName, error);
        report(tr("%1 > Solicitud de búsqueda de datos de usuario '%2' con ID de Conexión : '%3' no fue realizada "
                  "exitosamente. Error de BD : '%4'").arg(_objectName, _user).arg(_connectionID).arg(error),
               KT::WarningMessage);
        return failureResponse(_lastMessage);
    }

    _lastResult = true;
    KTSercomResponse response = answer(QStringLiteral("RowData"));
    response.text(QStringLiteral("Role"), role);
    if (query.next()) {
        const bool whole = role != labelRole && role != browseRole;
        response.text(QStringLiteral("Status"), QStringLiteral("1"))
            .text(QStringLiteral("Row"), whole ? recordRow(query, table, selected)
                                               : KTDatabaseController::valueText(query.value(0)))
            .text(QStringLiteral("RowModifiers"), whole ? recordModifiers(query, selected) : QString());
    } else {
        response.text(QStringLiteral("Status"), QStringLiteral("0")).text(QStringLiteral("Row"), QString());
    }
    response.text(QStringLiteral("Key"), key).text(QStringLiteral("SenderWidget"),
                                                   params.value(QStringLiteral("SenderWidget")));
    report(tr("%1 > Solicitud de búsqueda de datos de usuario '%2' con ID de Conexión : '%3' completada exitosamente. "
              "Nro de registros : '%4'").arg(_objectName, _user).arg(_connectionID).arg(query.size()),
           KT::InformationMessage);
    return response.toString();
}

// The key stands in brackets, so that it can only ever be compared with the
// key; a restricted user finds only the records it may see.
QString DbSearchSercom::condition(KTDbTable* table, const QString& key) const
{
    const QString byKey = QStringLiteral("%1 = (%2)").arg(table->fields().first(), key);
    return _userType == 3 ? QStringLiteral("sysVisible = 2 AND ") + byKey : byKey;
}

// Empty for a role this component does not know.
QStringList DbSearchSercom::columns(KTDbTable* table, const QString& role) const
{
    if (role == labelRole)
        return {_dbController->concat(parts(table->_labelField))};
    if (role == browseRole)
        return {_dbController->concat(parts(table->_browseField))};
    if (role == QLatin1String("Complete") || role == QLatin1String("CompleteCustom"))
        return table->fields() + systemFields;
    return {};
}

// A zero reference reads as none; binary fields travel as Base64, as in
// every other answer, since raw bytes would not survive the XML.
QString DbSearchSercom::recordRow(const QSqlQuery& query, KTDbTable* table, const QStringList& columns)
{
    QStringList values;
    for (int k = 0; k < columns.size() - systemFields.size(); ++k) {
        const QString& name = columns.at(k);
        const _TableField* field = table->dbField(name);
        if (field && field->format == QLatin1String("5")) {
            values << QString::fromLatin1(query.value(k).toByteArray().toBase64());
            continue;
        }
        QString value = KTDatabaseController::valueText(query.value(k));
        if (value == QLatin1String("0") && (name.startsWith(QLatin1String("cod")) || name.startsWith(QLatin1String("cos"))))
            value.clear();
        values << value;
    }
    return values.join(QLatin1Char('|'));
}

QString DbSearchSercom::recordModifiers(const QSqlQuery& query, const QStringList& columns)
{
    QStringList values;
    for (int k = int(columns.size() - systemFields.size()); k < columns.size(); ++k)
        values << KTDatabaseController::valueText(query.value(k));
    return values.join(QLatin1Char(','));
}

// The one answer that names the client object first.
KTSercomResponse::Attributes DbSearchSercom::rootAttributes() const
{
    return {{QStringLiteral("ObjectName"), _objectName}, {QStringLiteral("ObjectType"), _objectType}};
}
