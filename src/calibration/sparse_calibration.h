#pragma once
// The intrinsic calibration of many views: Levenberg-Marquardt over fx, fy,
// cx, cy, k1, k2, p1, p2 and every view's rotation vector and translation,
// with the per-view pose blocks eliminated (Schur complement), so each
// iteration costs time linear in the view count. Same model, cost and
// deviations as the library's calibration; reached through
// calibrateIntrinsic (camera_calibration.h), which picks the solver.

#include "calibration/camera_calibration.h"

// Starts from the library's calibration of at most SPARSE_START_VIEWS views
// spread over the set and the pose of every view from those intrinsics, then
// refines all parameters together. Every view needs at least 4 points, its
// image and object lists of one length. Throws cv::Exception when the views
// are unusable or the refinement fails.
IntrinsicResult calibrateSparse(const CalibrationViews& views, cv::Size imageSize, const IntrinsicOptions& options);

constexpr int SPARSE_START_VIEWS = 20;

// The views the starting calibration uses: `count` indices of 0 .. viewCount
// - 1, evenly spread, first and last included (all of them when viewCount
// <= count).
std::vector<int> spreadViewIndices(int viewCount, int count);
