// The Python module `vexel`: the extraction of one picture and the intrinsic
// calibration, through the same core functions the programs use, with NumPy
// arrays in and out. The interpreter's lock is released while they work.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "calibration/calibration_checks.h"
#include "document/calibration_commands.h"
#include "calibration/calibration_file.h"
#include "calibration/calibration_record.h"
#include "calibration/calibration_stats.h"
#include "calibration/calibration_views.h"
#include "calibration/camera_calibration.h"
#include "calibration/points_file.h"
#include "grid/frame_grid.h"
#include "document/grid_commands.h"
#include "grid/extract_frame.h"
#include "grid/frame_image.h"
#include "grid/grid_set.h"
#include "vexel_version.h"

namespace py = pybind11;

namespace {

// What the extraction found in one picture.
struct Detection {
    std::vector<cv::Point2f> imagePoints;
    std::vector<cv::Point3f> boardPoints;
    std::optional<std::string> failure;  // why there are no points
    int width = 0;
    int height = 0;
};

// A calibration as the module hands it out: the record and, after
// calibrate(), the figures of the fit with per-view values in the order of
// the detections given.
struct Calibration {
    CalibrationRecord record;
    std::optional<std::pair<int, int>> imageSize;
    CalibrationStats stats;
    int detectionCount = 0;
};

py::array_t<double> matrix(const double* values, py::ssize_t rows, py::ssize_t cols) {
    py::array_t<double> out({rows, cols});
    std::copy(values, values + rows * cols, out.mutable_data());
    return out;
}

py::array_t<double> vector(const double* values, py::ssize_t count) {
    py::array_t<double> out(count);
    std::copy(values, values + count, out.mutable_data());
    return out;
}

// An 8-bit NumPy picture as a frame image: grey (H x W or H x W x 1), or
// colour in the vision library's blue-green-red order (H x W x 3, or x 4
// with alpha), converted to grey as the programs convert it.
cv::Mat frameFromArray(const py::array& image) {
    if (!py::dtype::of<std::uint8_t>().is(image.dtype()))
        throw py::type_error("the image must be an array of 8-bit values (uint8), not " +
                             std::string(py::str(image.dtype())));
    auto pixels = py::array_t<std::uint8_t, py::array::c_style>::ensure(image);
    const py::ssize_t channels = pixels.ndim() == 3 ? pixels.shape(2) : 1;
    if (pixels.ndim() < 2 || pixels.ndim() > 3 || (channels != 1 && channels != 3 && channels != 4))
        throw py::value_error("the image must be H x W (grey) or H x W x 3 or 4 (blue, green, red, alpha)");
    if (pixels.shape(0) < 1 || pixels.shape(1) < 1 || pixels.shape(0) > 32768 || pixels.shape(1) > 32768)
        throw py::value_error("the image must be 1 to 32768 pixels on each side");
    const cv::Mat view(static_cast<int>(pixels.shape(0)), static_cast<int>(pixels.shape(1)),
                       CV_8UC(static_cast<int>(channels)), const_cast<std::uint8_t*>(pixels.data()));
    return toFrameImage(view);
}

Detection detect(const py::array& image, bool refine) {
    const cv::Mat frame = frameFromArray(image);
    Detection found;
    found.width = frame.cols;
    found.height = frame.rows;
    py::gil_scoped_release unlocked;
    GridSet set;
    set.allocate(1, GRID_POINTS_PER_FRAME);
    ExtractTrace trace;
    ExtractOptions options;
    options.refineCorners = refine;
    extractFrame(set, 0, frame, &trace, nullptr, nullptr, options);
    gatherFramePoints(set, 0, found.imagePoints, found.boardPoints);
    const GridFailure failure = searchFailure(set.getPointCount(0), trace.rejected);
    if (failure != GridFailure::None) found.failure = gridFailureText(failure);
    return found;
}

Calibration calibrate(const std::vector<Detection>& detections, std::pair<int, int> imageSize,
                      const std::string& model, const std::string& solver, bool boardFlex) {
    IntrinsicOptions options;
    if (model == "auto")
        options.chooseModel = true;
    else if (!parseLensModelName(model, options.model))
        throw py::value_error("unknown model \"" + model + "\" (opencv4, opencv5, rational, fisheye or auto)");
    options.boardFlex = boardFlex;
    if (!parseSolverName(solver, options.solver))
        throw py::value_error("unknown solver \"" + solver + "\" (auto, library or sparse)");
    const cv::Size size(imageSize.first, imageSize.second);
    if (size.width < 1 || size.height < 1) throw py::value_error("image_size must be (width, height) in pixels");

    // The detections with 4 or more points of that image size take part, as
    // the frames of a calibration in the programs.
    CalibrationViews views;
    int otherSize = 0;
    for (std::size_t i = 0; i < detections.size(); ++i) {
        const Detection& d = detections[i];
        if (d.imagePoints.size() < static_cast<std::size_t>(MIN_FRAME_POINTS)) continue;
        if (cv::Size(d.width, d.height) != size) {
            ++otherSize;
            continue;
        }
        views.frames.push_back(static_cast<int>(i));
        views.imagePoints.push_back(d.imagePoints);
        views.objectPoints.push_back(d.boardPoints);
    }
    if (views.viewCount() == 0)
        throw py::value_error("no detection of that image size has 4 or more points");

    Calibration result;
    result.imageSize = imageSize;
    result.detectionCount = static_cast<int>(detections.size());
    try {
        py::gil_scoped_release unlocked;
        const IntrinsicResult fit = calibrateIntrinsic(views, size, options);
        result.record = fit.record;
        result.stats = intrinsicStats(views, fit, size, otherSize, options);
    } catch (const cv::Exception& e) {
        throw std::runtime_error("the calibration failed: " + e.err);
    }
    return result;
}

Calibration readCalibration(const std::string& path) {
    Calibration result;
    std::string reason;
    const CalibrationLoad outcome = readCalibrationRecord(path, result.record, reason);
    if (outcome == CalibrationLoad::Unreadable) {
        PyErr_SetString(PyExc_OSError, reason.c_str());
        throw py::error_already_set();
    }
    if (outcome != CalibrationLoad::Loaded) throw py::value_error(reason);
    return result;
}

void writeCalibration(const std::string& path, const Calibration& calibration, const std::string& form) {
    int value = CAL_LABELLED;
    if (form == "text")
        value = CAL_TEXT;
    else if (form == "binary")
        value = CAL_BINARY;
    else if (form != "labelled")
        throw py::value_error("unknown form \"" + form + "\" (labelled, text or binary)");
    std::string error;
    if (!CalibrationFileWriter(calibration.record, path, value, &error)) throw std::runtime_error(error);
}

// The RMS error of every detection given; None for those not used.
py::list perDetectionErrors(const Calibration& c) {
    py::list out;
    for (int i = 0; i < c.detectionCount; ++i) {
        const double value = c.stats.frameError(i);
        out.append(value >= 0 ? py::object(py::float_(value)) : py::object(py::none()));
    }
    return out;
}

}  // namespace

PYBIND11_MODULE(vexel, m) {
    m.doc() = "Vexel: find the printed calibration board in pictures and calibrate a camera.";
    m.attr("__version__") = VEXEL_VERSION;

    py::class_<Detection>(m, "Detection", "What the extraction found in one picture.")
        .def_property_readonly(
            "image_points",
            [](const Detection& d) {
                py::array_t<double> out({static_cast<py::ssize_t>(d.imagePoints.size()), py::ssize_t{2}});
                auto v = out.mutable_unchecked<2>();
                for (std::size_t i = 0; i < d.imagePoints.size(); ++i) v(i, 0) = d.imagePoints[i].x, v(i, 1) = d.imagePoints[i].y;
                return out;
            },
            "N x 2 corner positions in pixels (x right, y down, origin at the top-left pixel's centre)")
        .def_property_readonly(
            "board_points",
            [](const Detection& d) {
                py::array_t<double> out({static_cast<py::ssize_t>(d.boardPoints.size()), py::ssize_t{3}});
                auto v = out.mutable_unchecked<2>();
                for (std::size_t i = 0; i < d.boardPoints.size(); ++i)
                    v(i, 0) = d.boardPoints[i].x, v(i, 1) = d.boardPoints[i].y, v(i, 2) = d.boardPoints[i].z;
                return out;
            },
            "N x 3 positions of the same corners on the board, in cells (z = 0)")
        .def_property_readonly(
            "labels",
            [](const Detection& d) {
                py::array_t<int> out({static_cast<py::ssize_t>(d.boardPoints.size()), py::ssize_t{2}});
                auto v = out.mutable_unchecked<2>();
                for (std::size_t i = 0; i < d.boardPoints.size(); ++i)
                    v(i, 0) = static_cast<int>(d.boardPoints[i].x), v(i, 1) = static_cast<int>(d.boardPoints[i].y);
                return out;
            },
            "N x 2 integer labels (i, j) of the corners: i from -5 to 4, j from -5 to 5")
        .def_property_readonly("failure", [](const Detection& d) { return d.failure; },
                               "Why no corner was found (\"no board found\", \"markers do not fit the grid\"), "
                               "or None")
        .def_property_readonly("image_size", [](const Detection& d) { return std::make_pair(d.width, d.height); },
                               "(width, height) of the picture")
        .def("__len__", [](const Detection& d) { return d.imagePoints.size(); })
        .def("__repr__", [](const Detection& d) {
            return "<vexel.Detection " + std::to_string(d.imagePoints.size()) + " points in " +
                   std::to_string(d.width) + " x " + std::to_string(d.height) +
                   (d.failure ? ", " + *d.failure : std::string()) + ">";
        });

    py::class_<Calibration>(m, "Calibration", "A camera calibration.")
        .def_property_readonly("camera", [](const Calibration& c) {
            const double k[9] = {c.record.fx(), 0, c.record.cx(), 0, c.record.fy(), c.record.cy(), 0, 0, 1};
            return matrix(k, 3, 3);
        }, "3 x 3 camera matrix (fx, fy, cx, cy in pixels)")
        .def_property_readonly("distortion", [](const Calibration& c) {
            const std::vector<double> coefficients = c.record.distortionCoefficients();
            return vector(coefficients.data(), static_cast<py::ssize_t>(coefficients.size()));
        }, "Distortion coefficients of the lens model, in the vision library's order (k1, k2, p1, p2 for opencv4)")
        .def_property_readonly("model", [](const Calibration& c) { return std::string(lensModelName(c.record.model)); },
                               "The lens model: opencv4, opencv5, rational or fisheye")
        .def_property_readonly("image_size", [](const Calibration& c) { return c.imageSize; },
                               "(width, height) the calibration is for; None when read from a file")
        .def_property_readonly("rotation", [](const Calibration& c) {
            return matrix(&c.record.values[CalibrationRecord::ROTATION], 3, 3);
        }, "Board-to-camera rotation of the pose the record holds (the first view used)")
        .def_property_readonly("translation", [](const Calibration& c) {
            return vector(&c.record.values[CalibrationRecord::TRANSLATION], 3);
        }, "Board-to-camera translation of that pose, in cells")
        .def_property_readonly("rms", [](const Calibration& c) { return c.stats.rms; },
                               "RMS reprojection error over every point used, pixels")
        .def_property_readonly("views", [](const Calibration& c) { return c.stats.frames; },
                               "Indices of the detections used")
        .def_property_readonly("per_view_errors", [](const Calibration& c) { return perDetectionErrors(c); },
                               "RMS error of each detection given, pixels; None for those not used")
        .def_property_readonly("deviations", [](const Calibration& c) {
            py::dict out;
            if (c.stats.valid) {
                const std::vector<std::string> names = intrinsicParameterNames(c.record.model);
                for (std::size_t i = 0; i < names.size(); ++i) out[names[i].c_str()] = c.stats.stdDeviations[i];
            }
            return out;
        }, "Standard deviations of fx, fy, cx, cy and the lens model's coefficients")
        .def_property_readonly("warnings", [](const Calibration& c) { return c.stats.warnings; },
                               "What makes the result doubtful, one sentence each")
        .def_property_readonly("solver", [](const Calibration& c) { return c.stats.solver; })
        .def("__repr__", [](const Calibration& c) {
            char text[160];
            std::snprintf(text, sizeof text, "<vexel.Calibration fx=%.3f fy=%.3f cx=%.3f cy=%.3f rms=%.4f>",
                          c.record.fx(), c.record.fy(), c.record.cx(), c.record.cy(), c.stats.rms);
            return std::string(text);
        });

    m.def("detect", &detect, py::arg("image"), py::arg("refine") = false,
          "Finds the board in one picture (a NumPy array: grey H x W, or blue-green-red H x W x 3 as the vision "
          "library reads it) and returns its corners. refine=True refines them once more with windows sized "
          "from the cells.");
    m.def("calibrate", &calibrate, py::arg("detections"), py::arg("image_size"), py::arg("model") = "opencv4",
          py::arg("solver") = "auto", py::arg("board_flex") = false,
          "Calibrates the camera from detections of one camera at image_size = (width, height). Detections with "
          "fewer than 4 points take no part; those of another size are left out, with a warning. model is "
          "opencv4, opencv5, rational, fisheye or auto (the simplest that fits); board_flex=True also estimates "
          "the board's bend.");
    m.def("read_calibration", &readCalibration, py::arg("path"), "Reads a calibration file (.cal).");
    m.def("write_calibration", &writeCalibration, py::arg("path"), py::arg("calibration"),
          py::arg("form") = "labelled",
          "Writes a calibration file (.cal): form \"labelled\" (default), \"text\" or \"binary\".");
}
