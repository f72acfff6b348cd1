#include "UserPage.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

namespace {

QLineEdit* passwordEdit(QWidget* parent, const QString& objectName)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(objectName);
    edit->setEchoMode(QLineEdit::Password);
    return edit;
}

// Empty when the password is set and typed the same twice.
QString mismatch(const QString& password, const QString& again, const QString& which)
{
    if (password.simplified().isEmpty())
        return QObject::tr("Escriba el password %1.").arg(which);
    if (password != again)
        return QObject::tr("Los dos passwords %1 no coinciden.").arg(which);
    return QString();
}

} // namespace

UserPage::UserPage(QWidget* parent)
    : QWizardPage(parent)
    , _ledUserLogin(new QLineEdit(this))
    , _ledUserPassword(passwordEdit(this, QStringLiteral("_ledUserPassword")))
    , _ledUserPassword2(passwordEdit(this, QStringLiteral("_ledUserPassword2")))
    , _ledConnectivityPassword(passwordEdit(this, QStringLiteral("_ledConnectivityPassword")))
    , _ledConnectivityPassword2(passwordEdit(this, QStringLiteral("_ledConnectivityPassword2")))
    , _lblProblem(new QLabel(this))
{
    setTitle(tr("Usuario Administrador"));
    setSubTitle(tr("\nIntroduzca el login y el password del usuario Administrador.\n"));
    _ledUserLogin->setObjectName(QStringLiteral("_ledUserLogin"));
    auto* form = new QFormLayout(this);
    form->addRow(tr("Login : "), _ledUserLogin);
    form->addRow(tr("Password : "), _ledUserPassword);
    form->addRow(tr("Verificar Password : "), _ledUserPassword2);
    form->addRow(new QLabel(tr("Password de conexión : "), this));
    form->addRow(tr("Password : "), _ledConnectivityPassword);
    form->addRow(tr("Verificar Password : "), _ledConnectivityPassword2);
    _lblProblem->setObjectName(QStringLiteral("_lblProblem"));
    _lblProblem->setWordWrap(true);
    form->addRow(_lblProblem);
    registerField(QStringLiteral("userLogin"), _ledUserLogin);
    registerField(QStringLiteral("_ledUserPassword*"), _ledUserPassword);
    registerField(QStringLiteral("_ledUserPassword2*"), _ledUserPassword2);
    registerField(QStringLiteral("_ledConnectivityPassword*"), _ledConnectivityPassword);
    registerField(QStringLiteral("_ledConnectivityPassword2*"), _ledConnectivityPassword2);
    for (QLineEdit* edit : {_ledUserPassword, _ledUserPassword2, _ledConnectivityPassword, _ledConnectivityPassword2})
        connect(edit, &QLineEdit::textChanged, this, [this] {
            _lblProblem->setText(problem());
            emit completeChanged();
        });
    _lblProblem->setText(problem());
}

bool UserPage::isComplete() const
{
    return problem().isEmpty();
}

QString UserPage::problem() const
{
    const QString user = mismatch(_ledUserPassword->text(), _ledUserPassword2->text(), tr("del administrador"));
    return !user.isEmpty() ? user
                           : mismatch(_ledConnectivityPassword->text(), _ledConnectivityPassword2->text(),
                                      tr("de conexión"));
}
