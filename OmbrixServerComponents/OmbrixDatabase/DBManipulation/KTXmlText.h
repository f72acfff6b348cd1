#ifndef KTXMLTEXT_H
#define KTXMLTEXT_H

#include <QByteArrayView>
#include <QString>

// UTF-8 bytes appended to a document as the text of an element, escaped as
// the answers' XML writer escapes text: quotes, ampersands and angle brackets
// as entities; characters XML cannot carry (control characters other than
// tab and line ends, U+FFFE, U+FFFF) left out; invalid UTF-8 decoded as
// QString decodes it.
class KTXmlText
{
public:
    static void append(QString* document, QByteArrayView utf8);
};

#endif
