#include "KTRequestDocument.h"

#include <QXmlStreamReader>

bool KTRequestDocument::read(QIODevice* device)
{
    QXmlStreamReader reader(device);
    return read(reader);
}

bool KTRequestDocument::read(const QString& xml)
{
    QXmlStreamReader reader(xml);
    return read(reader);
}

bool KTRequestDocument::read(QXmlStreamReader& reader)
{
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (!_guard.admits(reader))
            break;
        if (token == QXmlStreamReader::StartElement) {
            startElement(reader);
        } else if (token == QXmlStreamReader::EndElement) {
            _elements[size_t(_current)].textEnd = _text.size();
            _current = _elements[size_t(_current)].parent;
        } else if (token == QXmlStreamReader::Characters && _current >= 0 && !reader.isWhitespace()) {
            _text += reader.text();
        }
    }
    if (_guard.finish(reader))
        return true;
    _elements.clear();
    _attributes.clear();
    _text.clear();
    return false;
}

void KTRequestDocument::startElement(const QXmlStreamReader& reader)
{
    Element element;
    element.name = reader.qualifiedName().toString();
    element.parent = _current;
    element.firstAttribute = int(_attributes.size());
    element.attributeCount = int(reader.attributes().size());
    element.textBegin = _text.size();
    for (const QXmlStreamAttribute& attribute : reader.attributes())
        _attributes.push_back({attribute.qualifiedName().toString(), attribute.value().toString()});
    const int index = int(_elements.size());
    if (_current >= 0) {
        Element& parent = _elements[size_t(_current)];
        if (parent.lastChild >= 0)
            _elements[size_t(parent.lastChild)].nextSibling = index;
        else
            parent.firstChild = index;
        parent.lastChild = index;
    }
    _elements.push_back(std::move(element));
    _current = index;
}
