#ifndef KTCONNECTSTORM_H
#define KTCONNECTSTORM_H

#include "KTLatencyStats.h"

#include <QtGlobal>

// An office arriving in the morning: users connect and negotiate from one
// address, then all send their logins at the same moment. Measures how long
// each waits for its answer and how long until the last one is in.
class KTConnectStorm
{
public:
    struct Result {
        KTLatencyStats latency;
        double allInMs = 0;
        int failures = 0;
    };

    // Users are the benchmark's userLogin(firstUser) onwards.
    static Result run(quint16 port, int users, int firstUser);
};

#endif
