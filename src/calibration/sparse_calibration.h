#pragma once
// The intrinsic calibration of many views: Levenberg-Marquardt over fx, fy,
// cx, cy, the lens model's coefficients, every view's rotation vector and
// translation and, with board flex, the board's bend, with the per-view pose
// blocks eliminated (Schur complement), so each iteration costs time linear
// in the view count. Same models, cost and deviations as the library's
// calibration; reached through calibrateIntrinsic (camera_calibration.h),
// which picks the solver.

#include "calibration/camera_calibration.h"

// Starts from the library's calibration (with the same lens model) of at
// most SPARSE_START_VIEWS views spread over the set and the pose of every
// view from those intrinsics, with a flat board, then refines all
// parameters together. Every view needs at least 4 points, its image and
// object lists of one length. Throws cv::Exception when the views are
// unusable or the refinement fails.
IntrinsicResult calibrateSparse(const CalibrationViews& views, cv::Size imageSize, const IntrinsicOptions& options);

constexpr int SPARSE_START_VIEWS = 20;

// The views the starting calibration uses: `count` indices of 0 .. viewCount
// - 1, evenly spread, first and last included (all of them when viewCount
// <= count).
std::vector<int> spreadViewIndices(int viewCount, int count);

// How the record's camera (its model, fx, fy, cx, cy and coefficients) and
// the views' poses fit the views: fills the result's rms, perViewErrors,
// stdDeviations and covariance as the sparse solver finds them at its
// solution. Throws cv::Exception when the views are unusable or there is
// not one pose per view.
void describeFit(const CalibrationViews& views, const CalibrationRecord& record,
                 const std::vector<ViewPoseVector>& poses, IntrinsicResult& result);

// The bend of the board that one Gauss-Newton step of a calibration with
// board flex would take from the given solution of a flat board (camera,
// poses and bend together), with the bend's standard deviations: a bend
// well above its deviation is what a bent board leaves in the residuals.
// Same conditions as describeFit.
BoardFlex boardBendStep(const CalibrationViews& views, const CalibrationRecord& record,
                        const std::vector<ViewPoseVector>& poses);
