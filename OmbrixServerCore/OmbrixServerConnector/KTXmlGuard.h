#ifndef KTXMLGUARD_H
#define KTXMLGUARD_H

#include <QCoreApplication>
#include <QString>

// A streaming pass over a received document before any DOM is built from it.
// The DOM costs memory per node and per attribute and is built recursively,
// so a document is refused when it nests too deep, holds too many nodes or
// attributes, or too many characters, or declares a DTD (no request needs
// entities). Within the bounds a DOM stays small whatever the frame size
// allows; a document past a bound costs only the reading up to that point.
class KTXmlGuard
{
    Q_DECLARE_TR_FUNCTIONS(KTXmlGuard)
public:
    static constexpr int maxDepth = 256;
    // Elements, text runs, comments and processing instructions.
    static constexpr qint64 maxNodes = 100000;
    static constexpr qint64 maxAttributes = 20000;
    static constexpr int maxElementAttributes = 256;
    // Names, attribute values, text, comments: everything the DOM keeps as strings.
    static constexpr qint64 maxCharacters = qint64(16) * 1024 * 1024;

    // True when xml is well formed and within the bounds; otherwise the
    // reason and the position where reading stopped.
    bool accepts(const QString& xml);
    QString errorString() const { return _error; }
    qint64 lineNumber() const { return _line; }
    qint64 columnNumber() const { return _column; }

private:
    QString _error;
    qint64 _line = 0;
    qint64 _column = 0;
};

#endif
