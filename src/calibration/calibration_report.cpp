#include "calibration/calibration_report.h"

#include <cmath>
#include <numeric>

#include "calibration/fixed_format.h"
#include "calibration/plural.h"

using vexel::appendFixed;

namespace {

// "%15lf %15lf %15lf"
std::string wideRow(const double* values) {
    std::string line;
    for (int i = 0; i < 3; ++i) {
        if (i > 0) line += ' ';
        appendFixed(line, values[i], 15);
    }
    return line;
}

std::string bracketed(const std::string& prefix, const double* values, int count) {
    std::string line = prefix + "[";
    for (int i = 0; i < count; ++i) {
        if (i > 0) line += ' ';
        appendFixed(line, values[i]);
    }
    return line + "]";
}

// Decimals that show two significant digits of `deviation`: 2 for 0.16,
// 3 for 0.012; never fewer than 2 nor more than 8.
int decimalsFor(double deviation) {
    if (!(deviation > 0) || !std::isfinite(deviation)) return 2;
    const int digits = 1 - static_cast<int>(std::floor(std::log10(deviation)));
    return digits < 2 ? 2 : digits > 8 ? 8 : digits;
}

}  // namespace

std::vector<std::string> calibrationReportLines(const CalibrationRecord& record, bool extrinsic) {
    std::vector<std::string> lines;
    lines.push_back("Camera Intrinsic Parameters:");
    lines.push_back("focal length x pixel width = " + vexel::formatFixed(record.fx()));
    lines.push_back("focal length x pixel height = " + vexel::formatFixed(record.fy()));
    const double principal[2] = {record.cx(), record.cy()};
    lines.push_back(bracketed("principle point = ", principal, 2));
    lines.push_back(bracketed("distortion coefficients = ", &record.values[CalibrationRecord::DISTORTION], 4));
    if (extrinsic) {
        lines.push_back("Rotation matrix:");
        for (int row = 0; row < 3; ++row) lines.push_back(wideRow(&record.values[CalibrationRecord::ROTATION + 3 * row]));
        lines.push_back("Translation vector:");
        lines.push_back(wideRow(&record.values[CalibrationRecord::TRANSLATION]));
    }
    return lines;
}

std::vector<std::string> calibrationQualityLines(const CalibrationRecord& record, const CalibrationStats& stats) {
    std::vector<std::string> lines;
    if (!stats.valid) return lines;
    const int frames = static_cast<int>(stats.frames.size());
    const int points = std::accumulate(stats.pointCounts.begin(), stats.pointCounts.end(), 0);
    lines.push_back("RMS reprojection error = " + vexel::formatDecimals(stats.rms, 4) + " px (" +
                    vexel::plural(frames, "frame", "frames") + ", " + vexel::plural(points, "point", "points") +
                    ")");
    const double values[8] = {record.fx(),           record.fy(),           record.cx(),
                              record.cy(),           record.distortion(0), record.distortion(1),
                              record.distortion(2), record.distortion(3)};
    for (int i = 0; i < 8; ++i) {
        const double deviation = stats.stdDeviations[static_cast<std::size_t>(i)];
        const int decimals = decimalsFor(deviation);
        lines.push_back(std::string(DEVIATION_NAMES[i]) + " = " + vexel::formatDecimals(values[i], decimals) + " \u00b1 " +
                        vexel::formatDecimals(deviation, decimals));
    }
    return lines;
}
