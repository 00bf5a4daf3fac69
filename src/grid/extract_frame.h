#pragma once
// The whole grid extraction of one frame: corners, corner mesh, cells,
// labels and correspondences, each stage writing into the frame's record.

#include <array>
#include <ostream>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "grid/corner_detection.h"
#include "grid/grid_set.h"

class GridElement;

// What the stages of one extraction left on the way, for inspection.
struct ExtractTrace {
    std::vector<GridPoint> corners;         // the slots right after detectCorners
    int candidateCount = 0;                 // cells made by triangle pairing
    std::array<GridElement*, 3> markers{};  // the slots as findMarkerCells filled them (before any swap)
    std::string rejected;                   // why the marker check refused the frame; empty when it passed
    int search = 0;                         // which search gave the result: 0 the first, k item k - 1 of
                                            // furtherSearches()
};

// Choices that change what the extraction outputs; the defaults give the
// plain pipeline.
struct ExtractOptions {
    // Refine the labelled correspondences once more with windows sized from
    // the cells (finalPoints).
    bool refineCorners = false;
};

// The whole board: every labelled corner of the pattern.
constexpr int kBoardCorners = 110;
// Half the board: a frame where the first search labels this many corners
// keeps its result.
constexpr int kFirstSearchEnough = kBoardCorners / 2;
// The further searches run only where the first kept at least this many
// grid cells: a few cells of the board, in the light or sharp enough.
constexpr int kCellsWorthSearching = 4;

// The searches tried after the first one: the contrast normalised locally
// (shadows, glare, dim parts), the same smoothed by kBlurredSmoothing of the
// half frame's longer side with a refinement window of half-size
// kBlurredHalfWindow (motion blur, defocus), and at full resolution with
// corners kSmallCellDistance pixels apart (small cells). Each runs in a
// record of up to kFurtherMaxPoints corners, since a normalised frame shows
// the surroundings' corners as strongly as the board's.
constexpr double kBlurredSmoothing = 0.0025;
constexpr int kBlurredHalfWindow = 8;
constexpr double kSmallCellDistance = 6.0;
constexpr int kFurtherMaxPoints = 400;
const std::vector<CornerSearch>& furtherSearches();

// Runs detectCorners, triangulateCorners, buildGridCells, labelFrameGrid on one frame
// (which refines every correspondence when options.refineCorners is set).
// When that labels fewer than kFirstSearchEnough corners, the further
// searches run in turn, each through the same stages in a record of its own,
// and one that labels more than the frame holds replaces the frame's record
// (points and both parts), until the whole board is labelled. A frame the
// first search labels to half the board or more keeps its result.
// `diagnostics` receives the triangulation's two diagnostic lines (null: dropped); `errors` receives one line when
// the frame is given up (triangulation failure, marker check) (null: dropped).
// Does nothing unless the frame is allocated and the image is not empty. A
// failed triangulation leaves the frame with point count 0; the cells of
// frames already done and of later frames are not affected.
void extractFrame(GridSet& set, int frame, const cv::Mat& image, ExtractTrace* trace = nullptr,
                  std::ostream* diagnostics = nullptr, std::ostream* errors = nullptr,
                  const ExtractOptions& options = {});
