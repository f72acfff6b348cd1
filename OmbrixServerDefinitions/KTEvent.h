#ifndef KTEVENT_H
#define KTEVENT_H

#include <QList>
#include <QMetaType>
#include <QString>

// One event for the log: what happened, how grave (KT::MessageType), which
// object reported it, and when.
struct KTEvent
{
    QString message;
    int type = 0;
    QString location;
    qint64 msecsSinceEpoch = 0;
};

Q_DECLARE_METATYPE(KTEvent)

#endif
