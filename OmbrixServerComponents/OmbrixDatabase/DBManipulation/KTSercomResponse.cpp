#include "KTSercomResponse.h"

KTSercomResponse::KTSercomResponse(const QString& objectType, const QString& objectName, const QString& outcome,
                                   const QString& objectNameEmbedded)
    : _writer(&_document)
{
    _writer.setAutoFormatting(true);
    _writer.writeStartDocument();
    _writer.writeStartElement(QStringLiteral("ActionRequest"));
    _writer.writeAttribute(QStringLiteral("ObjectType"), objectType);
    _writer.writeAttribute(QStringLiteral("ObjectName"), objectName);
    if (!objectNameEmbedded.isEmpty())
        _writer.writeAttribute(QStringLiteral("ObjectNameEmbedded"), objectNameEmbedded);
    _writer.writeStartElement(outcome);
}

KTSercomResponse& KTSercomResponse::text(const QString& tag, const QString& value)
{
    _writer.writeTextElement(tag, value);
    return *this;
}

KTSercomResponse& KTSercomResponse::rows(const QStringList& values, const QStringList& display)
{
    for (int i = 0; i < values.size(); ++i) {
        _writer.writeTextElement(QStringLiteral("Row"), values.at(i));
        if (i < display.size())
            _writer.writeTextElement(QStringLiteral("RowDisp"), display.at(i));
    }
    return *this;
}

QString KTSercomResponse::toString()
{
    _writer.writeEndDocument();
    return _document;
}
