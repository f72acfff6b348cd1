#include "KTServerMetrics.h"

#include <QMutexLocker>

const QString KTServerMetrics::otherComponents = QStringLiteral("(otros)");

KTServerMetrics::KTServerMetrics()
{
    _counts.latencyBuckets = QList<quint64>(latencyBounds().size(), 0);
}

const QList<qint64>& KTServerMetrics::latencyBounds()
{
    // From a cached select to a request that waits on a lock.
    static const QList<qint64> bounds{1000, 5000, 10000, 25000, 50000, 100000, 250000,
                                      500000, 1000000, 2500000, 5000000, 10000000};
    return bounds;
}

void KTServerMetrics::recordRequest(const QString& component, bool ok, qint64 replyBytes, qint64 micros)
{
    const QList<qint64>& bounds = latencyBounds();
    const qint64 elapsed = qMax<qint64>(micros, 0);
    QMutexLocker lock(&_mutex);
    const bool known = _counts.components.contains(component) || _counts.components.size() < maxComponents;
    ComponentCounts& counts = _counts.components[known ? component : otherComponents];
    ++counts.requests;
    if (!ok)
        ++counts.failures;
    ++_counts.requests;
    _counts.replyBytes += quint64(qMax<qint64>(replyBytes, 0));
    _counts.latencySumMicros += elapsed;
    for (int i = bounds.size() - 1; i >= 0 && elapsed <= bounds.at(i); --i)
        ++_counts.latencyBuckets[i];
}

void KTServerMetrics::recordReconnect()
{
    QMutexLocker lock(&_mutex);
    ++_counts.reconnects;
}

void KTServerMetrics::recordScheduledDelivery()
{
    QMutexLocker lock(&_mutex);
    ++_counts.scheduledDeliveries;
}

void KTServerMetrics::setUpdateState(int state)
{
    QMutexLocker lock(&_mutex);
    _counts.updateState = state;
}

KTServerMetrics::Snapshot KTServerMetrics::snapshot() const
{
    QMutexLocker lock(&_mutex);
    return _counts;
}
