#include "KTEventLog.h"
#include "KTMainPanel.h"
#include "KTSignalWatcher.h"

#include <KTCommandLine.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

// Qt's warnings and worse join the events in the log file; every message
// still reaches standard error as before.
void logQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtDebugMsg)
        if (auto* panel = qobject_cast<KTMainPanel*>(KTMainWindow::mainWindowInstance()))
            panel->eventLog()->appendQtMessage(type, context, message);
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
    if (type == QtFatalMsg)
        std::abort();
}

// Answered before the application object exists: on a machine without a
// display that object ends the program, and no server may start for --help.
int checkArguments(int argc, char* argv[])
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Panel de control de Ombrix Server: atiende a los clientes con los ajustes de OmbrixServer.cfg. Los ajustes, "
        "el estado y el registro están en la carpeta actual, salvo que OmbrixPaths.cfg junto al programa o las "
        "variables OMBRIX_CONFIG_DIR, OMBRIX_STATE_DIR y OMBRIX_LOG_DIR digan otra cosa. Con OMBRIX_SERVICE=1 en el "
        "entorno funciona como servicio del sistema."));
    KTCommandLine::acceptWindowSystemOptions(parser);
    return KTCommandLine::handle(parser, KTCommandLine::arguments(argc, argv));
}

} // namespace

int main(int argc, char* argv[])
{
    if (const int status = checkArguments(argc, argv); status != KTCommandLine::Run)
        return status;
    // Qt's own event dispatcher instead of GLib's: every connection thread
    // runs an event loop, and GLib's costs a fifth of the server's CPU per
    // request on a select by key. The operator's own setting wins.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QApplication application(argc, argv);
    application.setQuitOnLastWindowClosed(true);
    QTranslator translator;
    if (translator.load(QStringLiteral("qt_") + QLocale::system().name(),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        application.installTranslator(&translator);
    // Qt 6 reads and writes UTF-8 everywhere; nothing to set for plain strings.

    KTMainPanel panel;
    qInstallMessageHandler(logQtMessage);
    KTSignalWatcher stopSignals({SIGTERM, SIGINT, SIGHUP});
    QObject::connect(&stopSignals, &KTSignalWatcher::signalReceived, &panel, &KTMainPanel::stopOnSignal);
    QCoreApplication::addLibraryPath(QCoreApplication::applicationDirPath() + QStringLiteral("/SystemPlugins"));
    application.setStyleSheet(QStringLiteral("* { font: 75 7pt \"DejaVu Serif\" } \n"));
    panel.readServerSettings();
    panel.showWindow();
    panel.loadPanets(QStringLiteral("OmbrixServerPanets"), true);
    panel.warnIfSettingsReadable();
    panel.loadSettings();
    panel.updateDatabase();
    panel.startServing();
    const int exitCode = application.exec();
    // What the panel's destruction reports goes to standard error only.
    qInstallMessageHandler(nullptr);
    return exitCode;
}
