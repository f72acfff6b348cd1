#include "KTSharedFrame.h"

#include "KTFrame.h"

#include <QMutexLocker>

KTSharedFrame::KTSharedFrame(const QString& text)
    : _text(text)
{
}

QByteArray KTSharedFrame::frame(int level) const
{
    const int index = qBound(-1, level, 9) + 1;
    // Receivers at the same level wait for the first one's frame rather than encode their own.
    QMutexLocker locker(&_mutex);
    if (_frames[index].isNull())
        _frames[index] = KTFrame::encode(_text, level);
    return _frames[index];
}
