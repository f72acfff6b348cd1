#include "KTConnectStorm.h"

#include "KTBenchmarkClient.h"
#include "KTBenchmarkServer.h"

#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <memory>
#include <vector>

KTConnectStorm::Result KTConnectStorm::run(quint16 port, int users, int firstUser)
{
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<Result> partial(users);
    std::vector<std::unique_ptr<QThread>> workers;
    QElapsedTimer sinceGo;
    for (int index = 0; index < users; ++index) {
        workers.emplace_back(QThread::create([&, index] {
            KTBenchmarkClient client(port, KTBenchmarkServer::userLogin(firstUser + index));
            const bool negotiated = client.connectAndNegotiate();
            ++ready;
            while (!go.load())
                QThread::yieldCurrentThread();
            QElapsedTimer timer;
            timer.start();
            const bool in = negotiated && client.authenticate();
            partial[index].latency.add(timer.nsecsElapsed());
            partial[index].failures = in ? 0 : 1;
            partial[index].allInMs = double(sinceGo.nsecsElapsed()) / 1e6;
            client.disconnect();
        }));
        workers.back()->start();
    }
    while (ready.load() < users)
        QThread::msleep(5);
    sinceGo.start();
    go = true;
    for (auto& worker : workers)
        worker->wait();
    Result result;
    for (const Result& one : partial) {
        result.latency.merge(one.latency);
        result.failures += one.failures;
        result.allInMs = qMax(result.allInMs, one.allInMs);
    }
    return result;
}
