#ifndef KTSTATISTICSWINDOW_H
#define KTSTATISTICSWINDOW_H

#include <KTMainWindow.h>

#include <QMap>
#include <QMutex>

// The control panel as far as the table statistics go: the main controller
// publishes them here and connection threads read them, as in the panel.
class KTStatisticsWindow : public KTMainWindow
{
public:
    QList<quint64> tableMainStats(const QString& tableName) override
    {
        QMutexLocker locker(&_mutex);
        return _stats.value(tableName);
    }
    void clearTableMainStats() override
    {
        QMutexLocker locker(&_mutex);
        _stats.clear();
    }
    void setTableMainStats(const QString& tableName, QList<quint64> stats) override
    {
        QMutexLocker locker(&_mutex);
        _stats.insert(tableName, stats);
    }

private:
    QMutex _mutex;
    QMap<QString, QList<quint64> > _stats;
};

#endif
