#pragma once
// The calibration mathematics over plain point lists: the intrinsic
// calibration of all views at once and the pose of one view from known
// intrinsics. Errors of the vision library arrive as cv::Exception.

#include <array>
#include <vector>

#include <opencv2/core/types.hpp>

#include "calibration/calibration_record.h"

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

struct IntrinsicResult {
    // Camera matrix, the first view's rotation and translation and the four
    // distortion coefficients: every field of the record.
    CalibrationRecord record;
    double rms = 0;                    // over all points, pixels
    std::vector<double> perViewErrors; // RMS reprojection error per view, pixels
    // Standard deviations of fx, fy, cx, cy, k1, k2, p1, p2 as the
    // calibration estimates them (pixels for the first four).
    std::array<double, 8> stdDeviations{};
};

// Calibrates from all views in one call, with the four-coefficient lens
// model (two radial, two tangential) and the library's own initial estimate.
// Needs at least one view; throws cv::Exception when the library fails.
IntrinsicResult calibrateIntrinsic(const CalibrationViews& views, cv::Size imageSize);

struct ExtrinsicResult {
    std::array<double, 9> rotation{};    // pattern-to-camera, row-major
    std::array<double, 3> translation{}; // pattern units
    double rms = 0;                      // reprojection error of the view, pixels
};

// The pose of one view (at least 4 points) from the record's fx, fy, cx, cy
// and distortion coefficients. Throws cv::Exception when the library fails.
ExtrinsicResult calibrateExtrinsic(const std::vector<cv::Point2f>& imagePoints,
                                   const std::vector<cv::Point3f>& objectPoints, const CalibrationRecord& intrinsic);
