#include "KTTestRedis.h"

#include <QDeadlineTimer>
#include <QTcpServer>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>

namespace {

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

KTTestRedis::KTTestRedis()
{
    _process.setWorkingDirectory(_dir.path());
    _process.setProcessChannelMode(QProcess::MergedChannels);
    // The server ends with the test program, however that ends.
    _process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

KTTestRedis::~KTTestRedis()
{
    stop();
}

bool KTTestRedis::start()
{
    if (running())
        return true;
    if (_port == 0)
        _port = freePort();
    _process.start(QStringLiteral("redis-server"),
                   {QStringLiteral("--port"), QString::number(_port), QStringLiteral("--bind"),
                    QStringLiteral("127.0.0.1"), QStringLiteral("--save"), QString(), QStringLiteral("--appendonly"),
                    QStringLiteral("no"), QStringLiteral("--daemonize"), QStringLiteral("no"), QStringLiteral("--dir"),
                    _dir.path()});
    if (!_process.waitForStarted(10000))
        return false;
    // Ready once it answers; a generous bound only for a server that never does.
    const QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired() && running()) {
        if (command({QStringLiteral("PING")}).trimmed() == QLatin1String("PONG"))
            return true;
        QThread::msleep(50);
    }
    return false;
}

void KTTestRedis::stop()
{
    if (!running())
        return;
    _process.terminate();
    if (!_process.waitForFinished(10000)) {
        _process.kill();
        _process.waitForFinished();
    }
}

QString KTTestRedis::command(const QStringList& arguments) const
{
    QProcess cli;
    cli.start(QStringLiteral("redis-cli"),
              QStringList{QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QString::number(_port)}
                  + arguments);
    if (!cli.waitForFinished(10000) || cli.exitCode() != 0)
        return QString();
    return QString::fromUtf8(cli.readAllStandardOutput());
}
