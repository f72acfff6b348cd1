#ifndef KTLOADRUNNER_H
#define KTLOADRUNNER_H

#include "KTLatencyStats.h"

#include <atomic>
#include <functional>
#include <memory>

// Runs the same step on a number of threads at once for a fixed time and
// gathers the latency of every step. Each thread gets its own step object,
// made and prepared on that thread before the clock starts.
class KTLoadRunner
{
public:
    class Step
    {
    public:
        virtual ~Step() = default;
        virtual bool prepare() = 0;
        virtual bool step() = 0;
    };
    using StepFactory = std::function<std::unique_ptr<Step>(int threadIndex)>;

    struct Result {
        KTLatencyStats latency;
        int failures = 0;
        int unprepared = 0;
        double seconds = 0;
        double perSecond() const { return seconds > 0 ? latency.count() / seconds : 0; }
    };

    // started runs just before the clock starts, stopped when the last step
    // has ended and before any step object is destroyed (clients still
    // connected), so that what they read covers the measured steps only.
    static Result run(int threads, double seconds, const StepFactory& makeStep,
                      const std::function<void()>& started = {}, const std::function<void()>& stopped = {});
    // Set from a signal handler: the run in progress ends at its next step.
    static inline std::atomic<bool> interrupted{false};
};

#endif
