// Measures the server the way its users feel it: throughput and latency of
// the everyday requests with 1 to 128 clients at once, each next to the same
// SQL run directly against MariaDB, and the memory an idle connection costs.
//
//   OmbrixBenchmark [--seconds 10] [--clients 1,8,32,128] [--idle 0,100,200] [--storm 32,128] [--clerks] [--smoke]

#include "KTBenchmarkClient.h"
#include "KTBenchmarkServer.h"
#include "KTDirectBaseline.h"
#include "KTLoadRunner.h"
#include "KTRunCost.h"
#include "KTConnectStorm.h"
#include "KTPushLatency.h"
#include "KTWorkload.h"

#include <KTCommandLine.h>
#include <KTTestRedis.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSysInfo>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <memory>
#include <vector>

namespace {

QTextStream out(stdout);

// Ctrl+C or a kill ends the current run early, and the benchmark stops what it started.
void interrupt(int)
{
    KTLoadRunner::interrupted = true;
}

QList<int> numbers(const QString& list)
{
    QList<int> values;
    for (const QString& value : list.split(QLatin1Char(','), Qt::SkipEmptyParts))
        values << value.toInt();
    return values;
}

QString fixed(double value, int decimals = 1)
{
    return QString::number(value, 'f', decimals);
}

QString known(double value, int decimals)
{
    return value < 0 ? QStringLiteral("?") : fixed(value, decimals);
}

double serverOverDatabase(const KTRunCost& cost, int requests)
{
    const double panel = cost.panelMicroseconds(requests);
    const double database = cost.databaseMicroseconds(requests);
    return panel >= 0 && database > 0 ? panel / database : -1;
}

// What a request cost each process, and the panel's cost beside MariaDB's.
QString costColumns(const KTRunCost& cost, int requests)
{
    return known(cost.panelMicroseconds(requests), 0) + QStringLiteral(" | ")
        + known(cost.databaseMicroseconds(requests), 0) + QStringLiteral(" | ")
        + known(serverOverDatabase(cost, requests), 2) + QStringLiteral(" | ")
        + known(cost.benchmarkMicroseconds(requests), 0) + QStringLiteral(" | ")
        + known(cost.panelContextSwitches(requests), 1);
}

struct Figures {
    double serverPerSecond = 0;
    double serverP50 = 0;
    double directPerSecond = 0;
    double directP50 = 0;
    double serverOverDatabase = -1;
};

void latencyRow(QTextStream& out, const QString& name, int clients, const KTLoadRunner::Result& result)
{
    out << "| " << name << " | " << clients << " | " << fixed(result.perSecond()) << " | "
        << fixed(result.latency.percentileMs(0.5), 2) << " | " << fixed(result.latency.percentileMs(0.95), 2) << " | "
        << fixed(result.latency.percentileMs(0.99), 2) << " | " << result.failures + result.unprepared << " |\n";
    out.flush();
}

// Two panels on one database linked by a Redis of its own: the insert
// workload with the clients spread over both, beside all on one, and how
// long a push takes within one instance and across the two.
int runCluster(const QCommandLineParser& parser, const QList<int>& clientCounts, double seconds, QTextStream& out)
{
    KTTestRedis redis;
    if (!redis.start()) {
        QTextStream(stderr) << "OmbrixBenchmark: redis-server did not start\n";
        return 1;
    }
    const auto cluster = [&](const char* name) {
        return QStringLiteral("[Cluster]\nBroker=%1\nInstanceName=%2\n").arg(redis.url(), QLatin1String(name));
    };
    const int maxClients = *std::max_element(clientCounts.cbegin(), clientCounts.cend());
    KTBenchmarkServer north, south;
    north.setExtraSettings(cluster("norte"));
    south.setExtraSettings(cluster("sur"));
    if (!north.start(parser.value("app")) || !north.addUsers(maxClients + 2)
        || !south.startBeside(parser.value("app"), north)) {
        QTextStream(stderr) << "OmbrixBenchmark: " << north.errorString() << south.errorString() << '\n';
        return 1;
    }
    out << "# Ombrix Server benchmark, two instances\n\n" << QSysInfo::prettyProductName() << ", "
        << QThread::idealThreadCount() << " cores; " << seconds << " s per run\n\n"
        << "| insert | clients | req/s | p50 ms | p95 ms | p99 ms | failures |\n|---|---:|---:|---:|---:|---:|---:|\n";
    for (int clients : clientCounts)
        for (bool spread : {false, true}) {
            const KTLoadRunner::Result result = KTLoadRunner::run(clients, seconds, [&](int index) {
                const quint16 port = spread && index % 2 ? south.port() : north.port();
                return std::make_unique<KTWorkload>(KTWorkload::Insert, port, KTBenchmarkServer::userLogin(index));
            });
            latencyRow(out, spread ? QStringLiteral("spread over two") : QStringLiteral("all on one"), clients, result);
        }
    const int samples = parser.isSet("smoke") ? 10 : 200;
    out << "\n| push | samples | p50 ms | p95 ms | p99 ms | failures |\n|---|---:|---:|---:|---:|---:|\n";
    for (bool across : {false, true}) {
        int failures = 0;
        const KTLatencyStats stats = KTPushLatency::measure(
            north.port(), KTBenchmarkServer::userLogin(maxClients), across ? south.port() : north.port(),
            KTBenchmarkServer::userLogin(maxClients + 1), samples, &failures);
        out << "| " << (across ? "across instances" : "one instance") << " | " << stats.count() << " | "
            << fixed(stats.percentileMs(0.5), 2) << " | " << fixed(stats.percentileMs(0.95), 2) << " | "
            << fixed(stats.percentileMs(0.99), 2) << " | " << failures << " |\n";
        out.flush();
        if (failures)
            return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Ombrix Server benchmark"));
    parser.addOptions({{"seconds", "Seconds per workload and client count.", "s", "10"},
                       {"clients", "Client counts.", "list", "1,8,32,128"},
                       {"idle", "Idle logged-in connections to weigh.", "list", "0,100,200"},
                       {"storm",
                        "Users logging in at the same moment from one address (the server lets 64 wait per address).",
                        "list", "32,64"},
                       {"app", "Staged application directory.", "dir", OMBRIX_APP_DIR},
                       {"workloads", "Workloads to run, by number from 1 (select by key) to 5 (connect).", "list",
                        "1,2,3,4,5"},
                       {"hashed-keys", "Users' keys stored hashed, as OmbrixHashKeys leaves them."},
                       {"clerks", "Select and insert also as clerks of type 3, whose rights the server checks."},
                       {"tls", "Select by key, insert and connect also over the encrypted port."},
                       {"smoke", "A second per workload, few clients: checks that the program still works."},
                       {"cluster", "Two panels on one database linked by a Redis: inserts on both, push latency."}});
    if (const int status = KTCommandLine::handle(parser, app.arguments()); status != KTCommandLine::Run)
        return status;
    std::signal(SIGINT, interrupt);
    std::signal(SIGTERM, interrupt);
    const bool smoke = parser.isSet("smoke");
    const bool withClerks = smoke || parser.isSet("clerks");
    const bool withTls = smoke || parser.isSet("tls");
    const double seconds = smoke ? 0.5 : parser.value("seconds").toDouble();
    const QList<int> clientCounts = numbers(smoke ? QStringLiteral("1,2") : parser.value("clients"));
    const QList<int> idleCounts = numbers(smoke ? QStringLiteral("0,5") : parser.value("idle"));
    const QList<int> stormCounts = numbers(smoke ? QStringLiteral("4") : parser.value("storm"));

    if (parser.isSet("cluster"))
        return runCluster(parser, clientCounts, seconds, out);
    const int maxClients = *std::max_element(clientCounts.cbegin(), clientCounts.cend());
    const int maxIdle = *std::max_element(idleCounts.cbegin(), idleCounts.cend());
    const int maxStorm = *std::max_element(stormCounts.cbegin(), stormCounts.cend());
    KTBenchmarkServer server;
    if (!server.start(parser.value("app")) || (parser.isSet("hashed-keys") && !server.hashAdminKey())
        || !server.addUsers(qMax(maxClients + maxIdle, maxStorm))
        || (withClerks && !server.addClerks(maxClients))) {
        QTextStream(stderr) << "OmbrixBenchmark: " << server.errorString() << '\n';
        return 1;
    }
    out << "# Ombrix Server benchmark\n\n" << QSysInfo::prettyProductName() << ", " << QThread::idealThreadCount()
        << " cores; " << seconds << " s per run\n\n";
    out << "| workload | clients | req/s | p50 ms | p95 ms | p99 ms | direct req/s | direct p50 ms | ratio | server RSS MiB "
           "| server µs/req | MariaDB µs/req | server/MariaDB | benchmark µs/req | server switches/req |\n"
        << "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
    out.flush();

    int problems = 0;
    QMap<QPair<int, int>, Figures> figures;
    const QList<int> chosen = numbers(parser.value("workloads"));
    const int quiet = server.databaseConnections();
    const qint64 databasePid = server.databasePid();
    // Select and insert run again for clerks of type 3 when asked, beside the
    // administrators' figures: the difference is what the access policy costs.
    // Over TLS when asked, the same workloads again: the difference is what
    // the encryption (and for connect, the handshake) costs.
    struct Run {
        KTWorkload::Kind kind;
        bool clerks;
        bool tls;
    };
    QList<Run> runs;
    for (KTWorkload::Kind kind : KTWorkload::all)
        runs << Run{kind, false, false};
    if (withClerks)
        runs << Run{KTWorkload::SelectByKey, true, false} << Run{KTWorkload::Insert, true, false};
    if (withTls && server.tlsPort() == 0) {
        QTextStream(stderr) << "OmbrixBenchmark: no certificate for the encrypted port (is openssl installed?)\n";
        return 1;
    }
    if (withTls)
        runs << Run{KTWorkload::SelectByKey, false, true} << Run{KTWorkload::Insert, false, true}
             << Run{KTWorkload::Connect, false, true};
    for (const auto& [kind, clerks, tls] : runs) {
        if (!chosen.contains(int(kind) + 1) || KTLoadRunner::interrupted)
            continue;
        const QString name = KTWorkload::name(kind) + (clerks ? QStringLiteral(" (type 3)") : QString())
            + (tls ? QStringLiteral(" (TLS)") : QString());
        const quint16 port = tls ? server.tlsPort() : server.port();
        KTWorkload sample(kind, port, KTBenchmarkServer::adminLogin, tls);
        if (!sample.prepare()) {
            QTextStream(stderr) << "OmbrixBenchmark: cannot prepare " << KTWorkload::name(kind) << '\n';
            return 1;
        }
        const QStringList statements = KTDirectBaseline::capture(server, [&] { return sample.step(); });
        for (int clients : clientCounts) {
            if (KTLoadRunner::interrupted)
                break;
            KTRunCost cost(server.panelPid(), databasePid);
            const KTLoadRunner::Result measured = KTLoadRunner::run(
                clients, seconds,
                [&](int index) {
                    return std::make_unique<KTWorkload>(kind, port,
                                                        clerks ? KTBenchmarkServer::clerkLogin(index)
                                                               : KTBenchmarkServer::userLogin(index),
                                                        tls);
                },
                [&] { cost.start(); }, [&] { cost.stop(); });
            const qint64 resident = server.residentKiB();
            // The direct run starts once the server has closed the clients' database connections.
            server.waitForConnectionsAtMost(quiet + 1);
            const KTLoadRunner::Result direct = KTLoadRunner::run(
                clients, seconds, KTDirectBaseline::replay(server, statements, kind == KTWorkload::Connect));
            problems += measured.failures + measured.unprepared + direct.failures + direct.unprepared;
            const double ratio = direct.perSecond() > 0 ? measured.perSecond() / direct.perSecond() : 0;
            if (!clerks && !tls)
                figures[{kind, clients}] = {measured.perSecond(), measured.latency.percentileMs(0.5), direct.perSecond(),
                                            direct.latency.percentileMs(0.5),
                                            serverOverDatabase(cost, measured.latency.count())};
            out << "| " << name << " | " << clients << " | " << fixed(measured.perSecond()) << " | "
                << fixed(measured.latency.percentileMs(0.5), 2) << " | " << fixed(measured.latency.percentileMs(0.95), 2)
                << " | " << fixed(measured.latency.percentileMs(0.99), 2) << " | " << fixed(direct.perSecond()) << " | "
                << fixed(direct.latency.percentileMs(0.5), 2) << " | " << fixed(ratio, 2) << " | "
                << fixed(resident / 1024.0) << " | " << costColumns(cost, measured.latency.count()) << " |";
            if (measured.failures + measured.unprepared + direct.failures + direct.unprepared)
                out << " failures: " << measured.failures + measured.unprepared << " server, "
                    << direct.failures + direct.unprepared << " direct";
            out << '\n';
            out.flush();
        }
        out.flush();
    }

    out << "\n| idle logged-in connections | server RSS MiB |\n|---:|---:|\n";
    std::vector<std::unique_ptr<KTBenchmarkClient>> idle;
    QList<QPair<int, qint64>> weights;
    for (int count : idleCounts) {
        if (KTLoadRunner::interrupted)
            break;
        while (int(idle.size()) < count) {
            idle.push_back(std::make_unique<KTBenchmarkClient>(
                server.port(), KTBenchmarkServer::userLogin(maxClients + int(idle.size()))));
            problems += idle.back()->logIn() ? 0 : 1;
        }
        QThread::msleep(1000);
        weights << qMakePair(count, server.residentKiB());
        out << "| " << count << " | " << fixed(weights.last().second / 1024.0) << " |\n";
        out.flush();
    }
    if (weights.size() >= 2 && weights.last().first > weights.first().first)
        out << "\nper idle connection: "
            << fixed(double(weights.last().second - weights.first().second)
                         / (weights.last().first - weights.first().first), 0)
            << " KiB\n";
    idle.clear();

    out << "\n| connect storm: users at once from one address | all in ms | p50 ms | p99 ms | failures |\n"
        << "|---:|---:|---:|---:|---:|\n";
    for (int users : stormCounts) {
        if (KTLoadRunner::interrupted)
            break;
        server.waitForConnectionsAtMost(quiet + 1);
        const KTConnectStorm::Result storm = KTConnectStorm::run(server.port(), users, 0);
        problems += storm.failures;
        out << "| " << users << " | " << fixed(storm.allInMs) << " | " << fixed(storm.latency.percentileMs(0.5), 2)
            << " | " << fixed(storm.latency.percentileMs(0.99), 2) << " | " << storm.failures << " |\n";
        out.flush();
    }

    out << "\nTargets: ";
    const int eight = clientCounts.contains(8) ? 8 : clientCounts.last();
    const auto ratioAt = [&](KTWorkload::Kind kind) {
        const Figures f = figures.value({kind, eight});
        return f.directPerSecond > 0 ? f.serverPerSecond / f.directPerSecond : 0.0;
    };
    out << "select/direct at N=" << eight << " " << fixed(ratioAt(KTWorkload::SelectByKey), 2) << " (>= 0.5); "
        << "insert/direct " << fixed(ratioAt(KTWorkload::Insert), 2) << " (>= 0.6); ";
    const double full = figures.value({KTWorkload::BrowseFull, eight}).serverPerSecond;
    out << "browse unchanged/full "
        << fixed(full > 0 ? figures.value({KTWorkload::BrowseUnchanged, eight}).serverPerSecond / full : 0, 1)
        << " (>= 10); connect p50 at N=" << clientCounts.first() << " "
        << fixed(figures.value({KTWorkload::Connect, clientCounts.first()}).serverP50, 2) << " ms (< 20)\n";
    const auto cpuAt = [&](KTWorkload::Kind kind) { return known(figures.value({kind, eight}).serverOverDatabase, 2); };
    const Figures single = figures.value({KTWorkload::SelectByKey, clientCounts.first()});
    out << "server/MariaDB at N=" << eight << ": select " << cpuAt(KTWorkload::SelectByKey) << " (<= 1.0), insert "
        << cpuAt(KTWorkload::Insert) << " (<= 1.0), browse full " << cpuAt(KTWorkload::BrowseFull)
        << " (<= 2.0); select p50 at N=" << clientCounts.first() << " " << fixed(single.serverP50 - single.directP50, 2)
        << " ms above direct (<= 0.2)\n";
    if (problems)
        out << "\n" << problems << " requests or logins failed\n";
    out.flush();
    server.stop();
    return problems ? 2 : 0;
}
