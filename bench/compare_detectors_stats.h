#pragma once
// Small helpers of the detector comparison: order statistics of timings,
// nearest-true-corner matching, error sums and the parsing of frame sizes.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace vexel::bench {

// The value at `fraction` (0 .. 1) of the sorted values, interpolated linearly
// between neighbouring order statistics (0.5 gives the median). NaN when
// there are no values.
inline double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return std::numeric_limits<double>::quiet_NaN();
    std::sort(values.begin(), values.end());
    fraction = std::clamp(fraction, 0.0, 1.0);
    const double position = fraction * static_cast<double>(values.size() - 1);
    const size_t below = static_cast<size_t>(std::floor(position));
    const size_t above = std::min(below + 1, values.size() - 1);
    const double weight = position - static_cast<double>(below);
    return values[below] + weight * (values[above] - values[below]);
}

inline double median(std::vector<double> values) { return percentile(std::move(values), 0.5); }

// A true corner: its pattern position and its image position.
struct TrueCorner {
    int patternX = 0;
    int patternY = 0;
    double x = 0.0;
    double y = 0.0;
};

// Index of the true corner nearest to (x, y) and its distance; -1 (distance
// infinite) when there are none. Ties go to the earlier corner.
inline int nearestTrueCorner(const std::vector<TrueCorner>& truth, double x, double y, double& distance) {
    int best = -1;
    double bestSquare = std::numeric_limits<double>::infinity();
    for (size_t i = 0; i < truth.size(); ++i) {
        const double dx = truth[i].x - x, dy = truth[i].y - y;
        const double square = dx * dx + dy * dy;
        if (square < bestSquare) {
            bestSquare = square;
            best = static_cast<int>(i);
        }
    }
    distance = std::sqrt(bestSquare);
    return best;
}

// Running RMS and maximum of corner errors.
struct ErrorSum {
    double sumSquares = 0.0;
    double max = 0.0;
    long count = 0;

    void add(double error) {
        sumSquares += error * error;
        max = std::max(max, error);
        ++count;
    }
    double rms() const {
        return count > 0 ? std::sqrt(sumSquares / static_cast<double>(count))
                         : std::numeric_limits<double>::quiet_NaN();
    }
    double maximum() const { return count > 0 ? max : std::numeric_limits<double>::quiet_NaN(); }
};

// Parses "WIDTHxHEIGHT" with both dimensions in 16 .. 16384; false otherwise.
inline bool parseSize(const std::string& text, int& width, int& height) {
    const size_t cross = text.find('x');
    if (cross == std::string::npos || cross == 0 || cross + 1 >= text.size()) return false;
    auto parse = [](const std::string& digits, int& out) {
        if (digits.empty() || digits.size() > 5) return false;
        int value = 0;
        for (char c : digits) {
            if (c < '0' || c > '9') return false;
            value = value * 10 + (c - '0');
        }
        if (value < 16 || value > 16384) return false;
        out = value;
        return true;
    };
    int w = 0, h = 0;
    if (!parse(text.substr(0, cross), w) || !parse(text.substr(cross + 1), h)) return false;
    width = w;
    height = h;
    return true;
}

// The closing line of a run: the peer's median time over ours at 640 x 480,
// "n/a" when it was not measured.
inline std::string speedupLine(double ratio) {
    char buffer[96];
    if (std::isfinite(ratio) && ratio > 0.0)
        std::snprintf(buffer, sizeof buffer, "speedup vs findChessboardCorners at 640x480: %.1fx", ratio);
    else
        std::snprintf(buffer, sizeof buffer, "speedup vs findChessboardCorners at 640x480: n/a");
    return buffer;
}

// One line per frame size: our median time over findChessboardCorners'
// (with cornerSubPix) on the views with the board; below 1 means ours is
// faster.
inline std::string timeRatioLine(int width, int height, double oursMs, double peerMs) {
    char buffer[160];
    if (std::isfinite(oursMs) && std::isfinite(peerMs) && oursMs > 0.0 && peerMs > 0.0)
        std::snprintf(buffer, sizeof buffer,
                      "ours/findChessboardCorners median time ratio at %dx%d: %.2f (%.3f ms / %.3f ms)", width,
                      height, oursMs / peerMs, oursMs, peerMs);
    else
        std::snprintf(buffer, sizeof buffer, "ours/findChessboardCorners median time ratio at %dx%d: n/a", width,
                      height);
    return buffer;
}

// `value` with `decimals` decimals, right-aligned in `width` characters ("-"
// when it is not finite). A value wider than its column (minutes in
// milliseconds) gets a leading space so that it stays apart from the column
// before it; width 0 is for values inside a sentence.
inline std::string fixed(double value, int decimals, int width) {
    char buffer[64];
    if (std::isfinite(value))
        std::snprintf(buffer, sizeof buffer, "%*.*f", width, decimals, value);
    else
        std::snprintf(buffer, sizeof buffer, "%*s", width, "-");
    if (width > 0 && buffer[0] != ' ') return std::string(" ") + buffer;
    return buffer;
}

}  // namespace vexel::bench
