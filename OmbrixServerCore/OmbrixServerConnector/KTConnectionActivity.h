#ifndef KTCONNECTIONACTIVITY_H
#define KTCONNECTIONACTIVITY_H

#include <QMutex>
#include <QString>

// The last frame a connection wrote, as the connection monitor shows it.
// The connection's thread records every frame; the main thread reads it a
// few times a second rather than hearing of each one.
class KTConnectionActivity
{
public:
    struct Frame {
        QString user;
        QString address;
        QString mac;
        qint64 msecsSinceEpoch = 0;
        int role = 0;
        quint64 bytes = 0;
        QString message;
    };

    void record(const Frame& frame);
    // The last frame, if one came since the last call; false otherwise.
    bool takeChange(Frame* frame);
    Frame latest() const;

private:
    mutable QMutex _mutex;
    Frame _frame;
    bool _changed = false;
};

#endif
