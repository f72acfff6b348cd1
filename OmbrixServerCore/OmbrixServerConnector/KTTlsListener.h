#ifndef KTTLSLISTENER_H
#define KTTLSLISTENER_H

#include <QTcpServer>

// The encrypted port. It only accepts: each descriptor goes to the
// connector, which serves it as any other connection and has its own
// thread do the handshake.
class KTTlsListener : public QTcpServer
{
    Q_OBJECT
public:
    using QTcpServer::QTcpServer;

Q_SIGNALS:
    void accepted(qintptr socketDescriptor);

protected:
    void incomingConnection(qintptr socketDescriptor) override { emit accepted(socketDescriptor); }
};

#endif
