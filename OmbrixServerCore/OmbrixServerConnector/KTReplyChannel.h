#ifndef KTREPLYCHANNEL_H
#define KTREPLYCHANNEL_H

#include "KTSharedFrame.h"

#include <QString>
#include <QtGlobal>

// What a connection's handlers may ask of the connection they serve: write a
// reply, wait for the client to take what is pending, learn whether the
// client is still there, and ask for the connection to close. Only the
// connection itself closes; a handler never does.
class KTReplyChannel
{
public:
    // What the connection monitor records a reply as.
    enum Role { NegotiationAction = 0, UpdateAction = 1, AuthenticationAction = 2, RequestAction = 3 };

    virtual ~KTReplyChannel() = default;
    // A reply at the connection's negotiated compression level.
    virtual void writeReply(const QString& text, const QString& messageToPanel, int role) = 0;
    // A reply other connections may write too, at this connection's level.
    virtual void writeShared(const KTSharedFramePointer& frame, const QString& messageToPanel, int role) = 0;
    // What the connection has written so far, framed.
    virtual qint64 bytesSent() const = 0;
    virtual void waitForBacklog() = 0;
    virtual bool peerGone() = 0;
    virtual void requestClose() = 0;
    virtual qintptr descriptor() const = 0;
};

#endif
