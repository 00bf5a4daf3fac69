#pragma once
// The whole grid extraction of one frame: corners, corner mesh, cells,
// labels and correspondences, each stage writing into the frame's record.

#include <array>
#include <ostream>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "grid/corner_detection.h"
#include "grid/corner_refinement.h"
#include "grid/grid_set.h"

class GridElement;

// What the stages of one extraction left on the way, for inspection.
struct ExtractTrace {
    std::vector<GridPoint> corners;         // the slots right after detectCorners
    int candidateCount = 0;                 // cells made by triangle pairing
    std::array<GridElement*, 3> markers{};  // the slots as findMarkerCells filled them (before any swap)
    std::string rejected;                   // why the marker check refused the frame; empty when it passed
    int search = 0;                         // which search gave the result: 0 the first, k item k - 1 of
                                            // furtherSearches(), kSmallBoardSearch the crowded region's
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

// The first search keeps corners at least 2 x kFirstSearchDistance
// full-resolution pixels apart, so a board whose cells are shorter than
// twice that loses corners to it somewhere and may give no cells at all.
// Such a board's corners crowd together: corners nearer each other than
// kSmallCellSide join one cluster, and a cluster of at least
// kCrowdedCorners corners no wider and no higher than kSmallBoardSpan (the
// diagonal of the board's 11 x 12 cells at kSmallCellSide, turned any way)
// is searched again at full resolution.
constexpr double kSmallCellSide = 2.0 * 2.0 * kFirstSearchDistance;
constexpr int kCrowdedCorners = kBoardCorners / 4;
constexpr double kSmallBoardSpan = 17.0 * kSmallCellSide;

// ExtractTrace::search of a frame labelled by the search of its crowded
// region.
constexpr int kSmallBoardSearch = 4;

// The searches' windows and distances are in pixels, made for frames of up
// to about 2000 pixels: on a larger frame a blur of a few pixels, or the
// soft edge of a shadow, is wider than the detection's window, and the
// corners come out twinned or not at all. A frame whose longer side exceeds
// kHalvedFrameSide that the searches label less than the whole board is
// therefore searched once more shrunk by half (the frame halved: at least
// 1280 pixels on that side); its labelled points, doubled, are refined on
// the frame itself with windows sized from their cells and checked there
// (finalPoints). ExtractTrace::search of a frame labelled that way is
// kHalvedSearch; its corners and cells are given in the frame's pixels.
constexpr int kHalvedFrameSide = kLargeFrameSide;
constexpr int kHalvedSearch = 5;

// The region around the largest cluster of crowded `corners` (first-search
// corners in full-resolution pixels), widened by two small cells on every
// side; empty when no cluster is large enough and small enough.
cv::Rect crowdedRegion(const std::vector<GridPoint>& corners);

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
// first search labels to half the board or more keeps its result; one where
// it kept fewer than kCellsWorthSearching grid cells is searched again only
// in its crowdedRegion, at full resolution, with corners kSmallCellDistance
// apart. The correspondences of the search kept are then grown
// (grownPoints): the board's corners it missed next to the labelled block
// (a deep shadow, the edge of a glare) follow its points, which keep their
// slots.
// `diagnostics` receives the triangulation's two diagnostic lines (null: dropped); `errors` receives one line when
// the frame is given up (triangulation failure, marker check) (null: dropped).
// Does nothing unless the frame is allocated and the image is not empty. A
// failed triangulation leaves the frame with point count 0; the cells of
// frames already done and of later frames are not affected.
void extractFrame(GridSet& set, int frame, const cv::Mat& image, ExtractTrace* trace = nullptr,
                  std::ostream* diagnostics = nullptr, std::ostream* errors = nullptr,
                  const ExtractOptions& options = {});
