#pragma once
// The correspondence file (.points): for every frame of the document a
// header line "frame<i>", then, when the frame has a view (frameHasView), one
// line per point with pattern x, pattern y, image x and image y (six
// decimals, single blanks); a final empty line ends the file.

#include <string>

#include "calibration/output_file.h"

class GridSet;

// The file's text for frames 0 to frameCount - 1 (frames beyond the grid
// set's own frame count get their header only).
std::string formatCorrespondences(const GridSet& set, int frameCount);

// Writes that text to `path`; the target is replaced only when the whole
// file was written. False on failure, with the reason in `error`.
bool CorrespondenceFileWriter(const GridSet& set, int frameCount, const std::string& path,
                              std::string* error = nullptr, const vexel::OutputOptions& output = {});
