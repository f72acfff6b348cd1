// Sends XML documents to a running server, one frame each, and prints every
// frame that comes back; for operators checking a server by hand and for
// scripts that replay recorded requests.

#include <KTCommandLine.h>
#include <KTProtocolClient.h>
#include <KTTlsOptions.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <cstdio>

namespace {

enum ExitCode { Sent = 0, ConnectionFailed = 1, UsageError = 2 };

QTextStream& errorStream()
{
    static QTextStream stream(stderr);
    return stream;
}

int usageError(const QCommandLineParser& parser, const QString& message)
{
    errorStream() << message << "\n\n" << KTCommandLine::helpText(parser) << Qt::flush;
    return UsageError;
}

bool readDocument(const QString& name, QString* text)
{
    QFile file(name);
    if (!(name == QLatin1String("-") ? file.open(stdin, QIODevice::ReadOnly) : file.open(QIODevice::ReadOnly)))
        return false;
    // fromUtf8 also drops the BOM that editors on the clients' platforms put
    // in front, which the server's parser would otherwise see before the root.
    *text = QString::fromUtf8(file.readAll());
    return file.error() == QFileDevice::NoError;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("OmbrixClientConsole"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate(
        "main", "Envía cada documento XML al servidor Ombrix en una trama propia, en orden, e imprime cada "
                "trama de respuesta separada por una línea en blanco."));
    const QCommandLineOption hostOption(QStringLiteral("host"),
                                        QCoreApplication::translate("main", "Servidor (por omisión 127.0.0.1)."),
                                        QStringLiteral("H"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QCoreApplication::translate("main", "Puerto (por omisión 6660)."),
                                        QStringLiteral("P"), QStringLiteral("6660"));
    const QCommandLineOption levelOption(
        QStringLiteral("level"),
        QCoreApplication::translate("main", "Nivel de compresión de 0 a 9, o -1 para el de zlib (por omisión 6)."),
        QStringLiteral("N"), QStringLiteral("6"));
    const QCommandLineOption waitOption(
        QStringLiteral("wait"),
        QCoreApplication::translate("main", "Milisegundos de silencio tras el último envío antes de terminar "
                                            "(por omisión 2000)."),
        QStringLiteral("MS"), QStringLiteral("2000"));
    parser.addOptions({hostOption, portOption, levelOption, waitOption});
    parser.addOptions(KTTlsOptions::options());
    parser.addPositionalArgument(
        QStringLiteral("FILE"),
        QCoreApplication::translate("main", "Documentos a enviar; sin ninguno, o con \"-\", la entrada estándar."),
        QStringLiteral("[FILE...]"));

    if (const int status = KTCommandLine::handle(parser, QCoreApplication::arguments()); status != KTCommandLine::Run)
        return status;

    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        return usageError(parser, QCoreApplication::translate("main", "Puerto no válido: %1")
                                      .arg(parser.value(portOption)));
    const int level = parser.value(levelOption).toInt(&ok);
    if (!ok || level < -1 || level > 9)
        return usageError(parser, QCoreApplication::translate("main", "Nivel de compresión no válido: %1")
                                      .arg(parser.value(levelOption)));
    const int wait = parser.value(waitOption).toInt(&ok);
    if (!ok || wait < 0)
        return usageError(parser, QCoreApplication::translate("main", "Espera no válida: %1")
                                      .arg(parser.value(waitOption)));

    QStringList names = parser.positionalArguments();
    if (names.isEmpty())
        names << QStringLiteral("-");
    if (names.count(QStringLiteral("-")) > 1)
        return usageError(parser,
                          QCoreApplication::translate("main", "La entrada estándar solo puede leerse una vez."));

    // Everything is read before connecting, so a bad file name sends nothing.
    QStringList documents;
    for (const QString& name : std::as_const(names)) {
        QString text;
        if (!readDocument(name, &text))
            return usageError(parser, QCoreApplication::translate("main", "No se pudo leer el archivo: %1").arg(name));
        documents << text;
    }

    KTProtocolClient client;
    QString tlsError;
    if (!KTTlsOptions::apply(parser, &client, &tlsError))
        return usageError(parser, tlsError);
    QTextStream out(stdout);
    bool first = true;
    // Frames are printed as they arrive, also while later documents are still being sent.
    QObject::connect(&client, &KTProtocolClient::frameReceived, [&](const QString& text) {
        if (!first)
            out << '\n';
        first = false;
        out << text;
        if (!text.endsWith(QLatin1Char('\n')))
            out << '\n';
        out.flush();
    });

    if (!client.connectToServer(parser.value(hostOption), quint16(port))) {
        errorStream() << client.errorString() << '\n' << Qt::flush;
        return ConnectionFailed;
    }
    for (const QString& document : std::as_const(documents)) {
        if (!client.send(document, level)) {
            errorStream() << client.errorString() << '\n' << Qt::flush;
            return ConnectionFailed;
        }
        client.clearReplies();
    }
    client.replies(wait);
    if (!client.errorString().isEmpty())
        errorStream() << client.errorString() << '\n' << Qt::flush;
    client.disconnectFromServer();
    return Sent;
}
