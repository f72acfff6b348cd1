#include "KTStartupWait.h"

#include <QTimer>

KTStartupWait::KTStartupWait(QObject* parent)
    : QObject(parent)
    , _retry(new QTimer(this))
    , _deadline(new QTimer(this))
{
    _deadline->setSingleShot(true);
    connect(_retry, &QTimer::timeout, this, &KTStartupWait::retry);
    connect(_deadline, &QTimer::timeout, this, &KTStartupWait::deadlinePassed);
}

void KTStartupWait::setInterval(int ms)
{
    _retry->setInterval(ms);
}

void KTStartupWait::setDeadline(int ms)
{
    _deadline->setInterval(ms);
}

int KTStartupWait::deadline() const
{
    return _deadline->interval();
}

void KTStartupWait::start()
{
    if (_deadline->interval() > 0)
        _deadline->start();
}

void KTStartupWait::waitForDatabase()
{
    if (!_retry->isActive())
        _retry->start();
}

void KTStartupWait::databaseAnswered()
{
    _retry->stop();
}

void KTStartupWait::served()
{
    _retry->stop();
    _deadline->stop();
}

bool KTStartupWait::isWaiting() const
{
    return _retry->isActive();
}

bool KTStartupWait::reportsThisTry()
{
    if (_lastReport.isValid() && _lastReport.elapsed() < reportEveryMs)
        return false;
    _lastReport.start();
    return true;
}
