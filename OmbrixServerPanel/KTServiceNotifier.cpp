#include "KTServiceNotifier.h"

#include <QTimer>

#include <systemd/sd-daemon.h>

KTServiceNotifier::KTServiceNotifier(QObject* parent)
    : QObject(parent)
    , _watchdog(new QTimer(this))
{
    connect(_watchdog, &QTimer::timeout, this, [this] { notify(QStringLiteral("WATCHDOG=1")); });
}

void KTServiceNotifier::startWatchdog()
{
    uint64_t microseconds = 0;
    if (sd_watchdog_enabled(0, &microseconds) <= 0 || microseconds == 0)
        return;
    _watchdog->start(int(qMax<uint64_t>(microseconds / 2000, 1)));
    notify(QStringLiteral("WATCHDOG=1"));
}

void KTServiceNotifier::ready()
{
    notify(QStringLiteral("READY=1"));
}

void KTServiceNotifier::setStatus(const QString& status)
{
    if (status == _status)
        return;
    _status = status;
    notify(QStringLiteral("STATUS=") + status);
}

void KTServiceNotifier::stopping()
{
    _watchdog->stop();
    notify(QStringLiteral("STOPPING=1"));
}

void KTServiceNotifier::notify(const QString& state)
{
    sd_notify(0, state.toUtf8().constData());
}
