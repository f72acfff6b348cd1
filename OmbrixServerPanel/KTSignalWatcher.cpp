#include "KTSignalWatcher.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

int KTSignalWatcher::_writeSocket = -1;

KTSignalWatcher::KTSignalWatcher(const QList<int>& signalNumbers, QObject* parent)
    : QObject(parent)
    , _signalNumbers(signalNumbers)
{
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0)
        return;
    _writeSocket = sockets[0];
    _readSocket = sockets[1];
    _notifier = new QSocketNotifier(_readSocket, QSocketNotifier::Read, this);
    connect(_notifier, &QSocketNotifier::activated, this, &KTSignalWatcher::readSignal);

    struct sigaction action = {};
    action.sa_handler = &KTSignalWatcher::handle;
    sigemptyset(&action.sa_mask);
    // Interrupted system calls resume, so that the rest of the program never sees EINTR.
    action.sa_flags = SA_RESTART;
    for (int signalNumber : _signalNumbers)
        ::sigaction(signalNumber, &action, nullptr);
}

KTSignalWatcher::~KTSignalWatcher()
{
    for (int signalNumber : std::as_const(_signalNumbers))
        ::signal(signalNumber, SIG_DFL);
    if (_readSocket < 0)
        return;
    ::close(_writeSocket);
    ::close(_readSocket);
    _writeSocket = -1;
}

void KTSignalWatcher::handle(int signalNumber)
{
    const unsigned char number = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(_writeSocket, &number, 1);
}

void KTSignalWatcher::readSignal()
{
    unsigned char number = 0;
    if (::read(_readSocket, &number, 1) == 1)
        emit signalReceived(number);
}
