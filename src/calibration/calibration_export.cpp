#include "calibration/calibration_export.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include "calibration/output_file.h"

namespace {

// A double in the shortest form that reads back to the same value, always
// with a decimal point so that every reader takes it for a floating-point
// number. Non-finite values get the YAML spellings.
std::string number(double value) {
    if (std::isnan(value)) return ".nan";
    if (std::isinf(value)) return value < 0 ? "-.inf" : ".inf";
    std::array<char, 64> buffer{};
    auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    std::string text(buffer.data(), result.ptr);
    if (text.find('.') == std::string::npos) {
        const std::size_t e = text.find('e');
        text.insert(e == std::string::npos ? text.size() : e, ".0");
    }
    return text;
}

std::string list(const std::vector<double>& values) {
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i) {
        out += i == 0 ? " " : ", ";
        out += number(values[i]);
    }
    out += values.empty() ? "]" : " ]";
    return out;
}

std::vector<double> cameraMatrix(const CalibrationRecord& r) {
    // The library's published form: zero off the diagonal, 1 in the corner,
    // whatever the record's other elements hold after a labelled load.
    return {r.fx(), 0.0, r.cx(), 0.0, r.fy(), r.cy(), 0.0, 0.0, 1.0};
}

std::vector<double> distortion(const CalibrationRecord& r) {
    return {r.distortion(0), r.distortion(1), r.distortion(2), r.distortion(3), 0.0};
}

std::string opencvMatrix(const std::string& name, int rows, int cols, const std::vector<double>& data) {
    return name + ": !!opencv-matrix\n   rows: " + std::to_string(rows) + "\n   cols: " + std::to_string(cols) +
           "\n   dt: d\n   data: " + list(data) + "\n";
}

std::string plainMatrix(const std::string& name, int rows, int cols, const std::vector<double>& data) {
    return name + ":\n  rows: " + std::to_string(rows) + "\n  cols: " + std::to_string(cols) + "\n  data: " +
           list(data) + "\n";
}

// A YAML double-quoted scalar of UTF-8 text: backslash and quote escaped,
// control characters (C1 ones included, which YAML does not allow as they
// are) as \xNN; other characters as they are.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        unsigned control = 0x100;
        if (c < 0x20 || c == 0x7f) {
            control = c;
        } else if (c == 0xc2 && i + 1 < text.size()) {
            const unsigned char next = static_cast<unsigned char>(text[i + 1]);
            if (next >= 0x80 && next <= 0x9f) {
                control = next;
                ++i;
            }
        }
        if (control < 0x100) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", control);
            out += escape;
        } else {
            if (c == '"' || c == '\\') out += '\\';
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

}  // namespace

std::string formatOpenCvYaml(const CalibrationRecord& record, const CalibrationStats& stats, double cellSizeMm) {
    std::string out = "%YAML:1.0\n---\n";
    out += "image_width: " + std::to_string(stats.imageSize.width) + "\n";
    out += "image_height: " + std::to_string(stats.imageSize.height) + "\n";
    out += opencvMatrix("camera_matrix", 3, 3, cameraMatrix(record));
    out += opencvMatrix("distortion_coefficients", 1, 5, distortion(record));
    out += "avg_reprojection_error: " + number(stats.rms) + "\n";
    if (!stats.perViewErrors.empty())
        out += opencvMatrix("per_view_reprojection_errors", static_cast<int>(stats.perViewErrors.size()), 1,
                            stats.perViewErrors);
    out += "nr_of_frames: " + std::to_string(stats.frames.size()) + "\n";
    if (cellSizeMm > 0) out += "square_size: " + number(cellSizeMm) + "\n";
    return out;
}

std::string formatCameraInfoYaml(const CalibrationRecord& record, const CalibrationStats& stats,
                                 const std::string& cameraName) {
    std::string out;
    out += "image_width: " + std::to_string(stats.imageSize.width) + "\n";
    out += "image_height: " + std::to_string(stats.imageSize.height) + "\n";
    out += "camera_name: " + quoted(cameraName) + "\n";
    out += plainMatrix("camera_matrix", 3, 3, cameraMatrix(record));
    out += "distortion_model: plumb_bob\n";
    out += plainMatrix("distortion_coefficients", 1, 5, distortion(record));
    out += plainMatrix("rectification_matrix", 3, 3, {1, 0, 0, 0, 1, 0, 0, 0, 1});
    out += plainMatrix("projection_matrix", 3, 4,
                       {record.fx(), 0.0, record.cx(), 0.0, 0.0, record.fy(), record.cy(), 0.0, 0.0, 0.0, 1.0, 0.0});
    return out;
}

bool writeOpenCvYaml(const std::string& path, const CalibrationRecord& record, const CalibrationStats& stats,
                     std::string* error, const vexel::OutputOptions& output, double cellSizeMm) {
    return vexel::writeOutputFile(path, formatOpenCvYaml(record, stats, cellSizeMm), error, output);
}

bool writeCameraInfoYaml(const std::string& path, const CalibrationRecord& record, const CalibrationStats& stats,
                         const std::string& cameraName, std::string* error, const vexel::OutputOptions& output) {
    if (!isValidUtf8(cameraName)) {
        if (error) *error = "cannot write " + path + ": the camera name is not UTF-8 text";
        return false;
    }
    return vexel::writeOutputFile(path, formatCameraInfoYaml(record, stats, cameraName), error, output);
}
