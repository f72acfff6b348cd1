#ifndef ENDPAGE_H
#define ENDPAGE_H

#include <QWizardPage>

// The wizard's last page, before the settings are written.
class EndPage : public QWizardPage
{
    Q_OBJECT
public:
    explicit EndPage(QWidget* parent = nullptr);

    int nextId() const override { return -1; }
};

#endif
