#ifndef KTSERVICENOTIFIER_H
#define KTSERVICENOTIFIER_H

#include <QObject>
#include <QString>

class QTimer;

// What systemd learns of the server through its notification socket: that
// it is ready (the port open), a status line for `systemctl status`, that it
// is stopping, and that its main thread still runs (the watchdog). Outside a
// unit of Type=notify every call does nothing.
class KTServiceNotifier : public QObject
{
    Q_OBJECT
public:
    explicit KTServiceNotifier(QObject* parent = nullptr);

    // Keep-alives at half the interval the unit's WatchdogSec= asks for. A
    // timer of this thread sends them, so that a main thread that hangs stops them.
    void startWatchdog();
    void ready();
    // Sent only when it changes.
    void setStatus(const QString& status);
    void stopping();

private:
    void notify(const QString& state);

    QTimer* _watchdog = nullptr;
    QString _status;
};

#endif
