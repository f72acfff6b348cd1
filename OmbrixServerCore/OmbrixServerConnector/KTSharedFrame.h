#ifndef KTSHAREDFRAME_H
#define KTSHAREDFRAME_H

#include <QByteArray>
#include <QMetaType>
#include <QMutex>
#include <QSharedPointer>
#include <QString>

// One reply for many connections: the text, and its frame at each
// compression level encoded once, by the first connection that writes it at
// that level, then shared by all. Connection threads use it at once.
class KTSharedFrame
{
public:
    explicit KTSharedFrame(const QString& text);
    KTSharedFrame(const KTSharedFrame&) = delete;
    KTSharedFrame& operator=(const KTSharedFrame&) = delete;

    const QString& text() const { return _text; }
    // The whole frame at level (0 to 9; -1 zlib's default).
    QByteArray frame(int level) const;

private:
    static constexpr int levelCount = 11;

    const QString _text;
    mutable QMutex _mutex;
    mutable QByteArray _frames[levelCount];
};

using KTSharedFramePointer = QSharedPointer<const KTSharedFrame>;
Q_DECLARE_METATYPE(KTSharedFramePointer)

#endif
