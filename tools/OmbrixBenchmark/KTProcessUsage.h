#ifndef KTPROCESSUSAGE_H
#define KTPROCESSUSAGE_H

#include <QByteArray>
#include <QtGlobal>

// What the kernel has charged one process so far: CPU time (user and
// system, every thread's, living or ended) and the context switches of its
// living threads. Read before and after a run, the difference is what the
// run cost that process.
class KTProcessUsage
{
public:
    qint64 cpuMicroseconds = -1;
    qint64 contextSwitches = -1;

    bool isValid() const { return cpuMicroseconds >= 0; }
    static KTProcessUsage of(qint64 pid);

    // The parts of /proc/<pid>/stat and /proc/<pid>/task/<tid>/status read
    // here; -1 when the text is not what the kernel writes.
    static qint64 cpuTicksFromStat(const QByteArray& stat);
    static qint64 contextSwitchesFromStatus(const QByteArray& status);
};

#endif
