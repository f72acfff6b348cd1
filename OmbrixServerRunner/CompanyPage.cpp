#include "CompanyPage.h"

#include <QFormLayout>
#include <QLineEdit>

CompanyPage::CompanyPage(QWidget* parent)
    : QWizardPage(parent)
    , _ledCompanyName(new QLineEdit(this))
    , _ledCompanyID(new QLineEdit(this))
    , _ledPassword(new QLineEdit(this))
{
    setTitle(tr("Empresa"));
    setSubTitle(tr("\nIntroduzca los datos de su empresa tal como aparecen en su licencia de Ombrix.\n"));
    _ledCompanyName->setObjectName(QStringLiteral("_ledCompanyName"));
    _ledCompanyID->setObjectName(QStringLiteral("_ledCompanyID"));
    _ledPassword->setObjectName(QStringLiteral("_ledPassword"));
    _ledPassword->setEchoMode(QLineEdit::Password);
    auto* form = new QFormLayout(this);
    form->addRow(tr("Empresa : "), _ledCompanyName);
    form->addRow(tr("NIT o similar : "), _ledCompanyID);
    form->addRow(tr("Password : "), _ledPassword);
    registerField(QStringLiteral("companyName"), _ledCompanyName);
    registerField(QStringLiteral("companyID"), _ledCompanyID);
    registerField(QStringLiteral("companyPassword"), _ledPassword);
    connect(_ledPassword, &QLineEdit::textChanged, this, &CompanyPage::passwordChanged);
}
