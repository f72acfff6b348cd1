#ifndef KTCOMMANDLINE_H
#define KTCOMMANDLINE_H

#include <QString>
#include <QStringList>

class QCommandLineParser;

// What every program of the server does with its command line before it
// starts anything: --help and --version print and end the program with 0,
// an option it does not know ends it with 2. Nothing is opened or written
// before these are answered.
class KTCommandLine
{
public:
    static constexpr int Run = -1;
    static constexpr int UsageError = 2;

    // Adds --help and --version to the parser and parses the arguments (the
    // program's name first). Run when the program goes on; otherwise the
    // status it ends with, its text already printed.
    static int handle(QCommandLineParser& parser, const QStringList& arguments);
    // Qt's help text with this system's headings.
    static QString helpText(const QCommandLineParser& parser);
    // The arguments as the program received them, before any application object exists.
    static QStringList arguments(int argc, char* argv[]);
    // Qt's own options of a program with windows ("-platform offscreen"),
    // which its application object reads: accepted, and left out of the help.
    static void acceptWindowSystemOptions(QCommandLineParser& parser);
};

#endif
