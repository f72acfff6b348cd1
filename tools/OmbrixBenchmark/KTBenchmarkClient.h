#ifndef KTBENCHMARKCLIENT_H
#define KTBENCHMARKCLIENT_H

#include <KTProtocolClient.h>

// One desktop client as the benchmark plays it: it negotiates with the
// benchmark's company, logs in and sends requests one
// at a time. Blocking; used from the thread that created it.
// Logs in as login with the administrator's password.
class KTBenchmarkClient
{
public:
    // With tls, over TLS, taking the run's self-signed certificate unchecked.
    KTBenchmarkClient(quint16 port, const QString& login, bool tls = false);

    bool connectAndNegotiate();
    bool logIn();
    // The login alone, on a connection that has negotiated.
    bool authenticate();
    // The reply, empty when none came. With a marker, frames without it (the
    // replies to other clients' changes that the server pushes) are skipped.
    QString request(const QString& xml, const QString& marker = QString());
    bool activate(const QString& objectName);
    // Sends without waiting, and waits for a frame carrying marker (a push).
    bool send(const QString& xml);
    bool waitFor(const QString& marker);
    void disconnect();

private:
    quint16 _port;
    QString _login;
    KTProtocolClient _client;
};

#endif
