#include "KTEventRelay.h"

#include <KT.h>
#include <KTEventSink.h>

#include <QDateTime>
#include <QMutexLocker>

void KTEventRelay::post(const QString& message, int type, const QString& objectLocation)
{
    const KTEvent event{message, type, objectLocation, QDateTime::currentMSecsSinceEpoch()};
    if (_sink)
        _sink->writeEvent(event);
    bool wake = false;
    {
        QMutexLocker locker(&_mutex);
        wake = _pending.isEmpty() && _dropped == 0;
        if (_pending.size() < maxPending)
            _pending.append(event);
        else
            ++_dropped;
    }
    if (wake)
        QMetaObject::invokeMethod(this, &KTEventRelay::flush, Qt::QueuedConnection);
}

void KTEventRelay::flush()
{
    QList<KTEvent> events;
    int dropped = 0;
    {
        QMutexLocker locker(&_mutex);
        events.swap(_pending);
        std::swap(dropped, _dropped);
    }
    if (dropped > 0)
        events.append({tr("%1 eventos más no se muestran aquí: están en el archivo de log").arg(dropped),
                       KT::WarningMessage, QStringLiteral("KTEventRelay::flush()"), QDateTime::currentMSecsSinceEpoch()});
    if (!events.isEmpty())
        emit eventsPosted(events);
}
