#include "ServerPage.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

namespace {

int portOf(const QLineEdit* edit)
{
    bool ok = false;
    const int port = edit->text().trimmed().toInt(&ok);
    return ok && port > 0 && port <= 65535 ? port : 0;
}

} // namespace

ServerPage::ServerPage(QWidget* parent)
    : QWizardPage(parent)
    , _ledServerPort(lineEdit(QStringLiteral("_ledServerPort"), QStringLiteral("6660")))
    , _ledTlsPort(lineEdit(QStringLiteral("_ledTlsPort")))
    , _ledTlsCertificate(lineEdit(QStringLiteral("_ledTlsCertificate")))
    , _ledTlsPrivateKey(lineEdit(QStringLiteral("_ledTlsPrivateKey")))
{
    setTitle(tr("Servidor"));
    setSubTitle(tr("\nIntroduzca los parámetros para levantar el servidor Ombrix.\n"));
    _ledTlsPort->setPlaceholderText(tr("sin puerto cifrado"));
    _ledTlsCertificate->setPlaceholderText(tr("/etc/ombrix/tls/server.pem"));
    _ledTlsPrivateKey->setPlaceholderText(tr("/etc/ombrix/tls/server.key"));
    auto* note = new QLabel(tr("Opcional: un puerto cifrado (TLS) para los clientes que llegan por redes ajenas a la "
                               "empresa, con el certificado del servidor y su clave privada (archivos PEM, la clave "
                               "legible solo por el usuario del servidor)."), this);
    note->setWordWrap(true);
    auto* form = new QFormLayout(this);
    form->addRow(tr("Puerto : "), _ledServerPort);
    form->addRow(note);
    form->addRow(tr("Puerto cifrado (TLS) : "), _ledTlsPort);
    form->addRow(tr("Certificado : "), _ledTlsCertificate);
    form->addRow(tr("Clave privada : "), _ledTlsPrivateKey);
    registerField(QStringLiteral("serverPort"), _ledServerPort);
    registerField(QStringLiteral("tlsPort"), _ledTlsPort);
    registerField(QStringLiteral("tlsCertificate"), _ledTlsCertificate);
    registerField(QStringLiteral("tlsPrivateKey"), _ledTlsPrivateKey);
}

QLineEdit* ServerPage::lineEdit(const QString& name, const QString& text)
{
    auto* edit = new QLineEdit(text, this);
    edit->setObjectName(name);
    connect(edit, &QLineEdit::textChanged, this, &QWizardPage::completeChanged);
    return edit;
}

bool ServerPage::isComplete() const
{
    const int port = portOf(_ledServerPort);
    if (port == 0)
        return false;
    if (_ledTlsPort->text().trimmed().isEmpty())
        return true;
    const int tlsPort = portOf(_ledTlsPort);
    return tlsPort != 0 && tlsPort != port && !_ledTlsCertificate->text().trimmed().isEmpty()
        && !_ledTlsPrivateKey->text().trimmed().isEmpty();
}
