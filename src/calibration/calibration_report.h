#pragma once
// The text lines of the calibration report, formatted once here so that the
// desktop view draws and the command-line tool prints the same texts.

#include <string>
#include <vector>

#include "calibration/calibration_record.h"

// Five intrinsic lines; with `extrinsic` also the rotation matrix and the
// translation vector (eleven lines in all).
std::vector<std::string> calibrationReportLines(const CalibrationRecord& record, bool extrinsic);
