#ifndef SERVERPAGE_H
#define SERVERPAGE_H

#include <QWizardPage>

class QLineEdit;

// The port the server listens on and, optionally, its encrypted port with
// the certificate and key it needs.
class ServerPage : public QWizardPage
{
    Q_OBJECT
public:
    explicit ServerPage(QWidget* parent = nullptr);

    // A port is a number from 1 to 65535; an encrypted port, when given,
    // another one, with both of its files.
    bool isComplete() const override;

private:
    QLineEdit* lineEdit(const QString& name, const QString& text = QString());

    QLineEdit* _ledServerPort = nullptr;
    QLineEdit* _ledTlsPort = nullptr;
    QLineEdit* _ledTlsCertificate = nullptr;
    QLineEdit* _ledTlsPrivateKey = nullptr;
};

#endif
