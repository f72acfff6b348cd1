#include "KTRunCost.h"

#include <unistd.h>

KTRunCost::KTRunCost(qint64 panelPid, qint64 databasePid)
{
    _panel.pid = panelPid;
    _database.pid = databasePid;
    _benchmark.pid = getpid();
}

void KTRunCost::read(Watched& watched, bool atStart)
{
    (atStart ? watched.before : watched.after) = KTProcessUsage::of(watched.pid);
}

void KTRunCost::start()
{
    for (Watched* watched : {&_panel, &_database, &_benchmark})
        read(*watched, true);
}

void KTRunCost::stop()
{
    for (Watched* watched : {&_panel, &_database, &_benchmark})
        read(*watched, false);
}

double KTRunCost::perRequest(qint64 before, qint64 after, int requests)
{
    return before < 0 || after < 0 || requests <= 0 ? -1 : double(after - before) / requests;
}

double KTRunCost::panelMicroseconds(int requests) const
{
    return perRequest(_panel.before.cpuMicroseconds, _panel.after.cpuMicroseconds, requests);
}

double KTRunCost::databaseMicroseconds(int requests) const
{
    return perRequest(_database.before.cpuMicroseconds, _database.after.cpuMicroseconds, requests);
}

double KTRunCost::benchmarkMicroseconds(int requests) const
{
    return perRequest(_benchmark.before.cpuMicroseconds, _benchmark.after.cpuMicroseconds, requests);
}

double KTRunCost::panelContextSwitches(int requests) const
{
    return perRequest(_panel.before.contextSwitches, _panel.after.contextSwitches, requests);
}
