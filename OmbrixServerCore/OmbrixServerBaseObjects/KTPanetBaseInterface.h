#ifndef KTPANETBASEINTERFACE_H
#define KTPANETBASEINTERFACE_H

#include <QIcon>
#include <QObject>
#include <QString>

// Panel page plug-in contract. The declaration order is the binary contract
// between the control panel and the plug-ins: append, never reorder.
class KTPanetBaseInterface
{
public:
    virtual QString areaLabel() = 0;
    virtual QString areaName() = 0;
    virtual QIcon icon() = 0;
    virtual QString label() = 0;
    virtual QString name() = 0;
    virtual void setup() = 0;
    virtual void setEmitterObject(QObject* emitter) = 0;

protected:
    ~KTPanetBaseInterface() = default;
};

#define KTPanetBaseInterface_iid "Ombrix.KTPanetBaseInterface/1.0.0"
Q_DECLARE_INTERFACE(KTPanetBaseInterface, KTPanetBaseInterface_iid)

#endif
