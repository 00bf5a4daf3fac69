#pragma once
// An SVG picture of one examined frame: the frame itself (embedded as PNG)
// with the corners, triangles, grid cells, marker cells and the pattern
// position of every correspondence drawn over it, and with a calibration
// the residual of every correspondence.

#include <iosfwd>
#include <string>

#include <opencv2/core/mat.hpp>

#include "calibration/output_file.h"
#include "cli/frame_report.h"

struct FrameResiduals;

namespace vexel::cli {

// A coordinate with two decimals, independent of the C locale (0 for a
// value that is not finite or beyond 1e12).
std::string svgNumber(double value);
// `text` with &, <, > and " replaced by their XML entities.
std::string escapeXml(const std::string& text);

// The "residuals" layer: every correspondence's detected point, reprojected
// point and error enlarged (the scale in a line of text at the bottom
// left), coloured by length, and the worst corners ringed with their error.
void writeSvgResiduals(std::ostream& out, const FrameResiduals& residuals, cv::Size imageSize);

// Standard base64 (RFC 4648 alphabet, '=' padding, no line breaks).
std::string base64Encode(const unsigned char* data, size_t size);

// Writes the SVG document to `out`. Returns false (and sets `error`) when the
// frame cannot be encoded as PNG.
// With `residuals`, the residuals layer goes on top.
bool writeSvgOverlay(std::ostream& out, const cv::Mat& image, const FrameReport& report, std::string& error,
                     const FrameResiduals* residuals = nullptr);

// The same into the output `path` (written with writeOutputFile); `error`
// names the file on failure.
bool writeSvgOverlayFile(const std::string& path, const cv::Mat& image, const FrameReport& report,
                         std::string& error, const FrameResiduals* residuals = nullptr,
                         const vexel::OutputOptions& options = {});

}  // namespace vexel::cli
