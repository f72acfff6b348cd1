#ifndef KTSTATUSENDPOINT_H
#define KTSTATUSENDPOINT_H

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>

class KTCluster;
class KTDatabaseController;
class KTServerConnector;
class QHttpServer;
class QHttpServerRequest;
class QHttpServerResponse;
class QTcpServer;

// A small HTTP server for whoever watches the service without a display:
// /health (is it serving), /metrics (Prometheus) and /connections (JSON),
// read only with GET. It shows counts, names and addresses, never a
// password, key or client frame.
class KTStatusEndpoint : public QObject
{
    Q_OBJECT
public:
    KTStatusEndpoint(KTServerConnector* connector, const KTDatabaseController* database, QObject* parent = nullptr);
    ~KTStatusEndpoint() override;

    // False when the port cannot be opened; errorString() says why.
    bool start(const QHostAddress& address, quint16 port);
    void stop();
    bool isListening() const;
    // An instance of several shows its broker link too.
    void setCluster(const KTCluster* cluster) { _cluster = cluster; }
    QString errorString() const { return _error; }

private:
    QHttpServerResponse answer(const QHttpServerRequest& request, QHttpServerResponse (KTStatusEndpoint::*page)() const) const;
    QString portsText() const;
    QHttpServerResponse health() const;
    QHttpServerResponse metrics() const;
    QHttpServerResponse connections() const;
    bool databaseAnswers() const;
    QString brokerText() const;

    KTServerConnector* _connector;
    const KTDatabaseController* _database;
    const KTCluster* _cluster = nullptr;
    QHttpServer* _http = nullptr;
    QPointer<QTcpServer> _tcp;
    QString _error;
};

#endif
