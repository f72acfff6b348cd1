#ifndef KTFRAME_H
#define KTFRAME_H

#include <QByteArray>
#include <QString>

class QIODevice;

// The wire format of every message, in both directions: an unsigned 64-bit
// big-endian count of the bytes that follow, a 32-bit big-endian block
// length, and the block in qCompress form (4-byte big-endian length of the
// text, then a zlib stream). The text is a UTF-8 XML document.
//
// Frames come from the network, so nothing here trusts a length it reads:
// sizes are checked against a limit before anything is allocated.
class KTFrame
{
public:
    static constexpr qint64 defaultMaxSize = qint64(64) * 1024 * 1024;

    enum ReadStatus { NeedMore, Complete, TooLarge };

    // The whole frame for a text, compressed at level (0 to 9; -1 zlib's default).
    static QByteArray encode(const QString& text, int level);

    // Takes the next frame's payload (what follows the 64-bit count) from device
    // once it has fully arrived. blockSize carries the count between calls:
    // 0 while no header has been read.
    static ReadStatus read(QIODevice* device, qint64& blockSize, qint64 maxSize, QByteArray* payload);

    // The text of a payload; ok false when it is malformed, does not inflate,
    // or claims more than maxSize bytes of text. The text ends at its first zero byte.
    static QString decode(const QByteArray& payload, qint64 maxSize, bool* ok = nullptr);
    // The same text as UTF-8, as it arrived.
    static QByteArray decodeUtf8(const QByteArray& payload, qint64 maxSize, bool* ok = nullptr);
};

#endif
