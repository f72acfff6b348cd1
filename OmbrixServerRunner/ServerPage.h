#ifndef SERVERPAGE_H
#define SERVERPAGE_H

#include <QWizardPage>

class QLineEdit;

// The port the server listens on.
class ServerPage : public QWizardPage
{
    Q_OBJECT
public:
    explicit ServerPage(QWidget* parent = nullptr);

private:
    QLineEdit* _ledServerPort = nullptr;
};

#endif
