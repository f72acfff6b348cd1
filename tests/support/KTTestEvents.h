#ifndef KTTESTEVENTS_H
#define KTTESTEVENTS_H

#include <QSignalSpy>
#include <QStringList>

// The message texts an eventMessage spy caught, in order.
inline QStringList eventTexts(const QSignalSpy& spy)
{
    QStringList messages;
    for (const QList<QVariant>& event : spy)
        messages << event.at(0).toString();
    return messages;
}

#endif
