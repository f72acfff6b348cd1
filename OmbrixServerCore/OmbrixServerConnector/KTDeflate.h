#ifndef KTDEFLATE_H
#define KTDEFLATE_H

#include <QByteArray>

// One-shot zlib streams (RFC 1950) over whole buffers, with libdeflate.
//
// A compressor costs up to 650 KiB to build and nothing to reuse, so finished
// ones wait in a small pool for the next frame of any connection: frames pay
// no set-up, and an idle connection holds no compression state at all.
class KTDeflate
{
public:
    // The largest stream compress() may write for size bytes, at any level.
    static qsizetype bound(qsizetype size);
    // Writes the zlib stream of data at level (0 to 9) into out, which holds
    // at least bound() bytes; returns the stream's size, 0 on failure.
    static qsizetype compress(const char* data, qsizetype size, int level, char* out, qsizetype capacity);
    // Inflates a zlib stream that must give exactly expected bytes into out:
    // a stream that gives more or fewer, or is corrupt, fails.
    static bool decompress(const char* data, qsizetype size, char* out, qsizetype expected);
    // The same, for a size the sender only claims: out grows as the stream
    // really inflates, so memory follows the bytes that arrive, not the claim.
    static bool decompressGrowing(const char* data, qsizetype size, qsizetype expected, QByteArray* out);

private:
    class Pool;
    static Pool& pool();
};

#endif
