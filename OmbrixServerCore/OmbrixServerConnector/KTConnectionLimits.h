#ifndef KTCONNECTIONLIMITS_H
#define KTCONNECTIONLIMITS_H

#include <QtGlobal>

// What one client connection may cost, handed from the connector to each
// connection. Until a client has shown the company password, and again until
// it has logged in, it may send only small documents: whoever merely reaches
// the port cannot make the server inflate, hold or parse much on its behalf.
struct KTConnectionLimits
{
    static constexpr qint64 beforeNegotiationFrameSize = 64 * 1024;
    static constexpr qint64 beforeLoginFrameSize = 1024 * 1024;
    static constexpr qint64 defaultMaxFrameSize = qint64(64) * 1024 * 1024;
    static constexpr qint64 defaultMaxPendingBytes = qint64(64) * 1024 * 1024;
    static constexpr int defaultNegotiationTimeoutMs = 30000;
    static constexpr int defaultFrameTimeoutMs = 30000;
    static constexpr int defaultStatementSeconds = 10;
    static constexpr int defaultLockWaitSeconds = 10;
    static constexpr int defaultRequestSeconds = 30;

    // Largest frame a logged-in client may announce or inflate to.
    qint64 maxFrameSize = defaultMaxFrameSize;
    // Unsent bytes a client may leave behind before it is disconnected.
    qint64 maxPendingBytes = defaultMaxPendingBytes;
    // A connection that has not negotiated by then is closed.
    int negotiationTimeoutMs = defaultNegotiationTimeoutMs;
    // A frame whose first byte has arrived must be whole by then.
    int frameTimeoutMs = defaultFrameTimeoutMs;
    // How long one statement of a client may run, and wait for a lock.
    int statementSeconds = defaultStatementSeconds;
    int lockWaitSeconds = defaultLockWaitSeconds;
    // How long one whole request may run, with all its statements (and the
    // table locks it may hold meanwhile).
    int requestSeconds = defaultRequestSeconds;
};

#endif
