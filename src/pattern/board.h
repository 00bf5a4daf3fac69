#pragma once
// The printed Vexel board: a checkerboard of 11 x 12 square cells, three of
// which carry a round soft-edged spot of the opposite colour.
//
// Pattern coordinates are in units of one cell side, x to the right and y up,
// seen from the printed side. Corners sit at integer positions; the cell
// labelled (X, Y) is the unit square [X-1, X] x [Y-1, Y]. The labelled corners
// are (i, j) with i = -5 .. 4 and j = -5 .. 5, each an X-junction of four
// cells.

#include <array>

namespace vexel::pattern {

// Cell labels present on the board.
constexpr int kFirstCellX = -5;
constexpr int kLastCellX = 5;
constexpr int kFirstCellY = -5;
constexpr int kLastCellY = 6;
constexpr int kCellColumns = kLastCellX - kFirstCellX + 1;  // 11
constexpr int kCellRows = kLastCellY - kFirstCellY + 1;     // 12

// The board's extent in pattern coordinates.
constexpr double kBoardMinX = kFirstCellX - 1;  // -6
constexpr double kBoardMaxX = kLastCellX;       //  5
constexpr double kBoardMinY = kFirstCellY - 1;  // -6
constexpr double kBoardMaxY = kLastCellY;       //  6

// The labelled corners (the X-junctions the extraction reports).
constexpr int kFirstCornerX = -5;
constexpr int kLastCornerX = 4;
constexpr int kFirstCornerY = -5;
constexpr int kLastCornerY = 5;
constexpr int kCornerCount = (kLastCornerX - kFirstCornerX + 1) * (kLastCornerY - kFirstCornerY + 1);  // 110

// Bright paper around the board, in cells.
constexpr double kMarginCells = 1.5;

// Spot profile, in cells from the cell centre: the spot's own colour out to
// kSpotInnerRadius, a linear ramp to the cell colour at kSpotOuterRadius
// (0.6 of the cell across at the middle of the ramp).
constexpr double kSpotInnerRadius = 0.225;
constexpr double kSpotOuterRadius = 0.375;

// Reflectance of the two colours.
constexpr double kDark = 0.0;
constexpr double kBright = 1.0;

struct MarkerCell {
    int x;            // cell label X
    int y;            // cell label Y
    bool brightCell;  // bright cell with a dark spot (else dark cell, bright spot)
};

// The three marker cells: (0, 3) bright with a dark spot (the origin marker),
// (0, 0) and (1, 1) dark with a bright spot.
constexpr std::array<MarkerCell, 3> kMarkerCells{{{0, 3, true}, {0, 0, false}, {1, 1, false}}};

// Whether cell (X, Y) is part of the board.
bool isBoardCell(int cellX, int cellY);

// Colour rule: bright when X + Y is odd, dark when it is even (for any X, Y).
bool isBrightCell(int cellX, int cellY);

// Whether cell (X, Y) carries a spot.
bool isMarkerCell(int cellX, int cellY);

// Label of the cell that contains the pattern point (x, y): X = floor(x) + 1.
int cellLabelOf(double coordinate);

// Reflectance of the spot profile at distance r (cells) from a marker cell's
// centre: 0 at the spot's colour, 1 at the cell's colour.
double spotBlend(double r);

// Reflectance (0 dark .. 1 bright) of the printed sheet at pattern point
// (x, y): the cells and spots on the board, bright paper everywhere outside
// it. Points on a cell border belong to the cell above/right of it.
double boardReflectance(double x, double y);

// Whether (x, y) lies on the printed sheet: the board plus its margin.
bool onSheet(double x, double y, double marginCells = kMarginCells);

}  // namespace vexel::pattern
