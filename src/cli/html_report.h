#pragma once
// The calibration report as one self-contained HTML page (its pictures
// inline as SVG, the uncertainty colours as an embedded PNG), for a bug
// report or a lab notebook. Its sections, by id: "parameters" (with their
// deviations), "warnings", "coverage" (the figures and the verdict),
// "frames" (every used frame's error), "residuals" (the plots), "poses" and
// "uncertainty" (the map). The page is well-formed XML as well as HTML.

#include <string>

#include "calibration/output_file.h"

class CVexelDoc;

namespace vexel::cli {

// The page for the document's calibration (with the pose lines when
// `extrinsic`). Needs an intrinsic calibration made in this run.
std::string calibrationReportHtml(CVexelDoc& doc, bool extrinsic);

// Writes the page to `path`, replacing the file only once it is complete.
// False, with the reason naming the file in `error`, when it cannot be.
bool writeCalibrationReport(const std::string& path, CVexelDoc& doc, bool extrinsic, std::string& error,
                            const vexel::OutputOptions& options = {});

}  // namespace vexel::cli
