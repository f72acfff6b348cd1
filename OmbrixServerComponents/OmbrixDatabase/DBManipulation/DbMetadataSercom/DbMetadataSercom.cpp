#include "DbMetadataSercom.h"

#include <KT.h>
#include <KTDbTable.h>

DbMetadataSercom::DbMetadataSercom(QObject* parent)
    : KTDbSercom(QStringLiteral("DbMetadataSercom"), tr("Metadata de tabla"), false, false, parent)
{
}

KTSercomBase* DbMetadataSercom::createInstance() { return new DbMetadataSercom; }

QString DbMetadataSercom::processRequest(const QMultiMap<QString, QString>& params)
{
    readIdentity(params);
    const QString tableName = params.value(QStringLiteral("Table"));
    KTDbTable* table = definition(tableName);
    if (!table) {
        _lastResult = false;
        _lastMessage = tr("La tabla '%1' no está cargada en el servidor").arg(tableName);
        report(tr("%1 > Solicitud de Metadata de usuario '%2' con ID de Conexión : '%3' no se completó. Mensaje : '%4'")
                   .arg(_objectName, _user).arg(_connectionID).arg(_lastMessage),
               KT::WarningMessage);
        return failureResponse(_lastMessage);
    }

    _lastResult = true;
    _lastMessage = tr("%1 > Solicitud de Metadata completada exitosamente").arg(_objectName);
    const QList<quint64> stats = tableStats(table->_tableName);
    KTSercomResponse response = answer(QStringLiteral("UpdateMetadata"));
    response.text(QStringLiteral("Status"), QStringLiteral("1"))
        .text(QStringLiteral("Message"), _lastMessage)
        .text(QStringLiteral("TableName"), tableName)
        .text(QStringLiteral("TotalRecords"), QString::number(stats.at(StatTotal)))
        .text(QStringLiteral("Inserts"), QString::number(stats.at(StatInserts)))
        .text(QStringLiteral("Deletes"), QString::number(stats.at(StatDeletes)))
        .text(QStringLiteral("Edits"), QString::number(stats.at(StatEdits)))
        .text(QStringLiteral("Visibles"), QString::number(visibleCount(stats)))
        .markup(table->_originalXML);
    report(tr("%1 > Solicitud de Metadata de usuario '%2' con ID de Conexión : '%3' completada exitosamente")
               .arg(_objectName, _user).arg(_connectionID),
           KT::InformationMessage);
    return response.toString();
}
