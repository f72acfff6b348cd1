#include "ServerPage.h"

#include <QFormLayout>
#include <QLineEdit>

ServerPage::ServerPage(QWidget* parent)
    : QWizardPage(parent)
    , _ledServerPort(new QLineEdit(QStringLiteral("6660"), this))
{
    setTitle(tr("Servidor"));
    setSubTitle(tr("\nIntroduzca los parámetros para levantar el servidor Ombrix.\n"));
    _ledServerPort->setObjectName(QStringLiteral("_ledServerPort"));
    (new QFormLayout(this))->addRow(tr("Puerto : "), _ledServerPort);
    registerField(QStringLiteral("serverPort"), _ledServerPort);
}
