#ifndef KTREQUESTDOCUMENT_H
#define KTREQUESTDOCUMENT_H

#include "KTRequestElement.h"
#include "KTXmlGuard.h"

#include <QList>
#include <QString>

#include <vector>

class QIODevice;
class QXmlStreamReader;

// A received document read once, as a stream: the bounds are checked token
// by token while the elements, their attributes and their text are kept in
// flat arrays, so that nothing is parsed twice and no node is an object of
// its own. Element and attribute names are the qualified names; text that is
// only blanks is dropped, as a DOM reader drops it.
class KTRequestDocument
{
    Q_DECLARE_TR_FUNCTIONS(KTRequestDocument)
public:
    explicit KTRequestDocument(const KTXmlGuard::Bounds& bounds = KTXmlGuard::full) : _guard(bounds) {}
    KTRequestDocument(const KTRequestDocument&) = delete;
    KTRequestDocument& operator=(const KTRequestDocument&) = delete;

    // True when the document is well formed and within the bounds;
    // otherwise errorString() and the position where reading stopped.
    bool read(QIODevice* device);
    bool read(const QString& xml);

    KTRequestElement documentElement() const { return KTRequestElement(_elements.empty() ? nullptr : this, 0); }
    QString errorString() const { return _guard.errorString(); }
    qint64 lineNumber() const { return _guard.lineNumber(); }
    qint64 columnNumber() const { return _guard.columnNumber(); }

private:
    friend class KTRequestElement;

    struct Element {
        QString name;
        int parent = -1;
        int firstChild = -1;
        int nextSibling = -1;
        int lastChild = -1;
        // Into _attributes: [firstAttribute, firstAttribute + attributeCount).
        int firstAttribute = 0;
        int attributeCount = 0;
        // Into _text: what the element and its descendants hold, in order.
        qsizetype textBegin = 0;
        qsizetype textEnd = 0;
    };
    struct Attribute {
        QString name;
        QString value;
    };

    bool read(QXmlStreamReader& reader);
    void startElement(const QXmlStreamReader& reader);

    KTXmlGuard _guard;
    std::vector<Element> _elements;
    std::vector<Attribute> _attributes;
    QString _text;
    int _current = -1;
};

#endif
