#include "KTSercomResponse.h"

KTSercomResponse::KTSercomResponse(const Attributes& rootAttributes, const QString& outcome)
    : _writer(&_document)
{
    _writer.setAutoFormatting(true);
    _writer.writeStartDocument();
    _writer.writeStartElement(QStringLiteral("ActionRequest"));
    for (const auto& attribute : rootAttributes)
        _writer.writeAttribute(attribute.first, attribute.second);
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

// The writer lays out the outcome's children one per line, two levels deep;
// having just closed an element, it adds nothing of its own before the next.
void KTSercomResponse::openElement(QLatin1StringView tag)
{
    _document.append(QLatin1StringView("\n        <")).append(tag).append(QLatin1Char('>'));
}

void KTSercomResponse::closeElement(QLatin1StringView tag)
{
    _document.append(QLatin1StringView("</")).append(tag).append(QLatin1Char('>'));
}

KTSercomResponse& KTSercomResponse::markup(const QString& xml)
{
    // A document-type token is written as it stands, unescaped.
    _writer.writeDTD(xml);
    return *this;
}

QString KTSercomResponse::toString()
{
    _writer.writeEndDocument();
    return _document;
}
