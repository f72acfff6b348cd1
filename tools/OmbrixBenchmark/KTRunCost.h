#ifndef KTRUNCOST_H
#define KTRUNCOST_H

#include "KTProcessUsage.h"

#include <QtGlobal>

// The CPU a measured run cost the panel, MariaDB and the benchmark itself,
// and the panel's context switches: each process is read when the run's
// clock starts and when its last step ends.
class KTRunCost
{
public:
    KTRunCost(qint64 panelPid, qint64 databasePid);

    void start();
    void stop();

    // Per request; -1 when a process could not be read.
    double panelMicroseconds(int requests) const;
    double databaseMicroseconds(int requests) const;
    double benchmarkMicroseconds(int requests) const;
    double panelContextSwitches(int requests) const;

private:
    struct Watched {
        qint64 pid = 0;
        KTProcessUsage before;
        KTProcessUsage after;
    };
    static void read(Watched& watched, bool atStart);
    static double perRequest(qint64 before, qint64 after, int requests);

    Watched _panel;
    Watched _database;
    Watched _benchmark;
};

#endif
