#include "KTRequestElement.h"

#include "KTRequestDocument.h"

QString KTRequestElement::tagName() const
{
    return _document ? _document->_elements[size_t(_index)].name : QString();
}

QString KTRequestElement::attribute(const QString& name) const
{
    if (!_document)
        return QString();
    const KTRequestDocument::Element& element = _document->_elements[size_t(_index)];
    for (int i = element.firstAttribute; i < element.firstAttribute + element.attributeCount; ++i)
        if (_document->_attributes[size_t(i)].name == name)
            return _document->_attributes[size_t(i)].value;
    return QString();
}

QString KTRequestElement::text() const
{
    if (!_document)
        return QString();
    const KTRequestDocument::Element& element = _document->_elements[size_t(_index)];
    return _document->_text.mid(element.textBegin, element.textEnd - element.textBegin);
}

KTRequestElement KTRequestElement::firstChildElement() const
{
    return _document ? at(_document->_elements[size_t(_index)].firstChild) : KTRequestElement();
}

KTRequestElement KTRequestElement::nextSiblingElement() const
{
    return _document ? at(_document->_elements[size_t(_index)].nextSibling) : KTRequestElement();
}

KTRequestElement KTRequestElement::at(int index) const
{
    return index < 0 ? KTRequestElement() : KTRequestElement(_document, index);
}
