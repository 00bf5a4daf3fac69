#pragma once
// Where the board's axes appear in the frame whose pose the record holds.

#include <array>

#include <opencv2/core/types.hpp>

#include "calibration/calibration_record.h"

// The board's origin and the ends of its X, Y and Z axes, each `length`
// cells long, as the record's camera sees them with its pose and its lens
// distortion, in frame pixels: origin, X end, Y end, Z end. Z is X cross Y.
std::array<cv::Point2f, 4> projectBoardAxes(const CalibrationRecord& record, double length = 1.0);
