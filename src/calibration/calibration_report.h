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
// cell side of `cellMm` > 0). Empty when `stats` holds no calibration. The
// RMS line belongs to the frames the calibration was made from: it is left
// out once those frames are no longer in the list (stats.frames empty).
std::vector<std::string> calibrationQualityLines(const CalibrationRecord& record, const CalibrationStats& stats,
                                                 double cellMm = 0.0);

// The whole report as the calibration panel shows it: the record's lines
// (with `extrinsic` the pose), the fit, then with `extrinsic` the pose with
// its units.
std::vector<std::string> fullReportLines(const CalibrationRecord& record, const CalibrationStats& stats,
                                         bool extrinsic, double cellSizeMm);

// The pose of the record with its units, for below the rotation and the
// translation: "translation = [12.50 -40.00 700.00] mm (cell side 25 mm)",
// or in cells when `cellSizeMm` is not above 0, then the rotation as an
// angle about an axis, "rotation = 23.5 degrees about [0.120 0.990 0.050]".
std::vector<std::string> poseUnitLines(const CalibrationRecord& record, double cellSizeMm);

// What the calibration is and what it was made from, for the calibration
// panel, in three lines: the lens model and the solver; the frames and
// points used and the image size; the frame whose pose the record holds
// and the cell side.
std::vector<std::string> calibrationSummaryLines(const CalibrationRecord& record, const CalibrationStats& stats,
                                                 double cellSizeMm);
