#ifndef KTEVENTSINK_H
#define KTEVENTSINK_H

#include "KTEvent.h"

// Where events are written as they happen, from whichever thread has one:
// an implementation serialises its own writes.
class KTEventSink
{
public:
    virtual void writeEvent(const KTEvent& event) = 0;

protected:
    ~KTEventSink() = default;
};

#endif
