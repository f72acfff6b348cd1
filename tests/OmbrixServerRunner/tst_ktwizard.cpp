#include "KTMessageBoxCatcher.h"
#include "KTTestDatabase.h"

#include <KTVersion.h>
#include <KTWizard.h>

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QtTest>

namespace {

void touch(const QString& path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write("data");
}

} // namespace

// The first-start wizard, driven page by page as an operator would.
class tst_KTWizard : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> _settings;
    std::unique_ptr<QTemporaryDir> _installation;
    std::unique_ptr<KTWizard> _wizard;

    template <class T = QLineEdit>
    T* child(const char* name) const { return _wizard->findChild<T*>(QString::fromLatin1(name)); }
    void type(const char* field, const QString& text) { child(field)->setText(text); }
    QSettings written() const { return QSettings(_settings->filePath(QStringLiteral("OmbrixServer.cfg")), QSettings::IniFormat); }

    void fillCompany(const QString& password)
    {
        type("_ledCompanyName", QStringLiteral("Comercial Andina"));
        type("_ledCompanyID", QStringLiteral("900123"));
        type("_ledPassword", password);
    }

    void fillUser()
    {
        type("_ledUserLogin", QStringLiteral("  jefe   de planta "));
        type("_ledUserPassword", QStringLiteral("clave-jefe"));
        type("_ledUserPassword2", QStringLiteral("clave-jefe"));
        type("_ledConnectivityPassword", QStringLiteral("clave-clientes"));
        type("_ledConnectivityPassword2", QStringLiteral("clave-clientes"));
    }

    // Presses Next, as the operator can, until the wizard shows the page.
    bool reach(int pageId)
    {
        while (_wizard->currentId() != pageId) {
            if (!_wizard->button(QWizard::NextButton)->isEnabled() || !_wizard->button(QWizard::NextButton)->isVisible())
                return false;
            _wizard->button(QWizard::NextButton)->click();
        }
        return true;
    }

    void testConnection(const QString& password)
    {
        type("_ledDatabaseHost", KTTestDatabase::host());
        type("_ledDatabasePort", QString::number(KTTestDatabase::port()));
        fillCompany(password);
        child<QPushButton>("_pbtTestConnection")->click();
    }

    // An OmbrixDB installation, which needs no database parameters.
    void stageOmbrixDbInstallation()
    {
        touch(_installation->filePath(QStringLiteral("libOmbrixServerCore.so")));
        touch(_installation->filePath(QStringLiteral("OmbrixServerComponents/OmbrixDbMaps/libMySqlDialectMap.so")));
        touch(_installation->filePath(QStringLiteral("OmbrixServerPanets/libLogPanet.so")));
        touch(_installation->filePath(QStringLiteral("OmbrixServerPanel")));
        QFile components(_installation->filePath(QStringLiteral("OmbrixDbData/Data/srvComponent.odd")));
        QDir().mkpath(QFileInfo(components).path());
        QVERIFY(components.open(QIODevice::WriteOnly));
        components.write("101001|'ComponentUser'|'Usuarios'|1\n101002|'ComponentGroup'|'Grupos'|1\n");
        components.close();
    }

private Q_SLOTS:
    void init()
    {
        _settings = std::make_unique<QTemporaryDir>();
        _installation = std::make_unique<QTemporaryDir>();
        _wizard = std::make_unique<KTWizard>();
        _wizard->setSettingsDirectory(_settings->path());
        _wizard->setInstallationDirectory(_installation->path());
        _wizard->show();
        QCOMPARE(_wizard->currentId(), int(KTWizard::Intro));
    }

    void ombrixDbSkipsTheDatabaseParameters()
    {
        stageOmbrixDbInstallation();
        fillCompany(QStringLiteral("clave-bd"));
        QVERIFY(reach(KTWizard::Database));
        child<QRadioButton>("_rbtOmbrixDB")->setChecked(true);
        _wizard->button(QWizard::NextButton)->click();
        QCOMPARE(_wizard->currentId(), int(KTWizard::Server));
        fillUser();
        QVERIFY(reach(KTWizard::End));
        _wizard->button(QWizard::FinishButton)->click();

        QSettings settings = written();
        QCOMPARE(settings.value("Database/Type").toString(), QStringLiteral("OmbrixDB"));
        QCOMPARE(settings.value("Database/DbName").toString(), QStringLiteral("OmbrixDB"));
        QCOMPARE(settings.value("Database/Host").toString(), QString());
        QCOMPARE(settings.value("Database/DbPort").toString(), QString());
        QCOMPARE(settings.value("ServerSettings/ServerPort").toString(), QStringLiteral("6660"));
        QCOMPARE(settings.value("ServerSettings/InitServerSearchingUpdates").toBool(), true);
        QVERIFY(!settings.contains("ServerSettings/TlsPort"));
        QCOMPARE(settings.value("LicenseInfo/Company").toString(), QStringLiteral("Comercial Andina"));
        QCOMPARE(settings.value("LicenseInfo/Password").toString(), QStringLiteral("clave-bd"));
        QCOMPARE(settings.value("AdminUser/Login").toString(), QStringLiteral("jefe de planta"));
        QCOMPARE(settings.value("AdminUser/Password").toString(), QStringLiteral("clave-jefe"));
        QCOMPARE(settings.value("AdminUser/ConnectivityPassword").toString(), QStringLiteral("clave-clientes"));
        // The passwords are for the owner's eyes only.
        QCOMPARE(QFileInfo(_settings->filePath(QStringLiteral("OmbrixServer.cfg"))).permissions()
                     & (QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther),
                 QFileDevice::ReadOwner);
        QCOMPARE(_wizard->result(), int(QDialog::Accepted));

        QSettings objects(_settings->filePath(QStringLiteral("OmbrixSystemObjects.cfg")), QSettings::IniFormat);
        objects.beginGroup(QStringLiteral("ServerFiles"));
        QCOMPARE(objects.childKeys(), QStringList({QStringLiteral("LogPanet"), QStringLiteral("MySqlDialectMap"),
                                                   QStringLiteral("OmbrixServerCore")}));
        QCOMPARE(objects.value(QStringLiteral("LogPanet")).toString(), QStringLiteral("Ok"));
        objects.endGroup();
        objects.beginGroup(QStringLiteral("ClientFiles"));
        QCOMPARE(objects.childKeys(), QStringList({QStringLiteral("ComponentGroup"), QStringLiteral("ComponentUser")}));
    }

    // The encrypted port is optional, but once given it needs a port of its
    // own and both of its files.
    void anEncryptedPortComesWithItsFiles()
    {
        stageOmbrixDbInstallation();
        fillCompany(QStringLiteral("clave-bd"));
        QVERIFY(reach(KTWizard::Database));
        child<QRadioButton>("_rbtOmbrixDB")->setChecked(true);
        _wizard->button(QWizard::NextButton)->click();
        QCOMPARE(_wizard->currentId(), int(KTWizard::Server));
        QAbstractButton* next = _wizard->button(QWizard::NextButton);
        // A port that is no port would have the server listen wherever the system chose.
        type("_ledServerPort", QStringLiteral("seis"));
        QVERIFY(!next->isEnabled());
        type("_ledServerPort", QStringLiteral("6660"));
        QVERIFY(next->isEnabled());
        type("_ledTlsPort", QStringLiteral("6661"));
        QVERIFY(!next->isEnabled());
        type("_ledTlsCertificate", QStringLiteral("/etc/ombrix/tls/server.pem"));
        type("_ledTlsPrivateKey", QStringLiteral("/etc/ombrix/tls/server.key"));
        QVERIFY(next->isEnabled());
        type("_ledTlsPort", QStringLiteral("6660"));
        QVERIFY(!next->isEnabled());
        type("_ledTlsPort", QStringLiteral("70000"));
        QVERIFY(!next->isEnabled());
        type("_ledTlsPort", QStringLiteral(" 6661 "));
        fillUser();
        QVERIFY(reach(KTWizard::End));
        _wizard->button(QWizard::FinishButton)->click();
        QSettings settings = written();
        QCOMPARE(settings.value("ServerSettings/TlsPort").toString(), QStringLiteral("6661"));
        QCOMPARE(settings.value("ServerSettings/TlsCertificate").toString(), QStringLiteral("/etc/ombrix/tls/server.pem"));
        QCOMPARE(settings.value("ServerSettings/TlsPrivateKey").toString(), QStringLiteral("/etc/ombrix/tls/server.key"));
    }

    // Without its driver the OmbrixDB choice would write settings no server
    // can start with: it cannot be chosen, says why, and Mysql is the default.
    void ombrixDbNeedsItsDriver()
    {
        QVERIFY(reach(KTWizard::Database));
        QVERIFY(child<QRadioButton>("_rbtMysql")->isChecked());
        auto* ombrixDb = child<QRadioButton>("_rbtOmbrixDB");
        if (QSqlDatabase::isDriverAvailable(QStringLiteral("OmbrixDB")))
            QSKIP("this machine has the OmbrixDB driver");
        QVERIFY(!ombrixDb->isEnabled());
        QVERIFY(ombrixDb->text().contains(QStringLiteral("no está instalado")));
        QVERIFY(!ombrixDb->text().contains(QStringLiteral("recomendado")));
    }

    void passwordsMustMatch_data()
    {
        QTest::addColumn<QString>("admin");
        QTest::addColumn<QString>("adminAgain");
        QTest::addColumn<QString>("connectivity");
        QTest::addColumn<QString>("connectivityAgain");
        QTest::addColumn<bool>("complete");
        QTest::addColumn<QString>("reason");
        QTest::newRow("both confirmed") << "a1" << "a1" << "c1" << "c1" << true << "";
        QTest::newRow("administrator differs") << "a1" << "a2" << "c1" << "c1" << false
                                               << "Los dos passwords del administrador no coinciden.";
        QTest::newRow("administrator blanks only") << "   " << "   " << "c1" << "c1" << false
                                                   << "Escriba el password del administrador.";
        QTest::newRow("connectivity differs") << "a1" << "a1" << "c1" << "c2" << false
                                              << "Los dos passwords de conexión no coinciden.";
        QTest::newRow("connectivity blanks only") << "a1" << "a1" << " " << " " << false
                                                  << "Escriba el password de conexión.";
    }

    void passwordsMustMatch()
    {
        QFETCH(QString, admin);
        QFETCH(QString, adminAgain);
        QFETCH(QString, connectivity);
        QFETCH(QString, connectivityAgain);
        QFETCH(bool, complete);
        QFETCH(QString, reason);
        QVERIFY(reach(KTWizard::Database));
        child<QRadioButton>("_rbtOmbrixDB")->setChecked(true);
        QVERIFY(reach(KTWizard::User));
        type("_ledUserPassword", admin);
        type("_ledUserPassword2", adminAgain);
        type("_ledConnectivityPassword", connectivity);
        type("_ledConnectivityPassword2", connectivityAgain);
        QCOMPARE(_wizard->currentPage()->isComplete(), complete);
        // The page that cannot go on says why.
        QCOMPARE(child<QLabel>("_lblProblem")->text(), reason);
        QCOMPARE(reach(KTWizard::End), complete);
        QCOMPARE(_wizard->button(QWizard::FinishButton)->isVisible() && _wizard->button(QWizard::FinishButton)->isEnabled(),
                 complete);
    }

    void connectionTestAgainstTheServer()
    {
        KT_REQUIRE_DATABASE();
        QVERIFY(reach(KTWizard::DatabaseSetup));
        QVERIFY(!_wizard->currentPage()->isComplete());
        testConnection(QStringLiteral("no-es-la-clave"));
        QCOMPARE(child<QPushButton>("_pbtTestConnection")->text(), QStringLiteral("Error en la conexión"));
        QVERIFY(!_wizard->currentPage()->isComplete());
        // The server's own reason, not only that it failed.
        const QString reason = child<QLabel>("_lblConnectionError")->text();
        QVERIFY2(reason.contains(QStringLiteral("Access denied")), qPrintable(reason));

        testConnection(KTTestDatabase::password());
        QCOMPARE(child<QPushButton>("_pbtTestConnection")->text(), QStringLiteral("Exito !"));
        QVERIFY(_wizard->currentPage()->isComplete());
        QVERIFY(child<QLabel>("_lblConnectionError")->text().isEmpty());

        // A later change of the company password keeps the result and is what gets written.
        _wizard->back();
        _wizard->back();
        QCOMPARE(_wizard->currentId(), int(KTWizard::Company));
        type("_ledPassword", QStringLiteral("otra-clave"));
        QVERIFY(reach(KTWizard::DatabaseSetup));
        QVERIFY(_wizard->currentPage()->isComplete());
        fillUser();
        QVERIFY(reach(KTWizard::End));
        _wizard->button(QWizard::FinishButton)->click();
        QSettings settings = written();
        QCOMPARE(settings.value("LicenseInfo/Password").toString(), QStringLiteral("otra-clave"));
        QCOMPARE(settings.value("Database/Type").toString(), QStringLiteral("QMYSQL"));
        QCOMPARE(settings.value("Database/Host").toString(), KTTestDatabase::host());
        QCOMPARE(settings.value("Database/DbPort").toInt(), KTTestDatabase::port());
        QCOMPARE(settings.value("Database/DbName").toString(), QStringLiteral("OmbrixDB"));
    }

    // What the operator sees, saved for a person to look at.
    void screenshotOfTheUserPage()
    {
        QVERIFY(reach(KTWizard::Database));
        child<QRadioButton>("_rbtOmbrixDB")->setChecked(true);
        QVERIFY(reach(KTWizard::User));
        fillUser();
        QVERIFY(_wizard->grab().save(QStringLiteral(SCREENSHOT_DIR "/KTWizard.png")));
    }

    // Settings that could not be written are shown, and Finish can be pressed again.
    void aFailedWriteKeepsTheWizardOpen()
    {
        const QString blocked = _settings->filePath(QStringLiteral("OmbrixServer.cfg"));
        QVERIFY(QDir().mkpath(blocked));
        fillCompany(QStringLiteral("clave-bd"));
        QVERIFY(reach(KTWizard::Database));
        child<QRadioButton>("_rbtOmbrixDB")->setChecked(true);
        QVERIFY(reach(KTWizard::User));
        fillUser();
        QVERIFY(reach(KTWizard::End));
        {
            KTMessageBoxCatcher boxes;
            _wizard->button(QWizard::FinishButton)->click();
            QTRY_COMPARE(boxes.texts.size(), 1);
            QVERIFY(boxes.texts.first().startsWith(QStringLiteral("No se pudo grabar el archivo de configuración "
                                                                  "OmbrixServer.cfg")));
        }
        QVERIFY(_wizard->isVisible());
        QCOMPARE(_wizard->currentId(), int(KTWizard::End));

        QVERIFY(QDir(blocked).removeRecursively());
        _wizard->button(QWizard::FinishButton)->click();
        QVERIFY(!_wizard->isVisible());
        QCOMPARE(written().value("LicenseInfo/Password").toString(), QStringLiteral("clave-bd"));
    }

    void cancelledWizardWritesNothing()
    {
        fillCompany(QStringLiteral("clave"));
        QVERIFY(reach(KTWizard::Database));
        child<QRadioButton>("_rbtOmbrixDB")->setChecked(true);
        QVERIFY(reach(KTWizard::Server));
        _wizard->reject();
        QVERIFY(QDir(_settings->path()).isEmpty());
    }

    void helpOfTheCurrentPage()
    {
        QVERIFY(reach(KTWizard::Database));
        KTMessageBoxCatcher boxes;
        _wizard->showHelp();
        QCOMPARE(boxes.titles, QStringList({QStringLiteral("Ayuda")}));
        QVERIFY(boxes.texts.first().startsWith(QStringLiteral("Si no está seguro de que base de datos elegir")));
        QVERIFY(boxes.texts.first().endsWith(KTVersion::vendorWebAddress()));
        for (int page = KTWizard::Intro; page <= KTWizard::End; ++page)
            QVERIFY(!_wizard->helpText(page).isEmpty());
    }
};

QTEST_MAIN(tst_KTWizard)
#include "tst_ktwizard.moc"
