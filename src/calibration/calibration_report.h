#pragma once
// The text lines of the calibration report, formatted once here so that the
// desktop view draws and the command-line tool prints the same texts.

#include <string>
#include <vector>

#include "calibration/calibration_record.h"
#include "calibration/calibration_stats.h"

// Five intrinsic lines; with `extrinsic` also the rotation matrix and the
// translation vector (eleven lines in all).
std::vector<std::string> calibrationReportLines(const CalibrationRecord& record, bool extrinsic);

// How well the last intrinsic calibration fits, for below the report:
// "RMS reprojection error = 0.0465 px (20 frames, 2194 points)", then one
// line per camera parameter with its standard deviation, "fx = 700.07 ± 0.16"
// (fx, fy, cx, cy from the record, k1, k2, p1, p2 from its distortion; "±" in
// UTF-8). Each value has as many decimals as show two digits of its
// deviation, at least two. Empty when `stats` holds no calibration.
std::vector<std::string> calibrationQualityLines(const CalibrationRecord& record, const CalibrationStats& stats);
