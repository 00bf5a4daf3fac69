#pragma once
// A starting camera for the fisheye calibration. The library's fisheye
// calibration starts from a focal length of the frame's longer side over pi
// with the principal point at the frame's centre, which is far enough from
// many lenses (120 degrees across is 1.5 times longer) that it ends in a
// wrong minimum. This estimate finds the focal length instead: for each
// candidate, the points are taken back through an equidistant lens without
// distortion, a homography is fitted to every view's points, and the
// candidate whose homographies reproject the points best is kept.

#include <opencv2/core/types.hpp>

#include "calibration/camera_calibration.h"
#include "calibration/lens_projection.h"

// The library's fisheye model takes a point by X / Z and Y / Z, which no
// longer exist once a point is 90 degrees or more off the optical axis (a
// lens more than 180 degrees across sees such points in its frame's
// corners). Points from this angle on are left out of a fisheye
// calibration; the margin covers the error of the starting camera.
constexpr double FISHEYE_MAX_ANGLE = 88.0 * CV_PI / 180.0;

// The views with only the points that `camera` sees less than
// FISHEYE_MAX_ANGLE off its axis; `leftOut` counts the others. Throws
// cv::Exception naming the view when one keeps fewer than 4 points.
CalibrationViews withinFisheyeReach(const CalibrationViews& views, const LensCamera& camera, int& leftOut);

// fx = fy = the focal length found, the principal point at the frame's
// centre. Throws cv::Exception when no view has enough points.
cv::Matx33d fisheyeStartingCamera(const CalibrationViews& views, cv::Size imageSize);
