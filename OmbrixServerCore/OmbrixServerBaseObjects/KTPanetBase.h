#ifndef KTPANETBASE_H
#define KTPANETBASE_H

#include "KTPanetBaseInterface.h"

#include <QWidget>

// A page of the control panel. The panel hands over the object whose signals
// the page shows (the main window) before it calls setup().
class KTPanetBase : public QWidget, public KTPanetBaseInterface
{
    Q_OBJECT
    Q_INTERFACES(KTPanetBaseInterface)
public:
    explicit KTPanetBase(QWidget* parent = nullptr);

public Q_SLOTS:
    QString areaLabel() override = 0;
    QString areaName() override = 0;
    QIcon icon() override = 0;
    QString label() override = 0;
    QString name() override = 0;
    void setup() override = 0;
    void setEmitterObject(QObject* emitter) override = 0;

protected:
    QObject* _emitter = nullptr;
};

#endif
