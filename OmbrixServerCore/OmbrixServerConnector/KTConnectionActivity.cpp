#include "KTConnectionActivity.h"

#include <QMutexLocker>

void KTConnectionActivity::record(const Frame& frame)
{
    QMutexLocker locker(&_mutex);
    _frame = frame;
    _changed = true;
}

bool KTConnectionActivity::takeChange(Frame* frame)
{
    QMutexLocker locker(&_mutex);
    if (!_changed)
        return false;
    *frame = _frame;
    _changed = false;
    return true;
}

KTConnectionActivity::Frame KTConnectionActivity::latest() const
{
    QMutexLocker locker(&_mutex);
    return _frame;
}
