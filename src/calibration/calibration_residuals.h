#pragma once
// Where a calibration puts every correspondence against where it was
// detected: per frame the detected and the reprojected points, which of
// them fit worst, and the summary over all frames of how the errors spread
// and whether they grow with the distance from the principal point (a lens
// model that does not fit shows there as a trend).

#include <array>
#include <vector>

#include <opencv2/core/types.hpp>

#include "calibration/camera_calibration.h"
#include "calibration/camera_model.h"

// The frame's worst corners: this many of its largest errors.
constexpr int WORST_CORNERS = 3;

struct FrameResiduals {
    int frame = -1;
    std::vector<cv::Point2f> detected;
    std::vector<cv::Point2f> reprojected;
    // Positions of the largest errors, largest first (at most WORST_CORNERS).
    std::vector<int> worst;

    // reprojected - detected of point i.
    cv::Point2f error(std::size_t i) const { return reprojected[i] - detected[i]; }
    double rms() const;
};

// The residuals of one view's points with `model` and the view's `pose`.
FrameResiduals frameResiduals(int frame, const std::vector<cv::Point2f>& imagePoints,
                              const std::vector<cv::Point3f>& objectPoints, const CameraModel& model,
                              const FramePose& pose);

// Every view's residuals, views and poses in the same order.
std::vector<FrameResiduals> calibrationResiduals(const CalibrationViews& views, const CameraModel& model,
                                                 const std::vector<FramePose>& poses);

// The largest error length over all frames (0 when there is none).
double largestError(const std::vector<FrameResiduals>& residuals);

// The error length that 95 % of the errors do not exceed (0 when there are none).
double typicalLargeError(const std::vector<FrameResiduals>& residuals);

// How much the errors are enlarged when drawn: 1, 2 or 5 times a power of
// ten, so that the error of typicalLargeError is drawn about 3 % of the
// image's diagonal long (1 when there are no errors).
double residualDrawingScale(const std::vector<FrameResiduals>& residuals, cv::Size imageSize);

// The colour of an error of `length` on a scale that is green at 0, yellow
// at half of `top` and red from `top` on (red, green, blue, 0 to 255).
std::array<unsigned char, 3> residualColour(double length, double top);

// Error length against distance from the principal point, in equal rings
// out to the farthest point: per ring its middle radius, the mean error
// length and the number of points (rings without points are left out).
struct RadialBin {
    double radius = 0;
    double meanError = 0;
    int points = 0;
};
std::vector<RadialBin> radialErrorProfile(const std::vector<FrameResiduals>& residuals, cv::Point2d principalPoint,
                                          int rings = 8);
