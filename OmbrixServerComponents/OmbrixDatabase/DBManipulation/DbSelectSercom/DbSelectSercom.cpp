#include "DbSelectSercom.h"

#include "KTSercomResponse.h"

#include <KT.h>
#include <KTDatabaseController.h>

#include <QSqlError>
#include <QSqlQuery>

DbSelectSercom::DbSelectSercom(QObject* parent)
    : KTDbSercom(QStringLiteral("DbSelectSercom"), tr("Select personalizado"), false, false, parent)
{
}

KTSercomBase* DbSelectSercom::createInstance() { return new DbSelectSercom; }

QString DbSelectSercom::processRequest(const QMultiMap<QString, QString>& params)
{
    readIdentity(params);
    if (!_dbController)
        return failure(params, tr("sin conexión a la base de datos"));
    const QStringList tables = params.value(QStringLiteral("From")).split(QLatin1Char(','));
    // ".." stands for a comma inside one expression, so that function calls
    // with several arguments survive the comma-separated list.
    QStringList fields = params.value(QStringLiteral("Fields")).split(QLatin1Char(','));
    for (QString& field : fields)
        field.replace(QStringLiteral(".."), QStringLiteral(","));

    QSqlQuery query = _dbController->select(tables.join(QLatin1Char(',')), fields,
                                            withRecordCondition(params.value(QStringLiteral("Where"))),
                                            params.value(QStringLiteral("GroupBy")),
                                            params.value(QStringLiteral("OrderBy")), QString());
    if (!query.isActive())
        return failure(params, query.lastError().databaseText());

    const QString count = QString::number(query.size());
    _lastResult = true;
    _lastMessage = tr("%1 > Solicitud de SELECT customizado fue realizado exitosamente. Nro de registros : '%2'")
                       .arg(_objectName, count);
    KTSercomResponse response = answer(QStringLiteral("CustomSelect"));
    response.text(QStringLiteral("Status"), QStringLiteral("1"))
        .text(QStringLiteral("RequestNumber"), params.value(QStringLiteral("RequestNumber")))
        .text(QStringLiteral("RequestName"), params.value(QStringLiteral("RequestName")))
        .text(QStringLiteral("Message"), _lastMessage)
        .text(QStringLiteral("RowCount"), count);
    while (query.next()) {
        QStringList values;
        for (int column = 0; column < fields.size(); ++column)
            values << KTDatabaseController::valueText(query.value(column));
        response.text(QStringLiteral("Row"), values.join(QLatin1Char('|')));
    }
    report(tr("%1 > Solicitud de SELECT customizado de datos de usuario '%2' con ID de Conexión : '%3' completado "
              "exitosamente. Nro de registros : '%4'").arg(_objectName, _user).arg(_connectionID).arg(count),
           KT::InformationMessage);
    return response.toString();
}

QString DbSelectSercom::failure(const QMultiMap<QString, QString>& params, const QString& error)
{
    _lastResult = false;
    _lastMessage = tr("%1 > Solicitud de SELECT customizado no fue realizado exitosamente. Error de BD : '%2'")
                       .arg(_objectName, error);
    report(tr("%1 > Solicitud de SELECT customizado de usuario '%2' con ID de Conexión : '%3' no fue realizado "
              "exitosamente. Error de BD : '%4'").arg(_objectName, _user).arg(_connectionID).arg(error),
           KT::WarningMessage);
    KTSercomResponse response = answer(QStringLiteral("CustomSelect"));
    return response.text(QStringLiteral("Status"), QStringLiteral("0"))
        .text(QStringLiteral("RequestNumber"), params.value(QStringLiteral("RequestNumber")))
        .text(QStringLiteral("RequestName"), params.value(QStringLiteral("RequestName")))
        .text(QStringLiteral("Message"), _lastMessage)
        .toString();
}
