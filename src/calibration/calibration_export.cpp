#include "calibration/calibration_export.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <set>
#include <vector>

#include "calibration/calibration_views.h"
#include "calibration/fixed_format.h"
#include "calibration/output_file.h"
#include "grid/grid_set.h"

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

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

// The coefficients as both formats list them: five (k1, k2, p1, p2, k3) for
// the default and opencv5 models, eight for the rational one, four for the
// fisheye one.
std::vector<double> distortion(const CalibrationRecord& r) {
    std::vector<double> coefficients = r.distortionCoefficients();
    if (r.model == LensModel::OpenCv4) coefficients.push_back(0.0);
    return coefficients;
}

// The camera_info name of the model.
const char* rosDistortionModel(LensModel model) {
    switch (model) {
        case LensModel::Rational: return "rational_polynomial";
        case LensModel::Fisheye: return "equidistant";
        case LensModel::OpenCv4:
        case LensModel::OpenCv5: break;
    }
    return "plumb_bob";
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
    // As the library's calibration sample marks a fisheye calibration.
    if (record.model == LensModel::Fisheye) out += "fisheye_model: 1\n";
    out += opencvMatrix("camera_matrix", 3, 3, cameraMatrix(record));
    const std::vector<double> coefficients = distortion(record);
    out += opencvMatrix("distortion_coefficients", 1, static_cast<int>(coefficients.size()), coefficients);
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
    out += std::string("distortion_model: ") + rosDistortionModel(record.model) + "\n";
    const std::vector<double> coefficients = distortion(record);
    out += plainMatrix("distortion_coefficients", 1, static_cast<int>(coefficients.size()), coefficients);
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

ExportedCamera exportedCamera(const CalibrationRecord& record, const CalibrationStats& stats) {
    ExportedCamera camera;
    camera.fx = record.fx();
    camera.fy = record.fy();
    camera.cx = record.cx();
    camera.cy = record.cy();
    camera.model = lensModelName(record.model);
    camera.coefficients = record.distortionCoefficients();
    camera.width = stats.imageSize.width;
    camera.height = stats.imageSize.height;
    return camera;
}

namespace {

// The intrinsics fx, fy, cx, cy and the coefficients; false when one of
// them is not finite (no tool reads such a camera).
bool intrinsics(const ExportedCamera& camera, std::vector<double>& values, std::string& error) {
    values = {camera.fx, camera.fy, camera.cx, camera.cy};
    values.insert(values.end(), camera.coefficients.begin(), camera.coefficients.end());
    for (double v : values) {
        if (!std::isfinite(v)) {
            error = "the camera holds a value that is not a finite number";
            return false;
        }
    }
    return true;
}

std::string joined(const std::vector<double>& values, const char* separator) {
    std::string out;
    for (std::size_t i = 0; i < values.size(); ++i) out += (i ? separator : "") + number(values[i]);
    return out;
}

}  // namespace

bool formatMrcalModel(const ExportedCamera& camera, std::string& text, std::string& error) {
    std::string lensmodel;
    if (camera.model == "opencv4") lensmodel = "LENSMODEL_OPENCV4";
    else if (camera.model == "opencv5") lensmodel = "LENSMODEL_OPENCV5";
    else if (camera.model == "rational") lensmodel = "LENSMODEL_OPENCV8";
    if (lensmodel.empty()) {
        error = "mrcal has no lens model equal to the " + camera.model +
                " model; calibrate with another model or use mrcal's own tools on --mrcal-corners";
        return false;
    }
    std::vector<double> values;
    if (!intrinsics(camera, values, error)) return false;
    text = "{\n";
    text += "    'lensmodel':  '" + lensmodel + "',\n";
    text += "    # intrinsics are fx,fy,cx,cy,distortion0,distortion1,....\n";
    text += "    'intrinsics': [ " + joined(values, ", ") + ",],\n";
    text += "    # extrinsics are rt_fromref\n";
    text += "    'extrinsics': [ 0.0, 0.0, 0.0, 0.0, 0.0, 0.0,],\n";
    text += "    'imagersize': [ " + std::to_string(camera.width) + ", " + std::to_string(camera.height) + ",],\n";
    text += "}\n";
    return true;
}

bool formatKalibrCamchain(const ExportedCamera& camera, std::string& text, std::string& error) {
    const char* distortionModel = camera.model == "opencv4"   ? "radtan"
                                  : camera.model == "fisheye" ? "equidistant"
                                                              : nullptr;
    if (!distortionModel) {
        error = "Kalibr's pinhole camera has no distortion model equal to the " + camera.model +
                " model (radtan has only k1 k2 p1 p2)";
        return false;
    }
    std::vector<double> values;
    if (!intrinsics(camera, values, error)) return false;
    text = "cam0:\n";
    text += "  camera_model: pinhole\n";
    text += "  intrinsics: " + list({camera.fx, camera.fy, camera.cx, camera.cy}) + "\n";
    text += std::string("  distortion_model: ") + distortionModel + "\n";
    text += "  distortion_coeffs: " + list(camera.coefficients) + "\n";
    text += "  resolution: [ " + std::to_string(camera.width) + ", " + std::to_string(camera.height) + " ]\n";
    // Kalibr's tools that replay a recording look the camera's images up by topic.
    text += "  rostopic: /cam0/image_raw\n";
    return true;
}

bool formatColmapCameras(const ExportedCamera& camera, std::string& text, std::string& error) {
    std::vector<double> values;
    if (!intrinsics(camera, values, error)) return false;
    values[2] += 0.5;
    values[3] += 0.5;
    std::string model = "OPENCV";
    if (camera.model == "fisheye") {
        model = "OPENCV_FISHEYE";
    } else if (camera.model != "opencv4") {
        model = "FULL_OPENCV";
        values.resize(4 + 8, 0.0);
    }
    text = "# Camera list with one line of data per camera:\n";
    text += "#   CAMERA_ID, MODEL, WIDTH, HEIGHT, PARAMS[]\n";
    text += "# Number of cameras: 1\n";
    text += "1 " + model + " " + std::to_string(camera.width) + " " + std::to_string(camera.height) + " " +
            joined(values, " ") + "\n";
    return true;
}

int boardCornerNumber(double x, double y) {
    const double column = x + 5, row = 5 - y;
    if (column != std::floor(column) || row != std::floor(row)) return -1;
    if (column < 0 || column >= kMrcalBoardWidth || row < 0 || row >= kMrcalBoardHeight) return -1;
    return static_cast<int>(row) * kMrcalBoardWidth + static_cast<int>(column);
}

std::string formatMrcalCorners(const GridSet& set, int frameCount, const std::vector<std::string>& names) {
    std::string out = "# filename x y level\n";
    std::set<std::string> written;
    for (int frame = 0; frame < frameCount; ++frame) {
        std::string name = static_cast<std::size_t>(frame) < names.size() ? names[frame] : std::string();
        for (char& c : name)
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') c = '_';
        // A line that starts with # is a comment to mrcal.
        if (name.empty() || name[0] == '#') name = name.empty() ? "frame" + std::to_string(frame) : "./" + name;
        // mrcal takes consecutive lines of one name for one view: a frame
        // listed twice gets a name of its own.
        const std::string base = name;
        for (int copy = 2; !written.insert(name).second; ++copy) name = base + "~" + std::to_string(copy);
        const std::string missing = name + " - - -\n";
        if (!frameHasView(set, frame)) {
            out += missing;
            continue;
        }
        constexpr std::size_t boardCorners = kMrcalBoardWidth * kMrcalBoardHeight;
        std::vector<cv::Point2f> image(boardCorners), foundImage, foundBoard;
        std::vector<bool> found(boardCorners, false);
        const int count = set.getPointCount(frame);
        for (int j = 0; j < count; ++j) {
            GridPoint imagePoint{}, pattern{};
            if (!set.getImagePoint(frame, j, imagePoint) || !set.getPatternPoint(frame, j, pattern)) break;
            const int number = boardCornerNumber(pattern.x, pattern.y);
            if (number < 0 || found[static_cast<std::size_t>(number)]) continue;
            found[static_cast<std::size_t>(number)] = true;
            image[static_cast<std::size_t>(number)] = {imagePoint.x, imagePoint.y};
            foundImage.push_back(image[static_cast<std::size_t>(number)]);
            foundBoard.emplace_back(pattern.x, pattern.y);
        }
        // A corner not found gets level "-", which mrcal's solver ignores.
        // Its position is where the board's homography puts it: mrcal's
        // pose seeding reads the positions of ignored corners too, and a
        // partial view seeded from "- -" (read as -1, -1) can be thrown out
        // whole and leave the solve without a pose for it.
        std::vector<bool> predicted(boardCorners, false);
        if (foundImage.size() >= 4 && foundImage.size() < boardCorners) {
            const cv::Mat homography = cv::findHomography(foundBoard, foundImage, 0);
            if (!homography.empty()) {
                std::vector<cv::Point2f> board, guess;
                for (std::size_t n = 0; n < boardCorners; ++n)
                    board.emplace_back(static_cast<float>(static_cast<int>(n) % kMrcalBoardWidth - 5),
                                       static_cast<float>(5 - static_cast<int>(n) / kMrcalBoardWidth));
                cv::perspectiveTransform(board, guess, homography);
                for (std::size_t n = 0; n < boardCorners; ++n) {
                    if (found[n] || !std::isfinite(guess[n].x) || !std::isfinite(guess[n].y)) continue;
                    image[n] = guess[n];
                    predicted[n] = true;
                }
            }
        }
        for (std::size_t n = 0; n < boardCorners; ++n) {
            if (!found[n] && !predicted[n]) {
                out += missing;
                continue;
            }
            out += name + " ";
            vexel::appendFixed(out, image[n].x);
            out += ' ';
            vexel::appendFixed(out, image[n].y);
            out += found[n] ? " 0\n" : " -\n";
        }
    }
    return out;
}

bool toolExportTakes(bool (*format)(const ExportedCamera&, std::string&, std::string&), LensModel model,
                     std::string& reason) {
    ExportedCamera probe;
    probe.model = lensModelName(model);
    probe.fx = probe.fy = 1;
    probe.cx = probe.cy = 0.5;
    probe.width = probe.height = 1;
    probe.coefficients.assign(static_cast<std::size_t>(lensCoefficientCount(model)), 0.0);
    std::string text;
    return format(probe, text, reason);
}

bool writeToolExport(const std::string& path, bool (*format)(const ExportedCamera&, std::string&, std::string&),
                     const ExportedCamera& camera, std::string* error, const vexel::OutputOptions& output) {
    std::string text, reason;
    if (!format(camera, text, reason)) {
        if (error) *error = "cannot write " + path + ": " + reason;
        return false;
    }
    return vexel::writeOutputFile(path, text, error, output);
}
