#include "DatabaseSetupPage.h"

#include "DatabasePage.h"

#include <KTVersion.h>

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlError>

namespace {
const QString testConnectionName = QStringLiteral("test");
}

DatabaseSetupPage::DatabaseSetupPage(QWidget* parent)
    : QWizardPage(parent)
    , _ledDatabaseHost(new QLineEdit(this))
    , _ledDatabasePort(new QLineEdit(this))
    , _ledDatabaseName(new QLineEdit(QStringLiteral("OmbrixDB"), this))
    , _pbtTestConnection(new QPushButton(tr("&Probar Conexión"), this))
    , _lblConnectionError(new QLabel(this))
{
    setTitle(tr("Parámetros de BD"));
    setSubTitle(tr("\nIntroduzca los parámetros para establecer conexión con la Base de Datos.\n"));
    _ledDatabaseHost->setObjectName(QStringLiteral("_ledDatabaseHost"));
    _ledDatabasePort->setObjectName(QStringLiteral("_ledDatabasePort"));
    _ledDatabaseName->setObjectName(QStringLiteral("_ledDatabaseName"));
    _pbtTestConnection->setObjectName(QStringLiteral("_pbtTestConnection"));
    _lblConnectionError->setObjectName(QStringLiteral("_lblConnectionError"));
    _lblConnectionError->setWordWrap(true);
    _lblConnectionError->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* form = new QFormLayout(this);
    form->addRow(tr("Servidor : "), _ledDatabaseHost);
    form->addRow(tr("Puerto : "), _ledDatabasePort);
    form->addRow(tr("Nombre : "), _ledDatabaseName);
    form->addRow(QString(), _pbtTestConnection);
    form->addRow(_lblConnectionError);
    registerField(QStringLiteral("databaseHost"), _ledDatabaseHost);
    registerField(QStringLiteral("databasePort"), _ledDatabasePort);
    registerField(QStringLiteral("databaseName"), _ledDatabaseName);
    connect(_pbtTestConnection, &QPushButton::clicked, this, &DatabaseSetupPage::testConnection);
}

bool DatabaseSetupPage::isComplete() const
{
    return _connectionTested;
}

// The server's own account on the chosen server; the database itself may not exist yet.
void DatabaseSetupPage::testConnection()
{
    const QString driver = _databasePage ? _databasePage->driverName() : QStringLiteral("QMYSQL");
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(driver, testConnectionName);
        db.setHostName(_ledDatabaseHost->text());
        db.setUserName(KTVersion::dbUserName());
        db.setPassword(_password);
        db.setPort(_ledDatabasePort->text().toInt());
        _connectionTested = db.open();
        error = db.lastError().text();
        db.close();
    }
    QSqlDatabase::removeDatabase(testConnectionName);
    _pbtTestConnection->setText(_connectionTested ? tr("Exito !") : tr("Error en la conexión"));
    _lblConnectionError->setText(_connectionTested ? QString() : tr("No se pudo conectar: %1").arg(error));
    emit completeChanged();
}
