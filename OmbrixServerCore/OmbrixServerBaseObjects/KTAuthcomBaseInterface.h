#ifndef KTAUTHCOMBASEINTERFACE_H
#define KTAUTHCOMBASEINTERFACE_H

#include <QMap>
#include <QObject>
#include <QString>

// Authentication component contract; declaration order is the binary contract.
class KTAuthcomBaseInterface
{
public:
    virtual bool authenticated() = 0;
    virtual QString authenticate(const QMap<QString, QString>& params) = 0;
    virtual QString label() = 0;
    virtual QString lastMessage() = 0;
    virtual QString name() = 0;
    virtual QString user() = 0;
    virtual QString userCod() = 0;
    virtual void postSetup() = 0;
    virtual void setup(int connectionID) = 0;
    virtual void log(const QString& user, const QString& objectType, const QString& objectKey,
                     const QString& actionKey, const QString& date, const QString& time,
                     const QString& key) = 0;

protected:
    ~KTAuthcomBaseInterface() = default;
};

#define KTAuthcomBaseInterface_iid "Ombrix.KTAuthcomBaseInterface/1.0.0"
Q_DECLARE_INTERFACE(KTAuthcomBaseInterface, KTAuthcomBaseInterface_iid)

#endif
