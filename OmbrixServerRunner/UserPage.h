#ifndef USERPAGE_H
#define USERPAGE_H

#include <QWizardPage>

class QLabel;
class QLineEdit;

// The administrator's login and password, and the connection password that
// every client presents. Each password is typed twice; until both pairs
// match the page says what is wrong.
class UserPage : public QWizardPage
{
    Q_OBJECT
public:
    explicit UserPage(QWidget* parent = nullptr);

    bool isComplete() const override;
    // What keeps the page from going on; empty when nothing does.
    QString problem() const;

private:
    QLineEdit* _ledUserLogin = nullptr;
    QLineEdit* _ledUserPassword = nullptr;
    QLineEdit* _ledUserPassword2 = nullptr;
    QLineEdit* _ledConnectivityPassword = nullptr;
    QLineEdit* _ledConnectivityPassword2 = nullptr;
    QLabel* _lblProblem = nullptr;
};

#endif
