#ifndef DATABASEPAGE_H
#define DATABASEPAGE_H

#include <QWizardPage>

class QRadioButton;

// Which database the server uses. The installation's own OmbrixDB needs no
// connection parameters, so its choice skips the next page; without its
// driver plug-in it cannot be chosen, and the page says so.
class DatabasePage : public QWizardPage
{
    Q_OBJECT
public:
    explicit DatabasePage(QWidget* parent = nullptr);

    int nextId() const override;
    // The Qt driver of the choice, also the settings' database type.
    QString driverName() const;

private:
    QRadioButton* _rbtOmbrixDB = nullptr;
    QRadioButton* _rbtMysql = nullptr;
    QRadioButton* _rbtPostgres = nullptr;
    QRadioButton* _rbtOracle = nullptr;
};

#endif
