#pragma once
// The camera model written for other tools: a YAML file of the vision
// library's persistence format and a camera_info YAML file. Both texts are
// made here digit by digit, so the C library's numeric locale never changes
// them, and both files are replaced atomically.

#include <string>
#include <string_view>
#include <vector>

#include "calibration/calibration_record.h"
#include "calibration/output_file.h"
#include "calibration/calibration_stats.h"
#include "calibration/name_text.h"

// image_width, image_height, camera_matrix (3 x 3), distortion_coefficients
// (1 x 5 for the default model, whose fifth, k3, is 0, and for opencv5; 1 x 8
// for the rational model; 1 x 4 for the fisheye model, which also gets
// fisheye_model: 1), avg_reprojection_error, per_view_reprojection_errors
// (one per frame used) and nr_of_frames; with a cell side above 0 also
// square_size, in millimetres.
std::string formatOpenCvYaml(const CalibrationRecord& record, const CalibrationStats& stats,
                             double cellSizeMm = 0);

// image_width, image_height, camera_name, camera_matrix, distortion_model
// (plumb_bob for the default and opencv5 models, rational_polynomial,
// equidistant for the fisheye model), distortion_coefficients (1 x 5, 8 or
// 4, as above), rectification_matrix (identity) and projection_matrix (the
// camera matrix with a zero fourth column).
std::string formatCameraInfoYaml(const CalibrationRecord& record, const CalibrationStats& stats,
                                 const std::string& cameraName);

// Write the texts above to `path` (a camera name that is not UTF-8 is
// refused); false, with a reason naming the file in
// `error`, when the file could not be written (it is then left as it was).
bool writeOpenCvYaml(const std::string& path, const CalibrationRecord& record, const CalibrationStats& stats,
                     std::string* error = nullptr, const vexel::OutputOptions& output = {},
                     double cellSizeMm = 0);
bool writeCameraInfoYaml(const std::string& path, const CalibrationRecord& record, const CalibrationStats& stats,
                         const std::string& cameraName, std::string* error = nullptr,
                         const vexel::OutputOptions& output = {});

// ---- Other tools' formats: mrcal, Kalibr, COLMAP ----

class GridSet;

// The camera as these exports see it: the lens model by name ("opencv4",
// "opencv5", "rational" or "fisheye") with its distortion coefficients in
// the vision library's order, and the image size in pixels. Pixel
// coordinates have the centre of the top-left pixel at (0, 0).
struct ExportedCamera {
    std::string model = "opencv4";
    double fx = 0, fy = 0, cx = 0, cy = 0;
    std::vector<double> coefficients;
    int width = 0, height = 0;
};

// The camera of a calibration: its lens model and coefficients.
ExportedCamera exportedCamera(const CalibrationRecord& record, const CalibrationStats& stats);

// mrcal's .cameramodel text: lensmodel LENSMODEL_OPENCV4 (OPENCV5,
// OPENCV8 for the rational model), intrinsics fx fy cx cy and the
// coefficients, identity extrinsics, imagersize. mrcal has no model equal to
// the equidistant fisheye, so that one is refused: false with the reason in
// `error`. A value that is not finite is refused too.
bool formatMrcalModel(const ExportedCamera& camera, std::string& text, std::string& error);

// A Kalibr camchain with one camera, cam0: camera_model pinhole,
// distortion_model radtan (k1 k2 p1 p2) or equidistant (the fisheye's k1 ..
// k4), intrinsics [fu, fv, pu, pv], distortion_coeffs, resolution. Kalibr's
// radtan has no k3 and no rational terms: those models are refused.
bool formatKalibrCamchain(const ExportedCamera& camera, std::string& text, std::string& error);

// COLMAP's cameras.txt with camera 1: OPENCV (fx fy cx cy k1 k2 p1 p2),
// FULL_OPENCV for opencv5 and rational (k3 .. k6, zero where the model has
// none) or OPENCV_FISHEYE (k1 .. k4). COLMAP puts the centre of the
// top-left pixel at (0.5, 0.5): cx and cy are written half a pixel larger.
bool formatColmapCameras(const ExportedCamera& camera, std::string& text, std::string& error);

// The board's labelled corners as a grid of kMrcalBoardWidth x
// kMrcalBoardHeight, numbered row by row from the top-left corner seen from
// the printed side: corner (i, j) of the pattern (x right, y up) is number
// (kLastCornerRow - j) * width + (i - kFirstCornerColumn). Going down the
// rows keeps the board's axes a rotation of the pattern's, so poses keep
// their handedness.
constexpr int kMrcalBoardWidth = 10;
constexpr int kMrcalBoardHeight = 11;
// The corner's number, or -1 when (x, y) is no labelled corner.
int boardCornerNumber(double x, double y);

// mrcal's corner list (corners.vnl): the header "# filename x y level", then
// for every frame with a view every corner of the board in the order above,
// "NAME x y 0" for one found and "NAME x y -" for one not found (level "-":
// mrcal leaves it out; x y where the frame's board homography puts it, or
// "- -" when there is no such place), and one line "NAME - - -" for a frame
// without a view. mrcal reads names up to the first
// blank, so blanks in a name are written as underscores.
std::string formatMrcalCorners(const GridSet& set, int frameCount, const std::vector<std::string>& names);

// Whether `format` can carry a camera of `model`; `reason` says why not
// (a tool that has no equal lens model), so that a command can refuse an
// export before any work.
bool toolExportTakes(bool (*format)(const ExportedCamera&, std::string&, std::string&), LensModel model,
                     std::string& reason);

// Writes one of the texts above to `path` through writeOutputFile; false
// with the reason in `error` when the export was refused or the file could
// not be written.
bool writeToolExport(const std::string& path, bool (*format)(const ExportedCamera&, std::string&, std::string&),
                     const ExportedCamera& camera, std::string* error = nullptr,
                     const vexel::OutputOptions& output = {});
