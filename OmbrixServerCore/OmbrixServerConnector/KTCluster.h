#ifndef KTCLUSTER_H
#define KTCLUSTER_H

#include "KTBrokerAddress.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>

class KTClusterBroker;
class KTServerConnector;

// The main thread's handle on the broker link: it starts the link on a
// thread of its own, ties it to the connector (pushes, sessions) and keeps
// its state for whoever asks. Only created when a broker is configured.
class KTCluster : public QObject
{
    Q_OBJECT
public:
    // instanceName names this instance in the log and the broker; each run
    // adds a suffix of its own, so that a restarted instance is a new origin.
    KTCluster(const KTBrokerAddress& address, const QString& instanceName, const QString& channel,
              QObject* parent = nullptr);
    ~KTCluster() override;

    // The default name: this host and the port it serves.
    static QString defaultInstanceName(const QString& serverPort);

    void attach(KTServerConnector* connector);
    void start();
    KTClusterBroker* broker() const { return _broker; }
    bool brokerUp() const { return _up; }
    QString instanceName() const { return _instanceName; }

Q_SIGNALS:
    void stateChanged(bool up);
    void eventMessage(QString message, int type, QString objectLocation);

private:
    QString _instanceName;
    QThread _thread;
    KTClusterBroker* _broker;
    std::atomic<bool> _up{false};
};

#endif
