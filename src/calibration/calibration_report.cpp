#include "calibration/calibration_report.h"

#include "calibration/fixed_format.h"

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
