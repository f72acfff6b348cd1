#ifndef KTXMLGUARD_H
#define KTXMLGUARD_H

#include <QCoreApplication>
#include <QString>

class QIODevice;
class QXmlStreamReader;

// The bounds a received document must keep while it is read. What is built
// from it costs memory per node and per attribute, so a document is refused
// when it nests too deep, holds too many nodes or attributes, or too many
// characters, or declares a DTD (no request needs entities). Within the
// bounds what is built stays small whatever the frame size allows; a
// document past a bound costs only the reading up to that point.
class KTXmlGuard
{
    Q_DECLARE_TR_FUNCTIONS(KTXmlGuard)
public:
    struct Bounds {
        int depth;
        // Elements, text runs, comments and processing instructions.
        qint64 nodes;
        qint64 attributes;
        int elementAttributes;
        // Names, attribute values, text, comments: everything the DOM keeps as strings.
        qint64 characters;
    };
    // What a logged-in client may send.
    static constexpr Bounds full{256, 100000, 20000, 256, qint64(16) * 1024 * 1024};
    // Before a login nothing larger than a login or a list of client files
    // is needed: the DOM of such a document stays within a few MiB.
    static constexpr Bounds beforeLogin{32, 8000, 2000, 32, qint64(512) * 1024};

    explicit KTXmlGuard(const Bounds& bounds = full) : _bounds(bounds) {}

    // True when xml is well formed and within the bounds; otherwise the
    // reason and the position where reading stopped.
    bool accepts(const QString& xml);
    // The same for a document read from device a piece at a time, so that
    // the pass holds no second copy of the whole text.
    bool accepts(QIODevice* device);
    QString errorString() const { return _error; }
    qint64 lineNumber() const { return _line; }
    qint64 columnNumber() const { return _column; }

    // For a reader that builds something as it goes: counts the token just
    // read and says whether the document is still within the bounds.
    bool admits(const QXmlStreamReader& reader);
    // After the last token: the reader's own error, if any, and where it stopped.
    bool finish(const QXmlStreamReader& reader);

private:
    bool accepts(QXmlStreamReader& reader);

    Bounds _bounds;
    QString _error;
    qint64 _line = 0;
    qint64 _column = 0;
    int _depth = 0;
    qint64 _nodes = 0;
    qint64 _attributes = 0;
    qint64 _characters = 0;
};

#endif
