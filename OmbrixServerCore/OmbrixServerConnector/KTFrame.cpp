#include "KTFrame.h"

#include <QIODevice>
#include <QtEndian>

#include <zlib.h>

namespace {

constexpr int headerSize = 8;
constexpr int lengthSize = 4;

// Inflates a zlib stream into at most expected bytes; false on any fault.
bool inflateBounded(const char* data, qint64 size, qint64 expected, QByteArray* out)
{
    // One spare byte shows a stream that holds more than it claimed.
    out->resize(expected + 1);
    if (expected == 0 && size == 0) {
        out->clear();
        return true;
    }
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return false;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    stream.avail_in = uInt(size);
    stream.next_out = reinterpret_cast<Bytef*>(out->data());
    stream.avail_out = uInt(expected + 1);
    const int status = inflate(&stream, Z_FINISH);
    const bool ok = status == Z_STREAM_END && stream.total_out == uLong(expected);
    inflateEnd(&stream);
    out->resize(expected);
    return ok;
}

} // namespace

QByteArray KTFrame::encode(const QString& text, int level)
{
    const QByteArray block = qCompress(text.toUtf8(), qBound(-1, level, 9));
    QByteArray frame(headerSize + lengthSize, Qt::Uninitialized);
    qToBigEndian<quint64>(quint64(lengthSize + block.size()), frame.data());
    qToBigEndian<quint32>(quint32(block.size()), frame.data() + headerSize);
    return frame + block;
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
    if (ok)
        *ok = false;
    if (payload.size() < lengthSize + lengthSize)
        return QString();
    const quint32 blockLength = qFromBigEndian<quint32>(payload.constData());
    if (qint64(blockLength) != payload.size() - lengthSize)
        return QString();
    const char* block = payload.constData() + lengthSize;
    const quint32 textLength = qFromBigEndian<quint32>(block);
    if (qint64(textLength) > maxSize)
        return QString();
    QByteArray text;
    if (!inflateBounded(block + lengthSize, qint64(blockLength) - lengthSize, textLength, &text))
        return QString();
    if (ok)
        *ok = true;
    const int zero = text.indexOf('\0');
    return QString::fromUtf8(zero < 0 ? text : text.left(zero));
}
