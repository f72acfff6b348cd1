#ifndef KTSIGNALWATCHER_H
#define KTSIGNALWATCHER_H

#include <QList>
#include <QObject>

class QSocketNotifier;

// Turns the operating system's stop signals into a Qt signal on the thread
// that created the watcher. The handler only writes the signal number into a
// socket pair, the one thing a signal handler may safely do; the event loop
// reads it back.
class KTSignalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit KTSignalWatcher(const QList<int>& signalNumbers, QObject* parent = nullptr);
    ~KTSignalWatcher() override;

Q_SIGNALS:
    void signalReceived(int signalNumber);

private:
    static void handle(int signalNumber);
    void readSignal();

    // A signal handler can reach nothing but a static: the socket it writes to.
    static int _writeSocket;
    int _readSocket = -1;
    QList<int> _signalNumbers;
    QSocketNotifier* _notifier = nullptr;
};

#endif
