#ifndef TESTAUTHCOM_H
#define TESTAUTHCOM_H

#include <KTAuthcomBase.h>
#include <KTDatabaseController.h>

class TestAuthcom : public KTAuthcomBase
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID KTAuthcomBaseInterface_iid)
    Q_INTERFACES(KTAuthcomBaseInterface)
public:
    QString authenticate(const QMap<QString, QString>& params) override;
    KTAuthcomBase* createInstance() override { return new TestAuthcom; }
    QString label() override { return QStringLiteral("Autenticación de prueba"); }
    QString name() override { return QStringLiteral("TestAuthcom"); }
    void log(const QString&, const QString&, const QString&, const QString&, const QString&,
             const QString&, const QString&) override {}
    void postSetup() override {}

public Q_SLOTS:
    // Components receive their connection's controller through this slot.
    void setDbController(KTDatabaseController*) {}
};

#endif
