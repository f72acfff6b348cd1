#ifndef KTLATENCYSTATS_H
#define KTLATENCYSTATS_H

#include <QList>

// Request latencies of one measured run and what is reported of them.
class KTLatencyStats
{
public:
    void add(qint64 nanoseconds) { _samples << nanoseconds; }
    void merge(const KTLatencyStats& other) { _samples << other._samples; }
    int count() const { return int(_samples.size()); }
    // Milliseconds at the given fraction (0.5, 0.95, 0.99); 0 without samples.
    double percentileMs(double fraction) const;

private:
    mutable QList<qint64> _samples;
    mutable bool _sorted = false;
};

#endif
