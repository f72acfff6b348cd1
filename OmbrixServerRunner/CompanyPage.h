#ifndef COMPANYPAGE_H
#define COMPANYPAGE_H

#include <QWizardPage>

class QLineEdit;

// The company as its licence names it, and its password, which is also the
// password of the database account.
class CompanyPage : public QWizardPage
{
    Q_OBJECT
public:
    explicit CompanyPage(QWidget* parent = nullptr);

Q_SIGNALS:
    void passwordChanged(const QString& password);

private:
    QLineEdit* _ledCompanyName = nullptr;
    QLineEdit* _ledCompanyID = nullptr;
    QLineEdit* _ledPassword = nullptr;
};

#endif
