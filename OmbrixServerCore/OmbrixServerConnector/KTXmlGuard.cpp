#include "KTXmlGuard.h"

#include <QXmlStreamReader>

namespace {

// The characters a token leaves in the DOM: its name, its text and its attributes.
qint64 tokenCharacters(const QXmlStreamReader& reader)
{
    qint64 characters = reader.qualifiedName().size() + reader.text().size() + reader.processingInstructionTarget().size()
        + reader.processingInstructionData().size();
    for (const QXmlStreamAttribute& attribute : reader.attributes())
        characters += attribute.qualifiedName().size() + attribute.value().size();
    return characters;
}

} // namespace

bool KTXmlGuard::accepts(const QString& xml)
{
    QXmlStreamReader reader(xml);
    return accepts(reader);
}

bool KTXmlGuard::accepts(QIODevice* device)
{
    QXmlStreamReader reader(device);
    return accepts(reader);
}

bool KTXmlGuard::accepts(QXmlStreamReader& reader)
{
    *this = KTXmlGuard(_bounds);
    while (!reader.atEnd()) {
        reader.readNext();
        if (!admits(reader))
            break;
    }
    return finish(reader);
}

bool KTXmlGuard::admits(const QXmlStreamReader& reader)
{
    const QXmlStreamReader::TokenType token = reader.tokenType();
    if (token != QXmlStreamReader::EndElement)
        _characters += tokenCharacters(reader);
    if (token == QXmlStreamReader::StartElement) {
        ++_nodes;
        _attributes += reader.attributes().size();
        if (++_depth > _bounds.depth)
            _error = tr("el documento anida más de %1 elementos").arg(_bounds.depth);
        else if (reader.attributes().size() > _bounds.elementAttributes)
            _error = tr("un elemento tiene más de %1 atributos").arg(_bounds.elementAttributes);
    } else if (token == QXmlStreamReader::EndElement) {
        --_depth;
    } else if ((token == QXmlStreamReader::Characters && !reader.isWhitespace())
               || token == QXmlStreamReader::Comment || token == QXmlStreamReader::ProcessingInstruction) {
        // Text that is only blanks makes no node; its characters still count.
        ++_nodes;
    } else if (token == QXmlStreamReader::DTD || token == QXmlStreamReader::EntityReference) {
        _error = tr("el documento declara un DTD o entidades");
    }
    if (!_error.isEmpty())
        return false;
    if (_nodes > _bounds.nodes)
        _error = tr("el documento tiene más de %1 nodos").arg(_bounds.nodes);
    else if (_attributes > _bounds.attributes)
        _error = tr("el documento tiene más de %1 atributos").arg(_bounds.attributes);
    else if (_characters > _bounds.characters)
        _error = tr("el documento tiene más de %1 caracteres de contenido").arg(_bounds.characters);
    return _error.isEmpty();
}

bool KTXmlGuard::finish(const QXmlStreamReader& reader)
{
    if (_error.isEmpty() && reader.hasError())
        _error = reader.errorString();
    _line = reader.lineNumber();
    _column = reader.columnNumber();
    return _error.isEmpty();
}
