#pragma once
// Checks on calibrations: which image size to calibrate at, whether a
// calibration rests on enough distinct views and how certain its numbers
// are, and whether a record read from a file holds values a camera can have.

#include <cstddef>
#include <string>
#include <vector>

#include <opencv2/core/types.hpp>

#include "calibration/calibration_record.h"
#include "calibration/calibration_stats.h"
#include "calibration/camera_calibration.h"

// Fewer distinct views than this leave the intrinsics under-determined.
constexpr int MIN_DISTINCT_VIEWS = 3;
// A standard deviation of fx, fy, cx or cy above this share of fx makes the
// result doubtful.
constexpr double MAX_DEVIATION_SHARE = 0.01;
// Two views count as one when the image positions of the pattern points
// they share (at least 4) lie closer than this, RMS, in pixels: copies of
// one frame, or shots from a camera that did not move.
constexpr double SAME_VIEW_DISTANCE = 1.0;
// A pose that reprojects its points worse than this (RMS, pixels) is no result.
constexpr double MAX_EXTRINSIC_RMS = 10.0;

// The size that occurs most often among `sizes` (empty ones not counted).
// Ties go to `preferred` when it is one of them, else to the one seen first.
// Empty when no size is left.
cv::Size mostCommonSize(const std::vector<cv::Size>& sizes, cv::Size preferred);

// The number of views that are not the same view as an earlier one.
int distinctViewCount(const CalibrationViews& views);

// What makes an intrinsic calibration doubtful, one sentence each, from its
// figures (distinctViews, stdDeviations, framesOtherSize, imageSize) and its
// fx: fewer than 3 distinct views, a standard deviation of fx, fy, cx or cy
// above 1 % of fx, frames left out for their size.
std::vector<std::string> calibrationWarnings(const CalibrationStats& stats, double fx);

// The figures of the intrinsic calibration `result` of `views` at
// `imageSize`, framesOtherSize frames with points having been left out for
// their size, with `options`: the frames used, their errors, the
// deviations, the solver, the model's choice, the board's bend, the distinct
// views, the warnings (the lens fit's included) and the insight (residuals,
// poses, coverage, uncertainty); the pose is the first view's.
CalibrationStats intrinsicStats(const CalibrationViews& views, const IntrinsicResult& result, cv::Size imageSize,
                                int framesOtherSize, const IntrinsicOptions& options);

// The name of record value `index`: "fx", "fy", "cx", "cy", "camera matrix
// element 1", "rotation matrix element 4", "translation x", "k1", "p2", ...
std::string calibrationFieldName(std::size_t index);

// The name of the value a calibration file of `form` ('b', 't', 'c', or 'm'
// with lens model `model`) carries at `position` in reading order (empty
// past its last value).
std::string calibrationFileField(char form, int position, LensModel model = LensModel::OpenCv4);

// The first value of `record` no camera can have, as "<field> is <value>":
// a value that is not a finite number (the model's coefficients after the
// fourth included), or fx or fy not above 0. Empty when every value is
// usable.
std::string calibrationValueProblem(const CalibrationRecord& record);

// Why a calibration cannot be used on frames of `frameSize`, or empty when
// it can: "the calibration is for 1920 x 1080 frames, this frame is 640 x
// 480". A calibration of unknown size (read from a .cal file, which holds
// none) is refused only when its principal point lies outside the frame.
std::string calibrationSizeProblem(const CalibrationRecord& record, const CalibrationStats& stats,
                                   cv::Size frameSize);
