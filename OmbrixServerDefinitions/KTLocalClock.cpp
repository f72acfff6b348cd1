#include "KTLocalClock.h"

#include <atomic>

namespace {

// The minute and its offset in one value, so that no thread reads one
// without the other.
constexpr qint64 offsetSpan = qint64(1) << 18;
std::atomic<qint64> cached{-1};

int offsetAt(qint64 msecsSinceEpoch)
{
    const qint64 minute = msecsSinceEpoch / 60000;
    const qint64 value = cached.load(std::memory_order_relaxed);
    if (value >= 0 && value / offsetSpan == minute)
        return int(value % offsetSpan - offsetSpan / 2);
    const int offset = QDateTime::fromMSecsSinceEpoch(minute * 60000).offsetFromUtc();
    cached.store(minute * offsetSpan + offset + offsetSpan / 2, std::memory_order_relaxed);
    return offset;
}

} // namespace

QDateTime KTLocalClock::now()
{
    return at(QDateTime::currentMSecsSinceEpoch());
}

QDateTime KTLocalClock::at(qint64 msecsSinceEpoch)
{
    return QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch, Qt::OffsetFromUTC, offsetAt(msecsSinceEpoch));
}
