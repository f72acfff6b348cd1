#include "KTCommandLine.h"

#include "KTVersion.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QTextStream>

int KTCommandLine::handle(QCommandLineParser& parser, const QStringList& arguments)
{
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Muestra esta ayuda y termina."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Muestra la versión y termina."));
    parser.addOption(help);
    parser.addOption(version);
    const QString program = QFileInfo(arguments.value(0)).fileName();
    if (!parser.parse(arguments)) {
        QTextStream(stderr) << program << ": " << parser.errorText() << "\n"
                            << QStringLiteral("Pruebe '%1 --help'.").arg(program) << "\n";
        return UsageError;
    }
    if (parser.isSet(help)) {
        // Without an application object Qt does not know the program's name.
        QTextStream(stdout) << helpText(parser).replace(QStringLiteral("<executable_name>"), program);
        return 0;
    }
    if (parser.isSet(version)) {
        QTextStream(stdout) << program << ' ' << KTVersion::ombrixServerVersion() << '\n';
        return 0;
    }
    return Run;
}

QString KTCommandLine::helpText(const QCommandLineParser& parser)
{
    QString text = parser.helpText();
    text.replace(QStringLiteral("Usage:"), QStringLiteral("Uso:"));
    text.replace(QStringLiteral("Options:"), QStringLiteral("Opciones:"));
    text.replace(QStringLiteral("Arguments:"), QStringLiteral("Argumentos:"));
    text.replace(QStringLiteral("[options]"), QStringLiteral("[opciones]"));
    return text;
}

QStringList KTCommandLine::arguments(int argc, char* argv[])
{
    QStringList list;
    for (int i = 0; i < argc; ++i)
        list << QString::fromLocal8Bit(argv[i]);
    return list;
}

void KTCommandLine::acceptWindowSystemOptions(QCommandLineParser& parser)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const char* name : {"platform", "platformpluginpath", "platformtheme", "plugin", "style", "stylesheet",
                             "display", "geometry", "qwindowgeometry", "qwindowtitle", "qwindowicon"}) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("valor"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : {"reverse", "nograb", "dograb", "sync"}) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}
