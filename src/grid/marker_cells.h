#pragma once
// Marker cells (cells with a central spot of the opposite colour), the check
// of the labels against the printed board's markers, and the last stage of a
// frame's extraction: labels to correspondences in the grid record.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "geomlib/g_container.h"
#include "grid/point_check.h"

class g_node;
class GridElement;
class GridSet;

// Marker classes as classifyMarkerCell reports them.
constexpr int kMarkerBrightCell = 0;  // bright cell with a dark spot
constexpr int kMarkerDarkCell = 1;    // dark cell with a bright spot
constexpr int kNotAMarker = -1;

// Decides from the image whether `cell` is a marker: 0 (bright cell, dark
// spot), 1 (dark cell, bright spot) or -1. Compares the cell's meanGrey with
// its four-node edge neighbours' (all brighter: a dark cell; none brighter: a
// bright cell) and with the mean of the pixels in a 5 x 5 window at the
// cell's centroid, clipped to the image. `rowStep` is the distance in bytes
// between rows; a pixel's bytes (bitsPerPixel / 8 of them) are read as a
// little-endian value.
int classifyMarkerCell(const uint8_t* pixels, int width, int height, int rowStep, int bitsPerPixel,
                       GridElement* cell);

// Every marker is printed inside the board, so it shares all four sides
// with board cells, and neighbouring cells of the board differ little in
// area even under steep perspective. A quadrilateral made where the board
// meets its surroundings (part board, part background) shares one or two
// sides with board cells of quite another size. A cell sits in the lattice
// when at least kLatticeSides of its four-node edge neighbours have an area
// within a factor kLatticeAreaRatio of its own; one side is allowed to miss
// its neighbour (corners lost at steep tilts).
constexpr int kLatticeSides = 3;
constexpr double kLatticeAreaRatio = 2.0;
bool sitsInLattice(GridElement* cell);

struct FoundMarker {
    GridElement* cell;
    int markerClass;
};

// Classifies every cell of the frame's gridPart, in position order, and fills
// the `slotCount` slots: a marker of class k that sits in the lattice
// (sitsInLattice) goes into the first empty slot at position k or after it;
// markers finding none are dropped. Every cell classified as a marker
// (slotted or not, in the lattice or not) is appended to `found` when given,
// so that the check of the labels still sees it.
// Does nothing when the frame has no grid part, `slots` is null or the image
// is empty or not 8-bit.
void findMarkerCells(GridSet& set, int frame, const cv::Mat& image, GridElement** slots, int slotCount,
                     std::vector<FoundMarker>* found = nullptr);

// Whether a marker of `markerClass` is printed on pattern cell (x, y).
bool isPrintedMarker(int cellX, int cellY, int markerClass);

// The printed markers: the origin (0, 3), and (0, 0) and (1, 1).
struct PrintedMarker {
    int x;
    int y;
    int markerClass;
};
constexpr std::array<PrintedMarker, 3> kPrintedMarkers{
    {{0, 3, kMarkerBrightCell}, {0, 0, kMarkerDarkCell}, {1, 1, kMarkerDarkCell}}};

// When labelGrid cannot label a frame (the origin marker not found, or not
// sitting in the lattice), the frame is labelled from any two markers that
// fit the board (labelFrameGrid). Markers are then also judged against the
// median of their neighbours: a cell at least kMinCellContrast grey levels
// brighter (darker) than the median rim of its (at least
// kCandidateNeighbours) neighbours, whose middle lies kSpotEvidence of that
// difference below (above) its own rim.
constexpr size_t kCandidateNeighbours = 2;
constexpr double kMinCellContrast = 10.0;
constexpr double kSpotEvidence = 0.5;
// A marker whose cell was not found is judged by samples where the walked
// lattice puts it; its rim then must be even: its samples within this share
// of the spot's depth of each other.
constexpr double kEvenRimShare = 0.5;
// A cell whose rim is even and whose spot evidence is below this shows
// plainly that no marker is printed there.
constexpr double kAbsentEvidence = 0.125;
// When no cell is a marker candidate (a glare or a shadow's edge cut every
// marker's cell), the markers are looked for by their spots on the lattice
// walked over each part of the grid of at least this many cells.
constexpr size_t kMinSpotWalk = 12;

// One cell of the board is close to a parallelogram: even at steep tilts
// and under strong lens distortion, its opposite sides differ by a few per
// cent. A quadrilateral whose opposite sides differ by more than a factor
// kCellSideRatio joins corners of different rows or columns (a glare or a
// shadow hid the corners between them); it is no cell, so it is no marker,
// however its middle and rim compare.
constexpr double kCellSideRatio = 1.5;
bool hasCellShape(GridElement* cell);

// A glare or a shadow's edge that hides a corner leaves a quadrilateral
// joining two or more board cells, which may still look like one cell; a
// walk through it steps one label where the board steps two, and labels
// the cells beyond it one off. Such a quadrilateral is larger than the
// cells beside it: neighbouring board cells differ in size (the root of
// their area) by a few per cent even at steep tilts and under strong lens
// distortion (at most 8 % over rendered views with strong barrel
// distortion), a quadrilateral joining cells by 20 % or more. One more
// than kMergedCellRatio times the median size of its edge neighbours that
// are cells (at least two; those found larger themselves do not count) is
// left out of the walks that label a frame from two markers.
constexpr double kMergedCellRatio = 1.15;

// The board's cell columns and rows (pattern.md), and how the two
// placements that two dark markers alone leave open are told apart when the
// origin's spot cannot be seen: the one whose margin columns (one beyond the
// board's first and last) alternate from row to row by less than
// kFlatMarginShare of the board's contrast (measured on the origin's
// column), while the other's alternate by more than kBoardRowShare of it.
// The two placements differ by a half turn about corner (0, 0), which maps
// column X to 1 - X: the board's columns -5 .. 5 to -4 .. 6, so one of the
// other placement's margin columns is a column of the board. A margin
// column two cells beyond the cells found (the board's outer ring lost) is
// still placed, one cell on from the two cells next to it in its row.
constexpr int kFirstBoardColumn = -5;
constexpr int kLastBoardColumn = 5;
constexpr int kFirstBoardRow = -5;
constexpr int kLastBoardRow = 6;
constexpr double kFlatMarginShare = 0.25;
constexpr double kBoardRowShare = 0.5;

// The correspondences of a frame lie on the board's lattice: a corner
// predicted from the next two along its row or column, 2 p(i+1) - p(i+2),
// misses it by far less than a cell side even under steep perspective and
// lens distortion. A cell merged from two board cells (when the corners
// between them were not found) shifts labels by a whole cell and breaks this.
constexpr double kLatticeTolerance = 0.3;

// Why the correspondences cannot be trusted: some corner lies more than
// kLatticeTolerance times the neighbours' spacing off the prediction from
// its next two neighbours in a row or column. Empty when every corner fits.
std::string latticeReason(const std::vector<LabelledPoint>& points);

// A corner that breaks the lattice is dropped with its cells and the grid
// labelled again, at most this many times per frame; a frame that still
// breaks it is refused.
constexpr int kMaxDroppedCorners = 12;

// Corner refinement looks at a window of 2 h + 1 pixels around a corner
// (h = kRefineHalfWindow for the corners of detectCorners). Where that
// window runs off the image, or comes within kBorderMargin pixels of its
// edge, the refinement sees a cut-off pattern and the corner is not where
// the board's corner is (often it is not on the board at all).
constexpr int kRefineHalfWindow = 4;
constexpr double kBorderMargin = 2.0;

// Whether the refinement window of half-size `halfWindow` around (x, y), and
// the pixel beyond it that the refinement reads, lie inside a width x height
// image at least kBorderMargin pixels from its edge.
bool refinementWindowInside(double x, double y, int width, int height, int halfWindow = kRefineHalfWindow);

// Whether (x, y) is still where the corner search put it before refinement
// (even whole pixels): the refinement gave up on such a corner, which can lie
// pixels away from the board's corner, so it is not output.
bool unrefinedStart(double x, double y);

// Finds the marker cells, labels the frame's cells (labelGrid) and writes
// the correspondences into the frame's slots and point count.
//
// Correspondences whose refinement window is not inside the image
// (refinementWindowInside) or that the refinement did not settle
// (unrefinedStart) are left out.
//
// When labelGrid labels nothing, the frame is labelled from any two of the
// three markers that fit the board (a marker lost to a glare, a shadow's
// edge or blur); a placement that two dark markers alone leave open is
// refused unless the origin's spot decides it; the walks go round
// quadrilaterals larger than the cells beside them (kMergedCellRatio). When
// no two markers' cells fit, a marker whose cell was not found counts where
// the lattice walked from another marker shows its spot, first where its rim
// is even, then, when every other placement is refuted, where a glare lights
// it unevenly. `*weakLabels` then tells that the labels rest on such a spot
// or on a walk that went round a quadrilateral (false otherwise): another
// search of the frame may find that marker's cell, or the corners a glare
// hid, and more of the board.
//
// When the labelling succeeded, the correspondences must fit the lattice
// (latticeReason): a corner that breaks it is deleted with its cells and
// the frame labelled again (kMaxDroppedCorners). Once they fit, every cell
// called a marker that ended inside the labelled window must lie on a
// printed marker cell of its class. A false marker, or a lattice still
// broken, means the labels are not trusted: the frame gets point count 0,
// no cell keeps inGrid, and the reason goes to `*rejected`.
//
// The correspondences then pass the last check (finalPoints; `refine`
// refines every one of them with a window sized from its cells first).
//
// `markers`, when given, receives the slots as the last marker search filled
// them (before labelling may swap slots 1 and 2). `rejected` is emptied first.
// Returns true when the frame got at least one correspondence. Does nothing
// (and returns false) when the frame is not allocated or the image is empty
// or not 8-bit.
bool labelFrameGrid(GridSet& set, int frame, const cv::Mat& image, std::array<GridElement*, 3>* markers = nullptr,
                    std::string* rejected = nullptr, bool refine = false, bool* weakLabels = nullptr);
