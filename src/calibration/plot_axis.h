#pragma once
// Where the value axis of a plot ends, shared by the window's charts and the
// command-line tool's pictures so that both show the same scales.

#include <cmath>

namespace vexel {

// The smallest of 1, 2, 2.5 and 5 times a power of ten that is not below
// `value`, so that the axis ends on a round number (1 for a value that is
// not positive or not finite).
inline double roundAxisEnd(double value) {
    if (!(value > 0) || !std::isfinite(value)) return 1.0;
    const double power = std::pow(10.0, std::floor(std::log10(value)));
    for (double step : {1.0, 2.0, 2.5, 5.0, 10.0})
        if (step * power >= value * (1 - 1e-12)) return step * power;
    return 10 * power;
}

}  // namespace vexel
