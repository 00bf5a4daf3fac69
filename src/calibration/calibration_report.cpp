#include "calibration/calibration_report.h"

#include <cmath>
#include <numeric>

#include <opencv2/calib3d.hpp>

#include "calibration/fixed_format.h"
#include "calibration/lens_fit.h"
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
    const std::vector<double> coefficients = record.distortionCoefficients();
    lines.push_back(
        bracketed("distortion coefficients = ", coefficients.data(), static_cast<int>(coefficients.size())));
    if (record.model != LensModel::OpenCv4) {
        std::string names;
        for (int i = 0; i < lensCoefficientCount(record.model); ++i)
            names += std::string(i > 0 ? " " : "") + lensCoefficientName(record.model, i);
        lines.push_back(std::string("lens model = ") + lensModelName(record.model) + " (" + names + ")");
    }
    if (extrinsic) {
        lines.push_back("Rotation matrix:");
        for (int row = 0; row < 3; ++row) lines.push_back(wideRow(&record.values[CalibrationRecord::ROTATION + 3 * row]));
        lines.push_back("Translation vector:");
        lines.push_back(wideRow(&record.values[CalibrationRecord::TRANSLATION]));
    }
    return lines;
}

std::vector<std::string> calibrationQualityLines(const CalibrationRecord& record, const CalibrationStats& stats,
                                                 double cellMm) {
    std::vector<std::string> lines;
    if (!stats.valid) return lines;
    const int frames = static_cast<int>(stats.frames.size());
    const int points = std::accumulate(stats.pointCounts.begin(), stats.pointCounts.end(), 0);
    // The fit belongs to the frames the calibration was made from: not
    // shown once they are no longer in the list.
    if (frames > 0)
        lines.push_back("RMS reprojection error = " + vexel::formatDecimals(stats.rms, 4) + " px (" +
                        vexel::plural(frames, "frame", "frames") + ", " + vexel::plural(points, "point", "points") +
                        ")");
    const std::vector<std::string> names = intrinsicParameterNames(record.model);
    std::vector<double> values = {record.fx(), record.fy(), record.cx(), record.cy()};
    for (double k : record.distortionCoefficients()) values.push_back(k);
    for (std::size_t i = 0; i < names.size() && i < stats.stdDeviations.size(); ++i) {
        const double deviation = stats.stdDeviations[i];
        const int decimals = decimalsFor(deviation);
        lines.push_back(names[i] + " = " + vexel::formatDecimals(values[i], decimals) + " \u00b1 " +
                        vexel::formatDecimals(deviation, decimals));
    }
    if (!stats.modelChoice.empty()) lines.push_back("lens model chosen: " + stats.modelChoice);
    if (stats.flex.estimated) lines.push_back(boardFlexLine(stats.flex, cellMm));
    return lines;
}

std::vector<std::string> fullReportLines(const CalibrationRecord& record, const CalibrationStats& stats,
                                         bool extrinsic, double cellSizeMm) {
    std::vector<std::string> lines = calibrationReportLines(record, extrinsic);
    for (std::string& line : calibrationQualityLines(record, stats, cellSizeMm)) lines.push_back(std::move(line));
    if (extrinsic)
        for (std::string& line : poseUnitLines(record, cellSizeMm)) lines.push_back(std::move(line));
    return lines;
}

std::vector<std::string> poseUnitLines(const CalibrationRecord& record, double cellSizeMm) {
    std::vector<std::string> lines;
    const bool mm = cellSizeMm > 0;
    const double scale = mm ? cellSizeMm : 1.0;
    std::string translation = "translation = [";
    for (int i = 0; i < 3; ++i) {
        if (i > 0) translation += ' ';
        translation += vexel::formatDecimals(record.translation(i) * scale, mm ? 2 : 4);
    }
    translation += mm ? "] mm (cell side " + vexel::formatDecimals(cellSizeMm, 2) + " mm)" : "] cells";
    lines.push_back(translation);

    cv::Matx33d rotation(&record.values[CalibrationRecord::ROTATION]);
    cv::Vec3d axis;
    cv::Rodrigues(rotation, axis);
    const double angle = cv::norm(axis);
    std::string line = "rotation = " + vexel::formatDecimals(angle * 180.0 / CV_PI, 2) + " degrees";
    if (angle > 0) {
        line += " about [";
        for (int i = 0; i < 3; ++i) {
            if (i > 0) line += ' ';
            line += vexel::formatDecimals(axis[i] / angle, 3);
        }
        line += "]";
    }
    lines.push_back(line);
    return lines;
}

std::vector<std::string> calibrationSummaryLines(const CalibrationRecord& record, const CalibrationStats& stats,
                                                 double cellSizeMm) {
    std::vector<std::string> lines;
    std::string lens = record.model == LensModel::Fisheye ? "Fisheye camera, distortion" : "Pinhole camera, distortion";
    for (int i = 0; i < lensCoefficientCount(record.model); ++i)
        lens += std::string(" ") + lensCoefficientName(record.model, i);
    if (record.model != LensModel::OpenCv4) lens += std::string(" (lens model ") + lensModelName(record.model) + ")";
    lines.push_back(lens + (stats.solver.empty() ? std::string() : ", " + stats.solver + " solver"));
    const std::string size = stats.imageSize.empty() ? std::string("image size unknown")
                                                     : std::to_string(stats.imageSize.width) + " x " +
                                                           std::to_string(stats.imageSize.height);
    const int frames = static_cast<int>(stats.frames.size());
    if (frames > 0) {
        const int points = std::accumulate(stats.pointCounts.begin(), stats.pointCounts.end(), 0);
        lines.push_back(std::to_string(frames) + (frames == 1 ? " frame, " : " frames, ") + std::to_string(points) +
                        (points == 1 ? " point, " : " points, ") + size);
    } else {
        lines.push_back((stats.valid ? "Made from frames no longer in the list, " : "Loaded from a file, ") + size);
    }
    std::string pose = stats.poseFrame >= 0 ? "Pose of frame " + std::to_string(stats.poseFrame) + ", c"
                                            : std::string("C");
    pose += cellSizeMm > 0 ? "ell side " + vexel::formatDecimals(cellSizeMm, 2) + " mm"
                           : std::string("ell side not set (poses in cells)");
    lines.push_back(pose);
    return lines;
}
