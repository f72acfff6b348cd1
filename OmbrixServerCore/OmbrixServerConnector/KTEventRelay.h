#ifndef KTEVENTRELAY_H
#define KTEVENTRELAY_H

#include <KTEvent.h>

#include <QList>
#include <QMutex>
#include <QObject>

class KTEventSink;

// The connections' events on their way to the log. Each is written to the
// sink at once on the thread that reports it, and handed to this object's
// own thread in batches: one wake-up carries every event reported while the
// previous batch waited, so a busy server does not queue a call per event.
class KTEventRelay : public QObject
{
    Q_OBJECT
public:
    // Past this many events waiting for display, further ones are only
    // written to the sink; the batch then says how many were left out.
    static constexpr int maxPending = 5000;

    explicit KTEventRelay(QObject* parent = nullptr) : QObject(parent) {}

    // Set before any connection reports; the sink outlives the relay's users.
    void setSink(KTEventSink* sink) { _sink = sink; }

public Q_SLOTS:
    // Safe from any thread.
    void post(const QString& message, int type, const QString& objectLocation);

Q_SIGNALS:
    void eventsPosted(const QList<KTEvent>& events);

private Q_SLOTS:
    void flush();

private:
    KTEventSink* _sink = nullptr;
    QMutex _mutex;
    QList<KTEvent> _pending;
    int _dropped = 0;
};

#endif
