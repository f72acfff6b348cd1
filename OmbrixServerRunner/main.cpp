// The launcher: runs the settings wizard on a machine without settings, puts
// downloaded releases in place and starts the control panel.
//
// With --install-only it only puts a downloaded release in place and exits,
// non-zero when that failed: the service runs it so before it starts the
// panel itself.
//
// With --rollback it puts back the server files the last promotion replaced
// (Downloads/Previous in the state folder) and drops that release's pending SQL lines, then exits:
// the way back when a release's SQL fails at the panel's start.
//
// With --write-objects it writes OmbrixSystemObjects.cfg for the
// installation, as the wizard does, and exits: the way to set up a machine
// without a display.
//
// The settings and the download area are where KTInstallationPaths puts
// them: in a development tree the application directory.

#include "KTInstallationObjects.h"
#include "KTLocalUpdater.h"
#include "KTWizard.h"

#include <KTCommandLine.h>
#include <KTInstallationPaths.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

namespace {

// Answered before the application object exists: on a machine without a
// display that object ends the program, and none may start for --help.
int checkArguments(int argc, char* argv[], QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Lanzador de Ombrix Server: muestra el asistente de configuración en una instalación sin ajustes, "
        "instala la versión descargada e inicia el panel."));
    parser.addOptions({{QStringLiteral("install-only"), QStringLiteral("Solo instala la versión descargada y termina.")},
                       {QStringLiteral("rollback"), QStringLiteral("Restituye la versión anterior del servidor y termina.")},
                       {QStringLiteral("write-objects"),
                        QStringLiteral("Escribe OmbrixSystemObjects.cfg para esta instalación y termina.")}});
    KTCommandLine::acceptWindowSystemOptions(parser);
    return KTCommandLine::handle(parser, KTCommandLine::arguments(argc, argv));
}

int writeObjects(const QString& applicationDirectory)
{
    const QString path = KTInstallationPaths::systemObjectsFile();
    if (!KTInstallationObjects(applicationDirectory).write(path)) {
        qWarning().noquote() << QCoreApplication::translate("OmbrixServerRunner", "No se pudo escribir %1").arg(path);
        return 1;
    }
    qInfo().noquote() << QCoreApplication::translate("OmbrixServerRunner", "Se escribió %1").arg(path);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCommandLineParser parser;
    if (const int status = checkArguments(argc, argv, parser); status != KTCommandLine::Run)
        return status;
    if (parser.isSet(QStringLiteral("write-objects"))) {
        QCoreApplication app(argc, argv);
        QDir::setCurrent(app.applicationDirPath());
        return writeObjects(app.applicationDirPath());
    }
    QApplication app(argc, argv);
    QTranslator qtTranslator;
    if (qtTranslator.load(QStringLiteral("qt_") + QLocale::system().name(),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&qtTranslator);
    // Qt 6 reads and writes plain strings as UTF-8 already.
    app.setApplicationName(QStringLiteral("OmbrixServer"));
    app.setOrganizationName(QStringLiteral("Tovik"));
    app.addLibraryPath(app.applicationDirPath() + QStringLiteral("/SystemPlugins"));
    app.setQuitOnLastWindowClosed(true);
    app.setStyleSheet(QStringLiteral("* { font: 75 7pt \"DejaVu Serif\" } "));
    // The panel it starts and the places without a packaged default are the
    // application directory's, wherever the operator started the runner from.
    QDir::setCurrent(app.applicationDirPath());

    if (parser.isSet(QStringLiteral("rollback"))) {
        KTLocalUpdater updater;
        updater.setInteractive(false);
        if (!updater.rollback(KTInstallationPaths::downloadsDirectory()))
            return 1;
        qInfo().noquote() << QCoreApplication::translate("OmbrixServerRunner",
                                                         "Se restituyó la versión anterior del servidor.");
        return 0;
    }
    const bool installOnly = parser.isSet(QStringLiteral("install-only"));
    // Offscreen nobody sees a window: a wizard or an error box would wait forever.
    const bool interactive = !installOnly && QGuiApplication::platformName() != QLatin1String("offscreen");
    KTWizard wizard;
    KTLocalUpdater updater;
    updater.setInteractive(interactive);
    updater.setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    if (!QFile::exists(KTInstallationPaths::serverSettingsFile())) {
        if (!interactive) {
            qWarning().noquote() << QCoreApplication::translate(
                "OmbrixServerRunner", "No existe %1 y sin pantalla no se puede mostrar el asistente "
                                      "de configuración: ejecútelo una vez con pantalla o escriba el archivo a mano.")
                                        .arg(KTInstallationPaths::serverSettingsFile());
            return 1;
        }
        if (wizard.exec() != QDialog::Accepted)
            return 0;
    }

    if (installOnly)
        return updater.checkForUpdates(KTInstallationPaths::downloadsDirectory()) ? 0 : 1;
    updater.show();
    const bool installed = updater.checkForUpdates(KTInstallationPaths::downloadsDirectory());
    if (!installed)
        updater.setExitType(KTLocalUpdater::StartNothing);
    // Long enough to read the dialog's last line.
    QTimer::singleShot(2000, &app, [installed] { QCoreApplication::exit(installed ? 0 : 1); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &updater, &KTLocalUpdater::executeProcess);
    return app.exec();
}
