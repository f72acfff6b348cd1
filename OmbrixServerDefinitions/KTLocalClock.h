#ifndef KTLOCALCLOCK_H
#define KTLOCALCLOCK_H

#include <QDateTime>

// Local time for every frame and event without reading the time zone each
// call (Qt reads it from disk under a lock): the offset from UTC is looked up
// once a minute, which follows every daylight-saving change, and shared by
// all threads.
class KTLocalClock
{
public:
    static QDateTime now();
    static QDateTime at(qint64 msecsSinceEpoch);
};

#endif
