#include "DatabasePage.h"

#include "KTWizard.h"

#include <QLabel>
#include <QRadioButton>
#include <QSqlDatabase>
#include <QVBoxLayout>

DatabasePage::DatabasePage(QWidget* parent)
    : QWizardPage(parent)
    , _rbtOmbrixDB(new QRadioButton(tr("&OmbrixDB  (recomendado)"), this))
    , _rbtMysql(new QRadioButton(tr("&Mysql"), this))
    , _rbtPostgres(new QRadioButton(tr("&PostgreSQL"), this))
    , _rbtOracle(new QRadioButton(tr("&Oracle"), this))
{
    setTitle(tr("Base de datos"));
    setSubTitle(tr("\nSeleccione la base de datos que desea utilizar\n"));
    auto* layout = new QVBoxLayout(this);
    for (QRadioButton* button : {_rbtOmbrixDB, _rbtMysql, _rbtPostgres, _rbtOracle})
        layout->addWidget(button);
    _rbtOmbrixDB->setObjectName(QStringLiteral("_rbtOmbrixDB"));
    _rbtMysql->setObjectName(QStringLiteral("_rbtMysql"));
    _rbtPostgres->setObjectName(QStringLiteral("_rbtPostgres"));
    _rbtOracle->setObjectName(QStringLiteral("_rbtOracle"));
    _rbtMysql->setChecked(true);
    // Supported in coming releases.
    _rbtPostgres->setEnabled(false);
    _rbtOracle->setEnabled(false);
    // A choice whose driver is missing writes settings the server cannot start with.
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("OmbrixDB"))) {
        _rbtOmbrixDB->setEnabled(false);
        _rbtOmbrixDB->setText(tr("&OmbrixDB  (no disponible: su controlador no está instalado)"));
        _rbtOmbrixDB->setToolTip(tr("Esta instalación no tiene el controlador \"OmbrixDB\" de Qt SQL; use Mysql."));
    }
}

int DatabasePage::nextId() const
{
    return _rbtOmbrixDB->isChecked() ? KTWizard::Server : KTWizard::DatabaseSetup;
}

QString DatabasePage::driverName() const
{
    if (_rbtOmbrixDB->isChecked())
        return QStringLiteral("OmbrixDB");
    if (_rbtPostgres->isChecked())
        return QStringLiteral("QPSQL");
    if (_rbtOracle->isChecked())
        return QStringLiteral("QOCI");
    return QStringLiteral("QMYSQL");
}
