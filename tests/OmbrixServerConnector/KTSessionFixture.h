#ifndef KTSESSIONFIXTURE_H
#define KTSESSIONFIXTURE_H

#include "KTClientSession.h"
#include "KTStatisticsWindow.h"
#include "KTTestServer.h"

#include <QTemporaryDir>

#include <memory>

class KTDatabaseController;

// A server over a fresh copy of the installation's database with two users
// logged in: admin (an administrator) and cmendez (a normal user). The
// statistics the server publishes reach the panel facade, as in the product.
class KTSessionFixture
{
public:
    KTSessionFixture();
    ~KTSessionFixture();

    // systemObjects names the components the connections load; extraSercoms
    // are plug-in files staged next to the installation's own.
    bool start(const QString& dbName, const QString& systemObjects, const QStringList& extraSercoms = {});

    KTDatabaseController* controller() const { return _controller.get(); }
    KTTestServer& server() const { return *_server; }
    KTStatisticsWindow& window() const { return *_window; }
    KTClientSession& admin() const { return *_admin; }
    KTClientSession& carla() const { return *_carla; }

    // First column of the first row of sql, as text; a null string when there is none.
    QString value(const QString& sql) const;
    int count(const QString& sql) const;
    static KTProtocolClient::Action action(const QString& component, const KTProtocolClient::Parameters& params,
                                           const QString& objectType = QStringLiteral("Component"),
                                           const QString& objectName = QStringLiteral("ComponentOrder"));
    // Table name to the modifiers vector of every statistics delta a spy on
    // the connector's updateTableRecordDataModelRequested has seen.
    static QMap<QString, QList<int> > deltas(const QSignalSpy& spy);
    // The texts of every element named tag in xml, in document order.
    static QStringList elements(const QString& xml, const QString& tag);
    // Throws away whatever either client still has to receive.
    void drain();

private:
    std::unique_ptr<KTStatisticsWindow> _window;
    std::unique_ptr<KTDatabaseController> _controller;
    QTemporaryDir _app;
    std::unique_ptr<KTTestServer> _server;
    std::unique_ptr<KTClientSession> _admin;
    std::unique_ptr<KTClientSession> _carla;
};

#endif
