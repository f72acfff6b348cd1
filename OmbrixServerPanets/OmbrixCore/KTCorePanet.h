#ifndef KTCOREPANET_H
#define KTCOREPANET_H

#include <KTPanetBase.h>

#include <QList>
#include <QPointer>

class KTMainWindow;
class QTableView;

// A page of the panel's Core area. Its identity follows from its class name,
// and every Core page has the same frame: a row of tools that begins with the
// configuration button, and the page's body below it.
class KTCorePanet : public KTPanetBase
{
    Q_OBJECT
public:
    QString areaLabel() override;
    QString areaName() override;
    QIcon icon() override;
    QString label() override;
    QString name() override;
    void setEmitterObject(QObject* emitter) override;

protected:
    KTCorePanet(const QString& label, QWidget* parent);

    // Null without an emitter, when the emitter is no main window, and once it is gone.
    KTMainWindow* mainWindow() const;
    // The panel sets a page up once; a later setup() call finds the form built and leaves.
    bool formBuilt() const;
    void buildForm(const QString& configIcon, const QList<QWidget*>& tools, QWidget* body);
    // The Core pages' tables: a font of their own and the sort indicator shown.
    QTableView* createTableView(const QString& objectName, const QString& fontFamily);

private:
    QString _label;
    // Kept beside _emitter so that a page outliving the window does not call into it.
    QPointer<KTMainWindow> _mainWindow;
};

#endif
