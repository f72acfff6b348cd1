#ifndef KTSERVERMETRICS_H
#define KTSERVERMETRICS_H

#include <QList>
#include <QMap>
#include <QMutex>
#include <QString>

// What the server has done since it started, counted for the status
// endpoint. Connection threads record one request each, the main thread
// records reconnections and scheduled deliveries and reads a snapshot; one
// lock keeps a snapshot consistent (a request is counted in every total or
// in none).
class KTServerMetrics
{
public:
    struct ComponentCounts {
        quint64 requests = 0;
        quint64 failures = 0;
    };

    struct Snapshot {
        QMap<QString, ComponentCounts> components;
        quint64 requests = 0;
        quint64 replyBytes = 0;
        // Requests whose time was at most each of latencyBounds(), in
        // order; each count includes the ones before it.
        QList<quint64> latencyBuckets;
        qint64 latencySumMicros = 0;
        quint64 reconnects = 0;
        quint64 scheduledDeliveries = 0;
        // The updater's last state: 0 idle, 1 checking, 2 nothing newer,
        // 3 downloading, 4 installing.
        int updateState = 0;
    };

    // Components counted apart; the names come from clients' requests, so
    // the ones past this many share otherComponents.
    static constexpr int maxComponents = 64;
    static const QString otherComponents;

    KTServerMetrics();

    // One request answered: the component that served it (empty for
    // requests that name none), whether it succeeded, the bytes of its reply
    // and how long it took.
    void recordRequest(const QString& component, bool ok, qint64 replyBytes, qint64 micros);
    // The panel's database connection came back after it was lost.
    void recordReconnect();
    // One scheduled message handed to its recipient.
    void recordScheduledDelivery();
    void setUpdateState(int state);

    Snapshot snapshot() const;

    // Upper bounds of the latency buckets, in microseconds.
    static const QList<qint64>& latencyBounds();

private:
    mutable QMutex _mutex;
    Snapshot _counts;
};

#endif
