#include "KTLatencyStats.h"

#include <algorithm>
#include <cmath>

double KTLatencyStats::percentileMs(double fraction) const
{
    if (_samples.isEmpty())
        return 0;
    if (!_sorted) {
        std::sort(_samples.begin(), _samples.end());
        _sorted = true;
    }
    // Nearest rank.
    const qsizetype rank = qBound<qsizetype>(1, qsizetype(std::ceil(fraction * _samples.size())), _samples.size());
    return _samples.at(rank - 1) / 1e6;
}
