#pragma once
// Draws the calibration report: the lines the core formats for a record and
// its fit, in a fixed-pitch font 16 pixels high, one below the other, and
// says how much room they take so that the view's scroll area covers them.

#include <QFont>

#include <string>
#include <vector>

#include "calibration/calibration_record.h"

class CVexelView;
class QPainter;

// The report font: "Courier New" when installed, else "Liberation Mono";
// 16 pixels high, fixed pitch.
QFont CalibrationReportFont();

// The content size the report asks for.
struct ReportExtent {
    int width = 0;   // image width + the widest line, at least the image width
    int height = 0;  // the y below the last line, when that is larger than the height given
};

// Draws `lines` with the report font, the first line's top-left at (x, y);
// returns the y below the last line. `extent` starts as the content size
// and comes back as the content size the report needs.
int DrawReportLines(QPainter& painter, int x, int y, const std::vector<std::string>& lines, int imageWidth,
                    ReportExtent& extent);
