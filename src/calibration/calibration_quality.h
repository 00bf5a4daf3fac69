#pragma once
// Which frames of an intrinsic calibration fit far worse than the rest, so
// that the user can look at their detections.

#include <vector>

#include "calibration/calibration_stats.h"

// A frame's error counts as far above the rest when it exceeds both this
// many times the median of all frames' errors and the absolute floor below.
constexpr double SUSPECT_MEDIAN_FACTOR = 3.0;
constexpr double SUSPECT_MIN_ERROR = 0.5;  // pixels

// The frames used by the calibration whose RMS reprojection error is above
// both limits, in the order of stats.frames. Empty when there are fewer than
// three frames (no meaningful median) or the stats are not valid.
std::vector<int> suspectFrames(const CalibrationStats& stats);
