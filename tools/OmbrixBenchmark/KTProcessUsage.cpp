#include "KTProcessUsage.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

namespace {

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

qint64 fieldValue(const QByteArray& status, const QByteArray& key)
{
    for (const QByteArray& line : status.split('\n'))
        if (line.startsWith(key)) {
            bool ok = false;
            const qint64 value = line.mid(key.size()).trimmed().toLongLong(&ok);
            return ok ? value : -1;
        }
    return -1;
}

} // namespace

// The process name (field 2) is in parentheses and may itself hold spaces and
// parentheses, so the fields are counted from the last ')'; utime and stime
// are fields 14 and 15.
qint64 KTProcessUsage::cpuTicksFromStat(const QByteArray& stat)
{
    const qsizetype nameEnd = stat.lastIndexOf(')');
    if (nameEnd < 0)
        return -1;
    const QList<QByteArray> fields = stat.mid(nameEnd + 1).simplified().split(' ');
    // fields[0] is field 3 (the state).
    constexpr int utime = 14 - 3;
    constexpr int stime = 15 - 3;
    if (fields.size() <= stime)
        return -1;
    bool userOk = false;
    bool systemOk = false;
    const qint64 ticks = fields.at(utime).toLongLong(&userOk) + fields.at(stime).toLongLong(&systemOk);
    return userOk && systemOk ? ticks : -1;
}

qint64 KTProcessUsage::contextSwitchesFromStatus(const QByteArray& status)
{
    const qint64 voluntary = fieldValue(status, "voluntary_ctxt_switches:");
    const qint64 forced = fieldValue(status, "nonvoluntary_ctxt_switches:");
    return voluntary < 0 || forced < 0 ? -1 : voluntary + forced;
}

// A process's status counts the switches of its first thread only: the
// others are summed from its task folder.
KTProcessUsage KTProcessUsage::of(qint64 pid)
{
    KTProcessUsage usage;
    if (pid <= 0)
        return usage;
    const QString folder = QStringLiteral("/proc/%1").arg(pid);
    const qint64 ticks = cpuTicksFromStat(contents(folder + QStringLiteral("/stat")));
    if (ticks < 0)
        return usage;
    usage.cpuMicroseconds = ticks * 1000000 / sysconf(_SC_CLK_TCK);
    qint64 switches = 0;
    const QDir tasks(folder + QStringLiteral("/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        switches += qMax<qint64>(0, contextSwitchesFromStatus(contents(tasks.filePath(task) + QStringLiteral("/status"))));
    usage.contextSwitches = switches;
    return usage;
}
