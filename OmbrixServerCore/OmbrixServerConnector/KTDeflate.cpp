#include "KTDeflate.h"

#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>

#include <libdeflate.h>
#include <zlib.h>

// Compressors per level and decompressors, free for the taking. It keeps at
// most as many of each as frames were ever coded at once, up to a bound, so
// that a burst does not leave its peak behind.
class KTDeflate::Pool
{
public:
    static constexpr int levels = 10;

    ~Pool()
    {
        for (const QList<libdeflate_compressor*>& free : _compressors)
            for (libdeflate_compressor* compressor : free)
                libdeflate_free_compressor(compressor);
        for (libdeflate_decompressor* decompressor : std::as_const(_decompressors))
            libdeflate_free_decompressor(decompressor);
    }

    libdeflate_compressor* takeCompressor(int level)
    {
        {
            QMutexLocker locker(&_mutex);
            if (!_compressors[level].isEmpty())
                return _compressors[level].takeLast();
        }
        return libdeflate_alloc_compressor(level);
    }

    void giveBack(libdeflate_compressor* compressor, int level)
    {
        QMutexLocker locker(&_mutex);
        if (_compressors[level].size() < kept())
            _compressors[level].append(compressor);
        else
            libdeflate_free_compressor(compressor);
    }

    libdeflate_decompressor* takeDecompressor()
    {
        {
            QMutexLocker locker(&_mutex);
            if (!_decompressors.isEmpty())
                return _decompressors.takeLast();
        }
        return libdeflate_alloc_decompressor();
    }

    void giveBack(libdeflate_decompressor* decompressor)
    {
        QMutexLocker locker(&_mutex);
        if (_decompressors.size() < kept())
            _decompressors.append(decompressor);
        else
            libdeflate_free_decompressor(decompressor);
    }

private:
    // More frames than cores are seldom coded at the same moment. Asked
    // once: the count is a system call, and this is asked for every frame.
    static int kept()
    {
        static const int count = 2 * qMax(1, QThread::idealThreadCount());
        return count;
    }

    QMutex _mutex;
    QList<libdeflate_compressor*> _compressors[levels];
    QList<libdeflate_decompressor*> _decompressors;
};

KTDeflate::Pool& KTDeflate::pool()
{
    static Pool instance;
    return instance;
}

qsizetype KTDeflate::bound(qsizetype size)
{
    // Without a compressor, libdeflate gives the bound of any level.
    return qsizetype(libdeflate_zlib_compress_bound(nullptr, size_t(size)));
}

qsizetype KTDeflate::compress(const char* data, qsizetype size, int level, char* out, qsizetype capacity)
{
    level = qBound(0, level, Pool::levels - 1);
    Pool& shared = pool();
    libdeflate_compressor* compressor = shared.takeCompressor(level);
    if (!compressor)
        return 0;
    const size_t written = libdeflate_zlib_compress(compressor, data, size_t(size), out, size_t(capacity));
    shared.giveBack(compressor, level);
    return qsizetype(written);
}

bool KTDeflate::decompress(const char* data, qsizetype size, char* out, qsizetype expected)
{
    Pool& shared = pool();
    libdeflate_decompressor* decompressor = shared.takeDecompressor();
    if (!decompressor)
        return false;
    // No count of bytes out: libdeflate then insists on exactly expected.
    const libdeflate_result result =
        libdeflate_zlib_decompress(decompressor, data, size_t(size), out, size_t(expected), nullptr);
    shared.giveBack(decompressor);
    return result == LIBDEFLATE_SUCCESS;
}

bool KTDeflate::decompressGrowing(const char* data, qsizetype size, qsizetype expected, QByteArray* out)
{
    constexpr qsizetype firstStep = 256 * 1024;
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return false;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    stream.avail_in = uInt(size);
    // One byte past the claim tells a stream that gives more than it said.
    const qsizetype cap = expected + 1;
    out->clear();
    int status = Z_OK;
    while (status == Z_OK) {
        const qsizetype produced = qsizetype(stream.total_out);
        if (produced == out->size()) {
            if (out->size() == cap)
                break;
            out->resize(qMin(cap, qMax(2 * out->size(), firstStep)));
        }
        stream.next_out = reinterpret_cast<Bytef*>(out->data()) + produced;
        stream.avail_out = uInt(out->size() - produced);
        status = inflate(&stream, Z_NO_FLUSH);
    }
    const qsizetype produced = qsizetype(stream.total_out);
    inflateEnd(&stream);
    out->resize(produced);
    return status == Z_STREAM_END && produced == expected;
}
