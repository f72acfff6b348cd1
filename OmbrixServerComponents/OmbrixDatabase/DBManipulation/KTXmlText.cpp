#include "KTXmlText.h"

namespace {

bool isPlainAscii(uchar c)
{
    if (c >= 0x80)
        return false;
    if (c < 0x20)
        return c == '\t' || c == '\n' || c == '\r';
    return c != '<' && c != '>' && c != '&' && c != '"';
}

const char* entity(uchar c)
{
    switch (c) {
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '&': return "&amp;";
    case '"': return "&quot;";
    default: return nullptr; // a control character: left out
    }
}

void appendDecoded(QString* document, QByteArrayView utf8)
{
    QString decoded = QString::fromUtf8(utf8);
    decoded.remove(QChar(0xFFFE)).remove(QChar(0xFFFF));
    document->append(decoded);
}

} // namespace

// Runs of plain ASCII go in at once; only the bytes around them are looked at one by one.
void KTXmlText::append(QString* document, QByteArrayView utf8)
{
    const char* position = utf8.data();
    const char* const end = position + utf8.size();
    while (position < end) {
        const char* run = position;
        while (position < end && isPlainAscii(uchar(*position)))
            ++position;
        if (position > run)
            document->append(QLatin1StringView(run, position - run));
        run = position;
        while (position < end && uchar(*position) >= 0x80)
            ++position;
        if (position > run) {
            appendDecoded(document, QByteArrayView(run, position - run));
            continue;
        }
        if (position < end) {
            if (const char* replacement = entity(uchar(*position)))
                document->append(QLatin1StringView(replacement));
            ++position;
        }
    }
}
