#pragma once
// The printable board: the cells and spots of board.h on white paper with a
// bright margin of kMarginCells cells and a small caption below the board
// naming the cell size to measure after printing.
//
// Seen from the printed side the board has pattern y up: the first image row
// is the top of the sheet (largest pattern y).

#include <opencv2/core.hpp>

#include <string>

#include "pattern/board.h"

namespace vexel::pattern {

constexpr int kMinPrintCellPixels = 8;
constexpr int kMaxPrintCellPixels = 400;

// Sheet size in cells: the board plus its margin on every side.
constexpr double kSheetCellsWide = kCellColumns + 2 * kMarginCells;  // 14
constexpr double kSheetCellsHigh = kCellRows + 2 * kMarginCells;     // 15

// Margin of the raster sheet in whole pixels (1.5 cells, rounded down for odd
// cell sizes so that every cell edge falls on a pixel boundary).
constexpr int printMarginPixels(int cellPixels) { return cellPixels * 3 / 2; }

// Caption printed in the bottom margin. cellMillimetres <= 0: not given.
std::string boardCaption(int cellPixels, double cellMillimetres);

// Raster sheet at cellPixels pixels per cell (kMinPrintCellPixels ..
// kMaxPrintCellPixels, else std::invalid_argument): 8-bit grey, 255 bright,
// 0 dark, kCellColumns * cellPixels + 2 * printMarginPixels(cellPixels)
// pixels wide and kCellRows * cellPixels + 2 * margin high (14 x 15 cells
// for even cell sizes). Spot edges are anti-aliased.
cv::Mat renderPrintableBoard(int cellPixels, double cellMillimetres = 0.0);

// Pixel centre of pattern point (x, y) in the raster sheet.
cv::Point2d printablePixelOf(int cellPixels, double x, double y);

// Vector sheet: one square per dark cell, one circle with a radial gradient
// per spot. Sized in millimetres when cellMillimetres > 0, else in pixels
// at cellPixels per cell.
std::string printableBoardSvg(int cellPixels, double cellMillimetres = 0.0);

// The bytes of the sheet's file `path`, the format chosen by its extension
// (.png, .pgm, .svg, any case); the caller writes them. Returns false with a
// message naming the file and the problem for an unknown extension or bad
// sizes.
bool encodePrintableBoard(const std::string& path, int cellPixels, double cellMillimetres, std::string& bytes,
                          std::string& error);

}  // namespace vexel::pattern
