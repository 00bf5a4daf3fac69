#pragma once
// An SVG picture of one examined frame: the frame itself (embedded as PNG)
// with the corners, triangles, grid cells, marker cells and the pattern
// position of every correspondence drawn over it.

#include <iosfwd>
#include <string>

#include <opencv2/core/mat.hpp>

#include "calibration/output_file.h"
#include "cli/frame_report.h"

namespace vexel::cli {

// Standard base64 (RFC 4648 alphabet, '=' padding, no line breaks).
std::string base64Encode(const unsigned char* data, size_t size);

// Writes the SVG document to `out`. Returns false (and sets `error`) when the
// frame cannot be encoded as PNG.
bool writeSvgOverlay(std::ostream& out, const cv::Mat& image, const FrameReport& report, std::string& error);

// The same into the output `path` (written with writeOutputFile); `error`
// names the file on failure.
bool writeSvgOverlayFile(const std::string& path, const cv::Mat& image, const FrameReport& report,
                         std::string& error, const vexel::OutputOptions& options = {});

}  // namespace vexel::cli
