#include "KTWizard.h"

#include "CompanyPage.h"
#include "DatabasePage.h"
#include "DatabaseSetupPage.h"
#include "EndPage.h"
#include "IntroPage.h"
#include "KTInstallationObjects.h"
#include "ServerPage.h"
#include "UserPage.h"

#include <KTInstallationPaths.h>
#include <KTSettingsFile.h>
#include <KTVersion.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QSettings>

KTWizard::KTWizard(QWidget* parent)
    : QWizard(parent)
    , _introPage(new IntroPage(this))
    , _companyPage(new CompanyPage(this))
    , _databasePage(new DatabasePage(this))
    , _databaseSetupPage(new DatabaseSetupPage(this))
    , _serverPage(new ServerPage(this))
    , _userPage(new UserPage(this))
    , _endPage(new EndPage(this))
    , _settingsDirectory(KTInstallationPaths::settingsDirectory())
    , _installationDirectory(QCoreApplication::applicationDirPath())
{
    setWindowTitle(tr("Server Wizard"));
    setWindowIcon(QIcon(QStringLiteral(":/Resources/Images/imgOmbrixServerLogo.png")));
    setWizardStyle(QWizard::ModernStyle);
    setOption(QWizard::HaveHelpButton, true);
    // The help texts name the buttons in Spanish, whatever the system's locale.
    setButtonText(QWizard::BackButton, tr("< &Atrás"));
    setButtonText(QWizard::NextButton, tr("&Siguiente >"));
    setButtonText(QWizard::FinishButton, tr("&Finalizar"));
    setButtonText(QWizard::CancelButton, tr("&Cancelar"));
    setButtonText(QWizard::HelpButton, tr("A&yuda"));
    // Going back to correct a page keeps what the later pages hold.
    setOption(QWizard::IndependentPages, true);
    const QList<QWizardPage*> pages{_introPage, _companyPage, _databasePage, _databaseSetupPage,
                                    _serverPage, _userPage, _endPage};
    for (int id = 0; id < pages.size(); ++id) {
        pages.at(id)->setPixmap(QWizard::WatermarkPixmap, QPixmap(QStringLiteral(":Resources/Images/imgSplashScreen.jpg")));
        setPage(id, pages.at(id));
    }
    setStartId(Intro);
    _databaseSetupPage->setDatabasePage(_databasePage);
    connect(_companyPage, &CompanyPage::passwordChanged, _databaseSetupPage, &DatabaseSetupPage::setDbPassword);
    connect(this, &QWizard::helpRequested, this, &KTWizard::showHelp);
}

// Finishing saves first: settings that could not be written keep the wizard
// open, so that the operator can make room or fix the folder and try again.
void KTWizard::accept()
{
    if (saveSettings())
        QWizard::accept();
}

bool KTWizard::saveSettings()
{
    const QString failed = !writeServerSettings() ? QStringLiteral("OmbrixServer.cfg")
                         : !writeSystemObjects() ? QStringLiteral("OmbrixSystemObjects.cfg")
                                                 : QString();
    if (failed.isEmpty())
        return true;
    QMessageBox::critical(this, tr("Error"),
                          tr("No se pudo grabar el archivo de configuración %1 en %2. Revise los permisos de la "
                             "carpeta y vuelva a presionar 'Finalizar'.").arg(failed, _settingsDirectory));
    return false;
}

bool KTWizard::writeServerSettings()
{
    // It holds the passwords: private before anything is written to it.
    const QString path = _settingsDirectory + QStringLiteral("/OmbrixServer.cfg");
    if (!KTSettingsFile::makePrivate(path))
        return false;
    QSettings settings(path, QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("ServerSettings"));
    settings.setValue(QStringLiteral("ServerPort"), field(QStringLiteral("serverPort")));
    settings.setValue(QStringLiteral("InitServerSearchingUpdates"), true);
    const QString tlsPort = field(QStringLiteral("tlsPort")).toString().trimmed();
    if (!tlsPort.isEmpty()) {
        settings.setValue(QStringLiteral("TlsPort"), tlsPort);
        settings.setValue(QStringLiteral("TlsCertificate"), field(QStringLiteral("tlsCertificate")).toString().trimmed());
        settings.setValue(QStringLiteral("TlsPrivateKey"), field(QStringLiteral("tlsPrivateKey")).toString().trimmed());
    }
    settings.endGroup();
    settings.beginGroup(QStringLiteral("LicenseInfo"));
    settings.setValue(QStringLiteral("Company"), field(QStringLiteral("companyName")));
    settings.setValue(QStringLiteral("ID"), field(QStringLiteral("companyID")));
    settings.setValue(QStringLiteral("Password"), field(QStringLiteral("companyPassword")));
    settings.endGroup();
    settings.beginGroup(QStringLiteral("Database"));
    settings.setValue(QStringLiteral("Type"), _databasePage->driverName());
    settings.setValue(QStringLiteral("Host"), field(QStringLiteral("databaseHost")));
    settings.setValue(QStringLiteral("DbPort"), field(QStringLiteral("databasePort")));
    settings.setValue(QStringLiteral("DbName"), field(QStringLiteral("databaseName")));
    settings.endGroup();
    settings.beginGroup(QStringLiteral("AdminUser"));
    settings.setValue(QStringLiteral("Login"), field(QStringLiteral("userLogin")).toString().simplified());
    settings.setValue(QStringLiteral("Password"), field(QStringLiteral("_ledUserPassword")));
    settings.setValue(QStringLiteral("ConnectivityPassword"), field(QStringLiteral("_ledConnectivityPassword")));
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}

bool KTWizard::writeSystemObjects()
{
    return KTInstallationObjects(_installationDirectory).write(_settingsDirectory + QStringLiteral("/OmbrixSystemObjects.cfg"));
}

QString KTWizard::helpText(int pageId) const
{
    switch (pageId) {
    case Intro:
        return tr("Presione 'Siguiente' para comenzar. Podrá volver a cualquier página con el botón 'Atrás' antes de "
                  "finalizar.");
    case Company:
        return tr("El nombre de la empresa, su NIT y su password figuran en la licencia de Ombrix que recibió de su "
                  "proveedor.\nEl password es también el de la cuenta con que el servidor se conecta a la base de "
                  "datos.");
    case Database:
        return tr("Si no está seguro de que base de datos elegir, seleccione la que está marcada por defecto.\n\nSi "
                  "es que alguna opción esta deshabilitada, significa que recién existirá el soporte en versiones "
                  "próximas,\nPara mayor información consulte nuestra página web ")
            + KTVersion::vendorWebAddress();
    case DatabaseSetup:
        return tr("En la casilla de 'Servidor', puede colocar el nombre de la máquina o el ip.");
    case Server:
        return tr("Estos parámetros especifican como se levantará el servidor Ombrix.\nSi no está seguro, seleccione "
                  "las opciones por defecto.");
    case User:
        return tr("El usuario administrador tiene acceso a todos los módulos a los que su empresa tiene acceso.\n"
                  "Guarde el password en un lugar seguro.\n\nEl password de conexión es requerido por todo software "
                  "cliente que quiera iniciar una conexión con el servidor.");
    case End:
        return tr("El wizard generará un archivo de configuración donde guardara la información introducida. Si "
                  "desea revisar algun parámetro puede hacerlo presionando el botón 'Atrás'.");
    default:
        return QString();
    }
}

void KTWizard::showHelp()
{
    QMessageBox::information(this, tr("Ayuda"), helpText(currentId()));
}
