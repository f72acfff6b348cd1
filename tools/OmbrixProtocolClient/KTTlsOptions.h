#ifndef KTTLSOPTIONS_H
#define KTTLSOPTIONS_H

#include <QCommandLineOption>
#include <QList>
#include <QString>

class KTProtocolClient;
class QCommandLineParser;

// The command-line options that make a tool's client connect with TLS:
// --tls, --ca FILE and --insecure, the same in every tool.
class KTTlsOptions
{
public:
    static QList<QCommandLineOption> options();
    // Sets client up as the parsed options ask; false, with the reason in
    // *error, when they do not fit together or the CA file is unusable.
    static bool apply(const QCommandLineParser& parser, KTProtocolClient* client, QString* error);
};

#endif
