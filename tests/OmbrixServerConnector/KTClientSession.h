#ifndef KTCLIENTSESSION_H
#define KTCLIENTSESSION_H

#include <KTProtocolClient.h>

#include <QTest>
#include <QThread>

#include <atomic>
#include <utility>

// A protocol client on a thread of its own. The client blocks while it
// waits, and the server under test runs in the test's thread: every call
// therefore keeps the test's event loop turning until the client is done.
class KTClientSession
{
public:
    KTClientSession();
    ~KTClientSession();
    KTClientSession(const KTClientSession&) = delete;
    KTClientSession& operator=(const KTClientSession&) = delete;

    // Later connections are encrypted, trusting caFile (or, insecure, any certificate).
    bool useTls(const QString& caFile, bool insecure = false);
    // Connects, negotiates and logs in with the password component.
    bool logIn(quint16 port, const QString& login, const QString& password);
    // Sends a document and returns its first reply; empty when none came in time.
    QString request(const QString& xml, int timeoutMs = 15000);
    // Sends a document without waiting for anything.
    bool send(const QString& xml);
    // Every frame received until none has arrived for idleMs.
    QStringList replies(int idleMs = 400);
    // Reports the client object as active, so that broadcasts reach this session.
    bool activate(const QString& objectName);

    // Runs work(client) on the client's thread and returns its result.
    template <class Work>
    auto run(Work work) -> decltype(work(std::declval<KTProtocolClient&>()))
    {
        using Result = decltype(work(std::declval<KTProtocolClient&>()));
        Result result{};
        std::atomic<bool> done{false};
        QMetaObject::invokeMethod(_client, [&] {
            result = work(*_client);
            done = true;
        }, Qt::QueuedConnection);
        // The work refers to this frame: wait for it however long it takes.
        while (!done)
            QTest::qWait(2);
        return result;
    }

private:
    QThread _thread;
    KTProtocolClient* _client;
};

#endif
