#pragma once
// The calibration mathematics over plain point lists: the intrinsic
// calibration of all views at once and the pose of one view from known
// intrinsics. Errors of the vision library arrive as cv::Exception.

#include <array>
#include <cfloat>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/core/types.hpp>

#include "calibration/board_flex.h"
#include "calibration/calibration_record.h"
#include "calibration/lens_model.h"
#include "calibration/camera_model.h"

// The point lists of the views that take part in a calibration: per view its
// image points (pixels) and object points (pattern units, z = 0), slot for slot.
struct CalibrationViews {
    std::vector<int> frames;  // the frame each view came from
    std::vector<std::vector<cv::Point2f>> imagePoints;
    std::vector<std::vector<cv::Point3f>> objectPoints;

    int viewCount() const { return static_cast<int>(frames.size()); }
    int totalPoints() const;
    std::vector<int> pointCounts() const;
};

// Which solver computes the intrinsic calibration. The library's solves one
// dense system over all views, whose cost grows with the cube of the view
// count; the sparse solver eliminates the per-view poses and grows linearly.
enum class IntrinsicSolver {
    Auto,     // the library's up to LIBRARY_SOLVER_MAX_VIEWS views, the sparse solver above
    Library,
    Sparse,
};

constexpr int LIBRARY_SOLVER_MAX_VIEWS = 40;

// "auto", "library" or "sparse".
const char* solverName(IntrinsicSolver solver);
// The solver of that name; false for any other text.
bool parseSolverName(const std::string& name, IntrinsicSolver& solver);

struct IntrinsicOptions {
    IntrinsicSolver solver = IntrinsicSolver::Auto;
    // The lens model to fit; with chooseModel, calibrateIntrinsic fits the
    // candidates and keeps the simplest that fits (lens_choice.h).
    LensModel model = LensModel::OpenCv4;
    bool chooseModel = false;
    // Estimates a bend of the board (board_flex.h) with the camera; only the
    // sparse solver can (Auto then takes it for any view count).
    bool boardFlex = false;
    // When the library's solver stops; these are its own defaults.
    cv::TermCriteria libraryCriteria{cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 30, DBL_EPSILON};
    // When the sparse solver stops: after this many iterations, or once an
    // iteration changes the cost or the parameters by less than this
    // fraction of their size.
    int sparseMaxIterations = 100;
    double sparseTolerance = 1e-12;
    int sparseThreads = 1;  // threads of the sparse solver's evaluation and elimination
    // Asked between the sparse solver's iterations; true ends the
    // calibration with IntrinsicResult::stopped (the library's solver runs
    // to its end).
    std::function<bool()> stopRequested;
};

// Rotation vector and translation of one view.
using ViewPoseVector = std::array<double, 6>;

// The poses as rotation vector and translation, six numbers each, as the
// sparse solver holds them.
inline std::vector<ViewPoseVector> poseVectors(const std::vector<FramePose>& poses) {
    std::vector<ViewPoseVector> out;
    for (const FramePose& p : poses)
        out.push_back({p.rotation[0], p.rotation[1], p.rotation[2], p.translation[0], p.translation[1],
                       p.translation[2]});
    return out;
}

struct IntrinsicResult {
    // Camera matrix, the first view's rotation and translation, the lens
    // model and its distortion coefficients: every field of the record.
    CalibrationRecord record;
    double rms = 0;                    // over all points, pixels
    std::vector<double> perViewErrors; // RMS reprojection error per view, pixels
    // Standard deviations of fx, fy, cx, cy and the model's coefficients in
    // its order (k1, k2, p1, p2 for the default model), as the calibration
    // estimates them (pixels for the first four); 0 past the model's last.
    std::array<double, MAX_INTRINSIC_PARAMETERS> stdDeviations{};
    // Their covariance: n x n, row-major, n = 4 + the model's coefficient
    // count, in the same order (empty when it could not be estimated).
    std::vector<double> covariance;
    IntrinsicSolver solver = IntrinsicSolver::Library;  // the solver that ran
    std::vector<FramePose> poses;       // the pose of every view, in view order
    BoardFlex flex;                     // the bend found, with boardFlex
    // Fisheye: the points left out as too far off the optical axis for the
    // model (fisheye_start.h); the errors are those of the others.
    int pointsBeyondModel = 0;
    // With chooseModel: why the model was chosen, and each candidate's RMS
    // (negative when its calibration failed), in lensModels() order.
    std::string modelChoice;
    std::vector<std::pair<LensModel, double>> candidates;
    bool stopped = false;  // ended by stopRequested: no result
};

// Calibrates from all views at once with the options' lens model (the same
// model, cost and deviations whichever solver runs), starting from the
// library's own initial estimate (for the fisheye model, from
// fisheye_start.h's, and without the points beyond its reach). The options
// choose the solver, the model and when it stops. Needs at least one view;
// throws cv::Exception when the calibration fails.
IntrinsicResult calibrateIntrinsic(const CalibrationViews& views, cv::Size imageSize,
                                   const IntrinsicOptions& options = {});

struct ExtrinsicResult {
    std::array<double, 9> rotation{};    // pattern-to-camera, row-major
    std::array<double, 3> translation{}; // pattern units
    double rms = 0;                      // reprojection error of the view, pixels
};

// The pose of one view (at least 4 points) from the record's fx, fy, cx, cy,
// lens model and distortion coefficients. Throws cv::Exception when the
// library fails.
ExtrinsicResult calibrateExtrinsic(const std::vector<cv::Point2f>& imagePoints,
                                   const std::vector<cv::Point3f>& objectPoints, const CalibrationRecord& intrinsic);
