#pragma once
// Everything that shows why an intrinsic calibration is good or bad, worked
// out once when it is made: the residual of every correspondence, the pose
// of every view, how well the views cover the image, the tilts and the
// distances with a verdict, and the projection uncertainty across the
// image. The window and the command-line tool only draw and print it.

#include <array>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core/types.hpp>

#include "calibration/calibration_coverage.h"
#include "calibration/calibration_record.h"
#include "calibration/calibration_residuals.h"
#include "calibration/camera_calibration.h"
#include "calibration/camera_model.h"
#include "calibration/projection_uncertainty.h"

struct CalibrationInsight {
    CalibrationRecord record;  // the calibration it is the insight of
    cv::Size imageSize;
    cv::Point2d principalPoint;
    std::vector<int> frames;                // the frames used, as the calibration's views
    std::vector<FramePose> poses;           // per frame used
    std::vector<FrameResiduals> residuals;  // per frame used
    // The part of the pattern plane the views' points span (pattern units).
    cv::Rect2d boardExtent;
    CoverageFigures coverage;
    CoverageVerdict verdict;
    // Sampled at the boards' typical depth; empty when the covariance could
    // not be computed (too few points for the parameters, or a degenerate set).
    UncertaintyMap uncertainty;
    // At the image centre, then the corners: top left, top right, bottom
    // left, bottom right (pixels; not finite when unknown).
    std::array<double, 5> uncertaintyAtPoints{};

    // Index of `frame` among the frames used, or -1.
    int indexOf(int frame) const;
    const FrameResiduals* residualsOf(int frame) const;
};

// The names of uncertaintyAtPoints, in order: "centre", "top left", ...
extern const char* const UNCERTAINTY_POINT_NAMES[5];

// Works out the insight of a calibration from its views, its record and the
// pose of every view, for images of `imageSize`.
std::shared_ptr<const CalibrationInsight> analyseCalibration(const CalibrationViews& views,
                                                             const CalibrationRecord& record,
                                                             const std::vector<FramePose>& poses, cv::Size imageSize);

// The coverage figures, the uncertainty at the centre and the worst corner,
// and last the verdict ("verdict: coverage good; ..."), one line each.
std::vector<std::string> insightLines(const CalibrationInsight& insight);
