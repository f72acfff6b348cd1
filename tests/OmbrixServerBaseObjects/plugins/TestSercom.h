#ifndef TESTSERCOM_H
#define TESTSERCOM_H

#include <KTSercomBase.h>
#include <KTDatabaseController.h>

// A server component that records in the connection's shared maps what it was asked.
class TestSercom : public KTSercomBase
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID KTSercomBaseInterface_iid)
    Q_INTERFACES(KTSercomBaseInterface)
public:
    KTSercomBase* createInstance() override { return new TestSercom; }
    bool broadcast() override { return false; }
    QString processRequest(const QMultiMap<QString, QString>& params) override;
    QString label() override { return QStringLiteral("Componente de prueba"); }
    QString name() override { return QStringLiteral("TestSercom"); }
    void log(const QString&, const QString&, const QString&, const QString&, const QString&,
             const QString&, const QString&) override {}
    void postSetup() override {}

public Q_SLOTS:
    // Components receive their connection's controller through this slot.
    void setDbController(KTDatabaseController*) {}

    // Lets the test look at what setup() stored.
    Q_INVOKABLE int connectionID() const { return _connectionID; }
    Q_INVOKABLE QString seenUser() const { return _user; }
};

#endif
