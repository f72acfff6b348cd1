#ifndef KTTESTREDIS_H
#define KTTESTREDIS_H

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// A throwaway Redis for one test program: its own redis-server on a free
// loopback port, nothing saved, in a private folder; stopped by its pid, and
// ended with the test program should that die first. It can be stopped and
// started again on the same port, as a broker restart.
class KTTestRedis
{
public:
    KTTestRedis();
    ~KTTestRedis();

    bool start();
    void stop();
    bool running() const { return _process.state() == QProcess::Running; }
    quint16 port() const { return _port; }
    QString url() const { return QStringLiteral("redis://127.0.0.1:%1").arg(_port); }
    // Runs one command with redis-cli; its output, or a null text when it failed.
    QString command(const QStringList& arguments) const;

private:
    QTemporaryDir _dir;
    QProcess _process;
    quint16 _port = 0;
};

#endif
