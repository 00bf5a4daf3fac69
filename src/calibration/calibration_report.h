#pragma once
// The text lines of the calibration report, formatted once here so that the
// desktop view draws and the command-line tool prints the same texts.

#include <string>
#include <vector>

#include "calibration/calibration_record.h"
#include "calibration/calibration_stats.h"

// Five intrinsic lines (a sixth naming the lens model when it is not the
// default, whose distortion line then lists the model's coefficients); with
// `extrinsic` also the rotation matrix and the translation vector.
std::vector<std::string> calibrationReportLines(const CalibrationRecord& record, bool extrinsic);

// How well the last intrinsic calibration fits, for below the report:
// "RMS reprojection error = 0.0465 px (20 frames, 2194 points)", then one
// line per camera parameter with its standard deviation, "fx = 700.07 ± 0.16"
// (fx, fy, cx, cy from the record, then its lens model's coefficients; "±"
// in UTF-8). Each value has as many decimals as show two digits of its
// deviation, at least two. Then why the lens model was chosen, when it was,
// and the board's bend, when it was estimated (in millimetres too with a
// cell side of `cellMm` > 0). Empty when `stats` holds no calibration.
std::vector<std::string> calibrationQualityLines(const CalibrationRecord& record, const CalibrationStats& stats,
                                                 double cellMm = 0.0);
