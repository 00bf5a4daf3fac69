#include "calibration/calibration_quality.h"

#include <algorithm>
#include <cmath>

std::vector<int> suspectFrames(const CalibrationStats& stats) {
    std::vector<int> suspects;
    const std::size_t n = std::min(stats.frames.size(), stats.perViewErrors.size());
    if (!stats.valid || n < 3) return suspects;
    // The median of the finite errors (a non-finite one cannot be ordered).
    std::vector<double> sorted;
    for (std::size_t i = 0; i < n; ++i)
        if (std::isfinite(stats.perViewErrors[i])) sorted.push_back(stats.perViewErrors[i]);
    std::sort(sorted.begin(), sorted.end());
    const std::size_t m = sorted.size();
    const double median = m == 0 ? 0.0 : m % 2 == 1 ? sorted[m / 2] : (sorted[m / 2 - 1] + sorted[m / 2]) / 2.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double error = stats.perViewErrors[i];
        // A non-finite error is no fit at all.
        if (!std::isfinite(error) || (error > SUSPECT_MEDIAN_FACTOR * median && error > SUSPECT_MIN_ERROR))
            suspects.push_back(stats.frames[i]);
    }
    return suspects;
}
