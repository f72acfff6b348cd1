#ifndef KTRAWFRAMES_H
#define KTRAWFRAMES_H

#include <QByteArray>
#include <QStringList>
#include <QtEndian>

#include <zlib.h>

// Frames written and read byte by byte with zlib itself, independently of the
// server's own framing code, so that a fault shared by both ends shows.
namespace KTRawFrames {

inline QByteArray bigEndian64(quint64 value)
{
    QByteArray bytes(8, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

inline QByteArray bigEndian32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

// The block: 4-byte length of the text, then the zlib stream.
inline QByteArray block(const QByteArray& text, int level = 6)
{
    uLongf size = compressBound(uLong(text.size()));
    QByteArray stream(int(size), '\0');
    compress2(reinterpret_cast<Bytef*>(stream.data()), &size, reinterpret_cast<const Bytef*>(text.constData()),
              uLong(text.size()), level);
    stream.resize(int(size));
    return bigEndian32(quint32(text.size())) + stream;
}

inline QByteArray frameOfBlock(const QByteArray& block)
{
    return bigEndian64(quint64(block.size()) + 4) + bigEndian32(quint32(block.size())) + block;
}

inline QByteArray frame(const QString& text, int level = 6)
{
    return frameOfBlock(block(text.toUtf8(), level));
}

// Takes every complete frame from the front of buffer and returns their texts.
inline QStringList takeTexts(QByteArray& buffer)
{
    QStringList texts;
    while (buffer.size() >= 12) {
        const quint64 size = qFromBigEndian<quint64>(buffer.constData());
        if (quint64(buffer.size()) < 8 + size)
            break;
        const quint32 blockSize = qFromBigEndian<quint32>(buffer.constData() + 8);
        const char* blockData = buffer.constData() + 12;
        uLongf textSize = qFromBigEndian<quint32>(blockData);
        QByteArray text(int(textSize), '\0');
        if (textSize > 0)
            uncompress(reinterpret_cast<Bytef*>(text.data()), &textSize,
                       reinterpret_cast<const Bytef*>(blockData + 4), blockSize - 4);
        texts << QString::fromUtf8(text);
        buffer.remove(0, int(8 + size));
    }
    return texts;
}

} // namespace KTRawFrames

#endif
