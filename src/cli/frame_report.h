#pragma once
// What one frame's grid extraction found, stage by stage, in a plain form
// that the command-line tool prints as JSON or text and draws as an overlay.

#include <array>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <opencv2/core/mat.hpp>

#include "grid/extract_frame.h"
#include "grid/grid_set.h"

namespace vexel::cli {

struct StagePolygon {
    std::vector<int> nodes;  // 0-based corner positions (node id - 1)
    uint32_t meanGrey = 0;
    int inGrid = 0;
    int labelled = 0;
    int gridX = NO_LABEL;
    int gridY = NO_LABEL;
};

struct FrameReport {
    std::string image;  // the path as given
    int width = 0;
    int height = 0;
    std::vector<GridPoint> corners;  // as stored right after corner detection
    std::vector<StagePolygon> triangles;
    int candidateCount = 0;
    std::vector<StagePolygon> cells;
    std::array<int, 3> markers{-1, -1, -1};  // positions in `cells`, -1 for an empty slot
    std::vector<std::array<float, 4>> correspondences;  // image x, y, pattern x, y
    std::string rejected;  // why the marker check refused the frame, or empty
};

// Runs the whole extraction on `image` (a frame image) in a one-frame grid
// record of 200 point slots and collects what each stage left. The
// triangulation's diagnostic lines go to `diagnostics` and lines about a
// frame given up to `errors` (either may be null: dropped). Fatal_Error from
// the geometry library passes through. `options` as for extractFrame.
FrameReport reportFrame(const std::string& imageName, const cv::Mat& image, std::ostream* diagnostics,
                        std::ostream* errors, const ExtractOptions& options = {});

// The report as one JSON object, keys in a fixed order: image, width,
// height, corners, triangles, candidateCount, cells, markers,
// correspondences, and rejected only when the frame was refused.
nlohmann::ordered_json frameReportJson(const FrameReport& report);

// Indented JSON text (one space per level, one value per line). Numbers
// print as the shortest text that reads back as the same double, the nearest
// one when several are as short, and whole doubles keep a ".0".
std::string formatJson(const nlohmann::ordered_json& value);

// A few lines for a reader: size and the count of every stage's results.
void writeFrameSummary(std::ostream& out, const FrameReport& report);

}  // namespace vexel::cli
