#ifndef USERPAGE_H
#define USERPAGE_H

#include <QWizardPage>

class QLineEdit;

// The administrator's login and password, and the connection password that
// every client presents. Each password is typed twice.
class UserPage : public QWizardPage
{
    Q_OBJECT
public:
    explicit UserPage(QWidget* parent = nullptr);

    bool isComplete() const override;

private:
    QLineEdit* _ledUserLogin = nullptr;
    QLineEdit* _ledUserPassword = nullptr;
    QLineEdit* _ledUserPassword2 = nullptr;
    QLineEdit* _ledConnectivityPassword = nullptr;
    QLineEdit* _ledConnectivityPassword2 = nullptr;
};

#endif
