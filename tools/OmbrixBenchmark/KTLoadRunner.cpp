#include "KTLoadRunner.h"

#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <chrono>
#include <vector>

KTLoadRunner::Result KTLoadRunner::run(int threads, double seconds, const StepFactory& makeStep,
                                       const std::function<void()>& started, const std::function<void()>& stopped)
{
    using Clock = std::chrono::steady_clock;
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::atomic<int> finished{0};
    std::atomic<bool> release{false};
    Clock::time_point deadline;
    std::vector<Result> partial(threads);
    std::vector<std::unique_ptr<QThread>> workers;
    for (int index = 0; index < threads; ++index) {
        workers.emplace_back(QThread::create([&, index] {
            std::unique_ptr<Step> step = makeStep(index);
            const bool prepared = step->prepare();
            partial[index].unprepared = prepared ? 0 : 1;
            ++ready;
            while (!go.load())
                QThread::msleep(1);
            QElapsedTimer timer;
            while (prepared && Clock::now() < deadline && !interrupted) {
                timer.start();
                const bool ok = step->step();
                partial[index].latency.add(timer.nsecsElapsed());
                partial[index].failures += ok ? 0 : 1;
            }
            ++finished;
            while (!release.load())
                QThread::msleep(1);
        }));
        workers.back()->start();
    }
    while (ready.load() < threads)
        QThread::msleep(5);
    if (started)
        started();
    const Clock::time_point begin = Clock::now();
    deadline = begin + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    go = true;
    while (finished.load() < threads)
        QThread::msleep(1);
    const Clock::time_point end = Clock::now();
    if (stopped)
        stopped();
    release = true;
    for (auto& worker : workers)
        worker->wait();

    Result result;
    result.seconds = std::chrono::duration<double>(end - begin).count();
    for (const Result& one : partial) {
        result.latency.merge(one.latency);
        result.failures += one.failures;
        result.unprepared += one.unprepared;
    }
    return result;
}
