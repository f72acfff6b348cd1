// The launcher: runs the settings wizard on a machine without settings, puts
// downloaded releases in place and starts the control panel.

#include "KTLocalUpdater.h"
#include "KTWizard.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

int main(int argc, char* argv[])
{
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
    // The settings and the download area lie in the application directory,
    // wherever the operator started the runner from.
    QDir::setCurrent(app.applicationDirPath());

    KTWizard wizard;
    KTLocalUpdater updater;
    updater.setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    if (!QFile::exists(QStringLiteral("OmbrixServer.cfg")) && wizard.exec() != QDialog::Accepted)
        return 0;

    updater.show();
    if (!updater.checkForUpdates(QStringLiteral("Downloads")))
        updater.setExitType(KTLocalUpdater::StartNothing);
    // Long enough to read the dialog's last line.
    QTimer::singleShot(2000, &app, &QCoreApplication::quit);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &updater, &KTLocalUpdater::executeProcess);
    return app.exec();
}
