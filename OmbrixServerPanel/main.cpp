#include "KTMainPanel.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    application.setQuitOnLastWindowClosed(true);
    QTranslator translator;
    if (translator.load(QStringLiteral("qt_") + QLocale::system().name(),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        application.installTranslator(&translator);
    // Qt 6 reads and writes UTF-8 everywhere; nothing to set for plain strings.

    KTMainPanel panel;
    QCoreApplication::addLibraryPath(QCoreApplication::applicationDirPath() + QStringLiteral("/SystemPlugins"));
    application.setStyleSheet(QStringLiteral("* { font: 75 7pt \"DejaVu Serif\" } \n"));
    panel.readServerSettings();
    panel.showMaximized();
    panel.loadPanets(QStringLiteral("OmbrixServerPanets"), true);
    panel.loadSettings();
    panel.updateDatabase();
    return application.exec();
}
