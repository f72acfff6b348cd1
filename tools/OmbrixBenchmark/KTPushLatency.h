#ifndef KTPUSHLATENCY_H
#define KTPUSHLATENCY_H

#include "KTLatencyStats.h"

#include <QString>

// How long an insert takes to reach another user who has the table open:
// from the moment the writer sends it until the listener holds the push.
// One insert at a time, so that each sample is one push's whole trip.
class KTPushLatency
{
public:
    // Writer and listener log in as the given users on the given ports
    // (the same port: one instance; two ports: across instances).
    static KTLatencyStats measure(quint16 writerPort, const QString& writer, quint16 listenerPort,
                                  const QString& listener, int samples, int* failures);
};

#endif
