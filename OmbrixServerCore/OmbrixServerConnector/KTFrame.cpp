#include "KTFrame.h"

#include "KTDeflate.h"

#include <QIODevice>
#include <QtEndian>

namespace {

constexpr int headerSize = 8;
constexpr int lengthSize = 4;
// Count, block length and text length: what precedes the zlib stream.
constexpr int prefixSize = headerSize + lengthSize + lengthSize;
// The level zlib uses when asked for its default.
constexpr int defaultLevel = 6;
// Texts up to this size are inflated into a buffer of the announced size;
// larger ones grow as they inflate, so a small frame that claims a large text
// costs no more than the text it really holds.
constexpr qint64 oneShotSize = qint64(1) << 20;

void writePrefix(QByteArray* frame, qsizetype textSize)
{
    const qsizetype block = frame->size() - headerSize - lengthSize;
    qToBigEndian<quint64>(quint64(lengthSize + block), frame->data());
    qToBigEndian<quint32>(quint32(block), frame->data() + headerSize);
    qToBigEndian<quint32>(quint32(textSize), frame->data() + headerSize + lengthSize);
}

} // namespace

QByteArray KTFrame::encode(const QString& text, int level)
{
    const QByteArray utf8 = text.toUtf8();
    // No text is what qCompress writes for it: the zero length, no stream.
    if (utf8.isEmpty()) {
        QByteArray frame(prefixSize, '\0');
        writePrefix(&frame, 0);
        return frame;
    }
    // The frame is built in place: the stream goes straight behind its header.
    QByteArray frame(prefixSize + KTDeflate::bound(utf8.size()), Qt::Uninitialized);
    const qsizetype stream = KTDeflate::compress(utf8.constData(), utf8.size(), level < 0 ? defaultLevel : qMin(level, 9),
                                                 frame.data() + prefixSize, frame.size() - prefixSize);
    if (stream <= 0)
        return QByteArray();
    frame.resize(prefixSize + stream);
    // A large text compresses to a fraction of its bound: give the rest back.
    if (frame.capacity() > 2 * frame.size())
        frame.squeeze();
    writePrefix(&frame, utf8.size());
    return frame;
}

KTFrame::ReadStatus KTFrame::read(QIODevice* device, qint64& blockSize, qint64 maxSize, QByteArray* payload)
{
    if (blockSize == 0) {
        if (device->bytesAvailable() < headerSize)
            return NeedMore;
        char header[headerSize];
        device->read(header, headerSize);
        const quint64 announced = qFromBigEndian<quint64>(header);
        if (announced > quint64(maxSize))
            return TooLarge;
        // A count of zero is a frame without even a block length; it decodes as malformed.
        blockSize = announced == 0 ? -1 : qint64(announced);
    }
    const qint64 wanted = qMax<qint64>(blockSize, 0);
    if (device->bytesAvailable() < wanted)
        return NeedMore;
    *payload = device->read(wanted);
    blockSize = 0;
    return Complete;
}

QString KTFrame::decode(const QByteArray& payload, qint64 maxSize, bool* ok)
{
    return QString::fromUtf8(decodeUtf8(payload, maxSize, ok));
}

QByteArray KTFrame::decodeUtf8(const QByteArray& payload, qint64 maxSize, bool* ok)
{
    if (ok)
        *ok = false;
    if (payload.size() < lengthSize + lengthSize)
        return QByteArray();
    const quint32 blockLength = qFromBigEndian<quint32>(payload.constData());
    if (qint64(blockLength) != payload.size() - lengthSize)
        return QByteArray();
    const char* block = payload.constData() + lengthSize;
    const quint32 textLength = qFromBigEndian<quint32>(block);
    if (qint64(textLength) > maxSize)
        return QByteArray();
    const qint64 streamSize = qint64(blockLength) - lengthSize;
    const char* stream = block + lengthSize;
    QByteArray text;
    // qCompress writes no stream at all for an empty text.
    const bool empty = textLength == 0 && streamSize == 0;
    if (!empty && textLength <= oneShotSize) {
        text.resize(qsizetype(textLength));
        if (!KTDeflate::decompress(stream, streamSize, text.data(), text.size()))
            return QByteArray();
    } else if (!empty && !KTDeflate::decompressGrowing(stream, streamSize, qsizetype(textLength), &text)) {
        return QByteArray();
    }
    if (ok)
        *ok = true;
    const qsizetype zero = text.indexOf('\0');
    if (zero >= 0)
        text.truncate(zero);
    return text;
}
