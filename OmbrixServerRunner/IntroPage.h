#ifndef INTROPAGE_H
#define INTROPAGE_H

#include <QWizardPage>

// The wizard's welcome.
class IntroPage : public QWizardPage
{
    Q_OBJECT
public:
    explicit IntroPage(QWidget* parent = nullptr);
};

#endif
