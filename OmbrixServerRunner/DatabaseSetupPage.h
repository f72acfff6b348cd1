#ifndef DATABASESETUPPAGE_H
#define DATABASESETUPPAGE_H

#include <QWizardPage>

class DatabasePage;
class QLabel;
class QLineEdit;
class QPushButton;

// Where the database server is. The page is complete once a connection
// test with the company password has succeeded.
class DatabaseSetupPage : public QWizardPage
{
    Q_OBJECT
public:
    explicit DatabaseSetupPage(QWidget* parent = nullptr);

    bool isComplete() const override;
    // The choice of the database page, which names the driver to test with.
    void setDatabasePage(const DatabasePage* page) { _databasePage = page; }

public Q_SLOTS:
    void setDbPassword(const QString& password) { _password = password; }
    void testConnection();

private:
    const DatabasePage* _databasePage = nullptr;
    QLineEdit* _ledDatabaseHost = nullptr;
    QLineEdit* _ledDatabasePort = nullptr;
    QLineEdit* _ledDatabaseName = nullptr;
    QPushButton* _pbtTestConnection = nullptr;
    // Why the last test failed, in the driver's or the server's own words.
    QLabel* _lblConnectionError = nullptr;
    bool _connectionTested = false;
    QString _password;
};

#endif
