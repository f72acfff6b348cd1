#include "KTDirectBaseline.h"

#include "KTBenchmarkServer.h"

#include <QSqlQuery>
#include <QThread>

#include <atomic>

namespace {

std::atomic<int> connectionCounter{0};

class DirectStep : public KTLoadRunner::Step
{
public:
    DirectStep(const KTBenchmarkServer& server, const QStringList& statements, bool reconnect)
        : _server(server), _statements(statements), _reconnect(reconnect)
    {
    }

    ~DirectStep() override { close(); }

    bool prepare() override { return _reconnect || open(); }

    bool step() override
    {
        if (_reconnect && !open())
            return false;
        bool ok = true;
        {
            QSqlQuery query(QSqlDatabase::database(_name, false));
            for (const QString& statement : _statements)
                ok = query.exec(statement) && ok;
        }
        if (_reconnect)
            close();
        return ok;
    }

private:
    bool open()
    {
        _name = QStringLiteral("direct-%1").arg(++connectionCounter);
        return _server.openDatabase(_name).isOpen();
    }

    void close()
    {
        if (_name.isEmpty())
            return;
        QSqlDatabase::database(_name, false).close();
        QSqlDatabase::removeDatabase(_name);
        _name.clear();
    }

    const KTBenchmarkServer& _server;
    const QStringList _statements;
    const bool _reconnect;
    QString _name;
};

} // namespace

QStringList KTDirectBaseline::capture(const KTBenchmarkServer& server, const std::function<bool()>& request)
{
    QStringList statements;
    {
        QSqlQuery log(server.openOwnerDatabase(QStringLiteral("benchCapture")));
        log.exec(QStringLiteral("SET GLOBAL log_output = 'TABLE'"));
        log.exec(QStringLiteral("TRUNCATE TABLE mysql.general_log"));
        log.exec(QStringLiteral("SET GLOBAL general_log = 1"));
        request();
        // What the server does after the reply (the logout of a closed connection) belongs to it too.
        QThread::msleep(300);
        log.exec(QStringLiteral("SET GLOBAL general_log = 0"));
        log.exec(QStringLiteral("SELECT CONVERT(argument USING utf8mb4) FROM mysql.general_log WHERE thread_id <> "
                                "CONNECTION_ID() AND command_type IN ('Query', 'Execute')"));
        while (log.next())
            statements << log.value(0).toString();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("benchCapture"));
    return statements;
}

KTLoadRunner::StepFactory KTDirectBaseline::replay(const KTBenchmarkServer& server, const QStringList& statements,
                                                   bool reconnect)
{
    return [&server, statements, reconnect](int) {
        return std::make_unique<DirectStep>(server, statements, reconnect);
    };
}
