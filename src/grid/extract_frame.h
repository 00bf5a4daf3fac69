#pragma once
// The whole grid extraction of one frame: corners, corner mesh, cells,
// labels and correspondences, each stage writing into the frame's record.

#include <array>
#include <ostream>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "grid/grid_set.h"

class GridElement;

// What the stages of one extraction left on the way, for inspection.
struct ExtractTrace {
    std::vector<GridPoint> corners;         // the slots right after detectCorners
    int candidateCount = 0;                 // cells made by triangle pairing
    std::array<GridElement*, 3> markers{};  // the slots as findMarkerCells filled them (before any swap)
    std::string rejected;                   // why the marker check refused the frame; empty when it passed
};

// Choices that change what the extraction outputs; the defaults give the
// plain pipeline.
struct ExtractOptions {
    // Refine the labelled correspondences once more with windows sized from
    // the cells (refineCorrespondences).
    bool refineCorners = false;
};

// Runs detectCorners, triangulateCorners, buildGridCells, labelFrameGrid on one frame
// (then refineCorrespondences when options.refineCorners is set).
// `diagnostics` receives the triangulation's two diagnostic lines (null: dropped); `errors` receives one line when
// the frame is given up (triangulation failure, marker check) (null: dropped).
// Does nothing unless the frame is allocated and the image is not empty. A
// failed triangulation leaves the frame with point count 0; the cells of
// frames already done and of later frames are not affected.
void extractFrame(GridSet& set, int frame, const cv::Mat& image, ExtractTrace* trace = nullptr,
                  std::ostream* diagnostics = nullptr, std::ostream* errors = nullptr,
                  const ExtractOptions& options = {});
