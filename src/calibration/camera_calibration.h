#pragma once
// The calibration mathematics over plain point lists: the intrinsic
// calibration of all views at once and the pose of one view from known
// intrinsics. Errors of the vision library arrive as cv::Exception.

#include <array>
#include <cfloat>
#include <functional>
#include <string>
#include <vector>

#include <opencv2/core/types.hpp>

#include "calibration/calibration_record.h"
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

struct IntrinsicResult {
    // Camera matrix, the first view's rotation and translation and the four
    // distortion coefficients: every field of the record.
    CalibrationRecord record;
    double rms = 0;                    // over all points, pixels
    std::vector<double> perViewErrors; // RMS reprojection error per view, pixels
    // Standard deviations of fx, fy, cx, cy, k1, k2, p1, p2 as the
    // calibration estimates them (pixels for the first four).
    std::array<double, 8> stdDeviations{};
    IntrinsicSolver solver = IntrinsicSolver::Library;  // the solver that ran
    std::vector<FramePose> poses;      // the pose of every view, in view order
    bool stopped = false;  // ended by stopRequested: no result
};

// Calibrates from all views at once with the four-coefficient lens model (two
// radial, two tangential; the same model, cost and deviations whichever
// solver runs), starting from the library's own initial estimate. The
// options choose the solver and when it stops. Needs at least one view;
// throws cv::Exception when the calibration fails.
IntrinsicResult calibrateIntrinsic(const CalibrationViews& views, cv::Size imageSize,
                                   const IntrinsicOptions& options = {});

struct ExtrinsicResult {
    std::array<double, 9> rotation{};    // pattern-to-camera, row-major
    std::array<double, 3> translation{}; // pattern units
    double rms = 0;                      // reprojection error of the view, pixels
};

// The pose of one view (at least 4 points) from the record's fx, fy, cx, cy
// and distortion coefficients. Throws cv::Exception when the library fails.
ExtrinsicResult calibrateExtrinsic(const std::vector<cv::Point2f>& imagePoints,
                                   const std::vector<cv::Point3f>& objectPoints, const CalibrationRecord& intrinsic);
