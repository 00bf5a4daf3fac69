#pragma once
// The printable board: the cells and spots of board.h on white paper with a
// bright margin of kMarginCells cells and a small caption below the board
// naming the cell size to measure after printing.
//
// Seen from the printed side the board has pattern y up: the first image row
// is the top of the sheet (largest pattern y).

#include <opencv2/core.hpp>

#include <optional>
#include <string>
#include <vector>

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
// (.png, .pgm, .svg, any case); the caller writes them. A PNG file carries a
// resolution when a size is asked for: `dotsPerInch` when above 0 (the
// caption then names the cell side that gives, unless cellMillimetres names
// it), else the one that prints cells of cellMillimetres when that is above
// 0. Returns false with a message naming the file and the problem for an
// unknown extension or bad sizes.
bool encodePrintableBoard(const std::string& path, int cellPixels, double cellMillimetres, std::string& bytes,
                          std::string& error, double dotsPerInch = 0.0);

// A paper size for the PDF sheet, portrait, in millimetres.
struct Paper {
    const char* name;
    double widthMm;
    double heightMm;
};

// A4, A3 and Letter.
const std::vector<Paper>& papers();

// The paper of that name in any letter case; none for another name.
std::optional<Paper> paperNamed(const std::string& name);

// The board on a page: where it sits and how large its cells are, in
// millimetres from the page's top-left corner.
struct PageLayout {
    double pageWidthMm = 0;
    double pageHeightMm = 0;
    double cellMm = 0;
    double boardLeftMm = 0;  // left edge of the board (pattern x = -6)
    double boardTopMm = 0;   // top edge of the board (pattern y = 6)
    // The caption's lines, printed below the board's bright margin.
    std::vector<std::string> caption;
};

// Room the page keeps free beside the board's bright margin, above and
// below, for the caption and the printer's unprintable border.
constexpr double kPageCaptionMm = 20.0;

// The largest cell side (mm) with which the board and its 1.5-cell margin fit
// across the paper's width and, with kPageCaptionMm more above and below,
// its height (portrait; landscape never holds larger cells on these papers).
double largestCellMm(const Paper& paper);

// The board centred on the paper with cells of `cellMm`, or with the largest
// whole number of millimetres that fits when cellMm <= 0. None when the cells
// do not fit (cellMm > largestCellMm).
std::optional<PageLayout> layoutOnPaper(const Paper& paper, double cellMm);

// The PDF module's entry point (vexel-print.so): the bytes of a one-page PDF
// of the board laid out as `layout` says, or false with the reason.
using BoardPdfWriter = bool(const PageLayout& layout, std::string& bytes, std::string& error);
constexpr const char* BOARD_PDF_WRITER = "vexelBoardPdf";

}  // namespace vexel::pattern
