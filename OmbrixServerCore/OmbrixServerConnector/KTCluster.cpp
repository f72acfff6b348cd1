#include "KTCluster.h"

#include "KTClusterBroker.h"
#include "KTServerConnector.h"

#include <QHostInfo>
#include <QUuid>

KTCluster::KTCluster(const KTBrokerAddress& address, const QString& instanceName, const QString& channel,
                     QObject* parent)
    : QObject(parent)
    , _instanceName(instanceName)
    , _broker(new KTClusterBroker(address, instanceName + QLatin1Char('#')
                                      + QUuid::createUuid().toString(QUuid::Id128).left(8), channel))
{
    _thread.setObjectName(QStringLiteral("KTClusterBroker"));
    _broker->moveToThread(&_thread);
    connect(&_thread, &QThread::finished, _broker, &QObject::deleteLater);
    connect(_broker, &KTClusterBroker::eventMessage, this, &KTCluster::eventMessage);
    connect(_broker, &KTClusterBroker::stateChanged, this, [this](bool up) {
        _up = up;
        emit stateChanged(up);
    });
}

KTCluster::~KTCluster()
{
    if (_thread.isRunning()) {
        QMetaObject::invokeMethod(_broker, &KTClusterBroker::stop, Qt::BlockingQueuedConnection);
        _thread.quit();
        _thread.wait();
    } else {
        delete _broker;
    }
}

QString KTCluster::defaultInstanceName(const QString& serverPort)
{
    return QHostInfo::localHostName() + QLatin1Char(':') + serverPort;
}

void KTCluster::attach(KTServerConnector* connector)
{
    connect(connector, &KTServerConnector::pushPublished, _broker, &KTClusterBroker::publishPush);
    connect(connector, &KTServerConnector::userLoggedIn, _broker, &KTClusterBroker::registerLogin);
    connect(connector, &KTServerConnector::userLoggedOut, _broker, &KTClusterBroker::unregisterLogin);
    connect(_broker, &KTClusterBroker::pushReceived, connector, &KTServerConnector::deliverRemotePush);
    connect(_broker, &KTClusterBroker::closeSessionRequested, connector, &KTServerConnector::closeSession);
}

void KTCluster::start()
{
    _thread.start();
    QMetaObject::invokeMethod(_broker, &KTClusterBroker::start, Qt::QueuedConnection);
}
