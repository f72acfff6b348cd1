#ifndef KTREQUESTELEMENT_H
#define KTREQUESTELEMENT_H

#include <QString>

class KTRequestDocument;

// One element of a KTRequestDocument: a handle that stays valid while its
// document lives. Reads like a DOM element: a missing attribute or a null
// element reads as an empty string.
class KTRequestElement
{
public:
    KTRequestElement() = default;

    bool isNull() const { return !_document; }
    QString tagName() const;
    QString attribute(const QString& name) const;
    // The text of the element and of all its descendants, in document order.
    QString text() const;
    KTRequestElement firstChildElement() const;
    KTRequestElement nextSiblingElement() const;

private:
    friend class KTRequestDocument;
    KTRequestElement(const KTRequestDocument* document, int index) : _document(document), _index(index) {}
    KTRequestElement at(int index) const;

    const KTRequestDocument* _document = nullptr;
    int _index = -1;
};

#endif
