#include "pattern/printable_board.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <vector>
#include <stdexcept>

#include "pattern/image_encoding.h"

namespace vexel::pattern {

namespace {

std::string shortNumber(double v) {
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    if (ec != std::errc()) return "0";
    return std::string(buffer, end);
}

void checkCellPixels(int cellPixels) {
    if (cellPixels < kMinPrintCellPixels || cellPixels > kMaxPrintCellPixels)
        throw std::invalid_argument("cell size must be " + std::to_string(kMinPrintCellPixels) + " to " +
                                    std::to_string(kMaxPrintCellPixels) + " pixels");
}

std::string lowerExtension(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}

}  // namespace

std::string boardCaption(int cellPixels, double cellMillimetres) {
    std::string text = "Vexel calibration board, " + std::to_string(kCellColumns) + " x " +
                       std::to_string(kCellRows) + " cells";
    if (cellMillimetres > 0.0)
        text += ", cell side " + shortNumber(cellMillimetres) + " mm at 100 % scale";
    else
        text += " of " + std::to_string(cellPixels) + " px";
    return text + ". Measure the printed cell side.";
}

cv::Point2d printablePixelOf(int cellPixels, double x, double y) {
    const double margin = printMarginPixels(cellPixels);
    // Pattern y runs up, image rows run down: the top row is the largest y.
    return {margin + (x - kBoardMinX) * cellPixels - 0.5, margin + (kBoardMaxY - y) * cellPixels - 0.5};
}

cv::Mat renderPrintableBoard(int cellPixels, double cellMillimetres) {
    checkCellPixels(cellPixels);
    const int n = cellPixels;
    const int margin = printMarginPixels(n);
    const int width = kCellColumns * n + 2 * margin;
    const int height = kCellRows * n + 2 * margin;
    cv::Mat sheet(height, width, CV_8UC1, cv::Scalar(255));

    constexpr int kSamples = 8;
    for (int row = margin; row < margin + kCellRows * n; ++row) {
        uint8_t* out = sheet.ptr<uint8_t>(row);
        const int cellY = kLastCellY - (row - margin) / n;
        for (int col = margin; col < margin + kCellColumns * n; ++col) {
            const int cellX = kFirstCellX + (col - margin) / n;
            if (!isMarkerCell(cellX, cellY)) {
                out[col] = isBrightCell(cellX, cellY) ? 255 : 0;
                continue;
            }
            // Spot cells: average the reflectance over staggered sub-samples.
            double sum = 0.0;
            for (int j = 0; j < kSamples; ++j) {
                for (int i = 0; i < kSamples; ++i) {
                    const double sx = col + (i + (j + 0.5) / kSamples) / kSamples;
                    const double sy = row + (j + (i + 0.5) / kSamples) / kSamples;
                    const double x = kBoardMinX + (sx - margin) / n;
                    const double y = kBoardMaxY - (sy - margin) / n;
                    sum += boardReflectance(x, y);
                }
            }
            out[col] = static_cast<uint8_t>(std::lround(255.0 * sum / (kSamples * kSamples)));
        }
    }

    // Caption in the bottom margin, more than a cell below the board.
    const std::string caption = boardCaption(n, cellMillimetres);
    const int font = cv::FONT_HERSHEY_SIMPLEX;
    int baseline = 0;
    const cv::Size unit = cv::getTextSize(caption, font, 1.0, 1, &baseline);
    const double scale = std::min(0.2 * n / unit.height, 0.9 * width / unit.width);
    const int thickness = std::max(1, n / 60);
    const cv::Size size = cv::getTextSize(caption, font, scale, thickness, &baseline);
    const cv::Point origin((width - size.width) / 2, height - static_cast<int>(0.15 * n) - baseline);
    cv::putText(sheet, caption, origin, font, scale, cv::Scalar(0), thickness, cv::LINE_AA);
    return sheet;
}

std::string printableBoardSvg(int cellPixels, double cellMillimetres) {
    checkCellPixels(cellPixels);
    const double w = kSheetCellsWide, h = kSheetCellsHigh;
    std::string widthText, heightText;
    if (cellMillimetres > 0.0) {
        widthText = shortNumber(w * cellMillimetres) + "mm";
        heightText = shortNumber(h * cellMillimetres) + "mm";
    } else {
        widthText = shortNumber(w * cellPixels);
        heightText = shortNumber(h * cellPixels);
    }
    // User units are cells; the sheet's top-left corner is the origin and
    // user y runs down, so pattern y maps to kBoardMaxY + margin - y.
    auto left = [](int cellX) { return shortNumber(cellX - 1 - kBoardMinX + kMarginCells); };
    auto top = [](int cellY) { return shortNumber(kBoardMaxY + kMarginCells - cellY); };

    std::string s;
    s += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    s += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" + widthText + "\" height=\"" +
         heightText + "\" viewBox=\"0 0 " + shortNumber(w) + " " + shortNumber(h) + "\">\n";
    s += "  <title>" + boardCaption(cellPixels, cellMillimetres) + "</title>\n";
    // Spot profile: the spot's colour to 0.225 cell, a linear ramp to the
    // cell's colour at the circle's edge, 0.375 cell.
    const std::string inner = shortNumber(kSpotInnerRadius / kSpotOuterRadius);
    s += "  <defs>\n";
    s += "    <radialGradient id=\"darkSpot\" cx=\"0.5\" cy=\"0.5\" r=\"0.5\">\n";
    s += "      <stop offset=\"0\" stop-color=\"#000000\"/>\n";
    s += "      <stop offset=\"" + inner + "\" stop-color=\"#000000\"/>\n";
    s += "      <stop offset=\"1\" stop-color=\"#ffffff\"/>\n";
    s += "    </radialGradient>\n";
    s += "    <radialGradient id=\"brightSpot\" cx=\"0.5\" cy=\"0.5\" r=\"0.5\">\n";
    s += "      <stop offset=\"0\" stop-color=\"#ffffff\"/>\n";
    s += "      <stop offset=\"" + inner + "\" stop-color=\"#ffffff\"/>\n";
    s += "      <stop offset=\"1\" stop-color=\"#000000\"/>\n";
    s += "    </radialGradient>\n";
    s += "  </defs>\n";
    s += "  <rect class=\"sheet\" x=\"0\" y=\"0\" width=\"" + shortNumber(w) + "\" height=\"" + shortNumber(h) +
         "\" fill=\"#ffffff\"/>\n";
    for (int cellY = kLastCellY; cellY >= kFirstCellY; --cellY) {
        for (int cellX = kFirstCellX; cellX <= kLastCellX; ++cellX) {
            if (isBrightCell(cellX, cellY)) continue;
            s += "  <rect class=\"dark\" x=\"" + left(cellX) + "\" y=\"" + top(cellY) +
                 "\" width=\"1\" height=\"1\" fill=\"#000000\"/>\n";
        }
    }
    for (const MarkerCell& m : kMarkerCells) {
        const std::string cx = shortNumber(m.x - 0.5 - kBoardMinX + kMarginCells);
        const std::string cy = shortNumber(kBoardMaxY + kMarginCells - (m.y - 0.5));
        s += "  <circle class=\"spot\" cx=\"" + cx + "\" cy=\"" + cy + "\" r=\"" + shortNumber(kSpotOuterRadius) +
             "\" fill=\"url(#" + (m.brightCell ? "darkSpot" : "brightSpot") + ")\"/>\n";
    }
    s += "  <text x=\"" + shortNumber(w / 2) + "\" y=\"" + shortNumber(h - 0.2) +
         "\" font-family=\"sans-serif\" font-size=\"0.2\" text-anchor=\"middle\" fill=\"#000000\">" +
         boardCaption(cellPixels, cellMillimetres) + "</text>\n";
    s += "</svg>\n";
    return s;
}

bool encodePrintableBoard(const std::string& path, int cellPixels, double cellMillimetres, std::string& bytes,
                          std::string& error, double dotsPerInch) {
    const std::string ext = lowerExtension(path);
    if (ext != ".png" && ext != ".pgm" && ext != ".svg") {
        error = path + ": unknown extension \"" + ext + "\" (use .png, .pgm or .svg)";
        return false;
    }
    if (cellPixels < kMinPrintCellPixels || cellPixels > kMaxPrintCellPixels) {
        error = path + ": cell size must be " + std::to_string(kMinPrintCellPixels) + " to " +
                std::to_string(kMaxPrintCellPixels) + " pixels";
        return false;
    }
    if (!(cellMillimetres >= 0.0) || !std::isfinite(cellMillimetres)) {
        error = path + ": the cell size in millimetres must be positive";
        return false;
    }
    if (!(dotsPerInch >= 0.0) || !std::isfinite(dotsPerInch)) {
        error = path + ": the resolution must be positive";
        return false;
    }
    if (ext == ".svg") {
        bytes = printableBoardSvg(cellPixels, cellMillimetres);
    } else {
        // A PNG file carries the resolution that prints the cells at the
        // size named, and the caption names the size the resolution gives.
        const bool png = ext == ".png";
        if (png && dotsPerInch <= 0.0 && cellMillimetres > 0.0) dotsPerInch = cellPixels * 25.4 / cellMillimetres;
        const double named = png && dotsPerInch > 0.0 && cellMillimetres <= 0.0
                                 ? std::round(cellPixels * 2540.0 / dotsPerInch) / 100.0
                                 : cellMillimetres;
        const cv::Mat sheet = renderPrintableBoard(cellPixels, named);
        bytes = png ? encodePng(sheet, dotsPerInch) : encodePgm(sheet);
    }
    if (bytes.empty()) {
        error = path + ": cannot encode the picture";
        return false;
    }
    return true;
}

const std::vector<Paper>& papers() {
    static const std::vector<Paper> all{{"A4", 210.0, 297.0}, {"A3", 297.0, 420.0}, {"Letter", 215.9, 279.4}};
    return all;
}

std::optional<Paper> paperNamed(const std::string& name) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const Paper& paper : papers()) {
        std::string own = paper.name;
        std::transform(own.begin(), own.end(), own.begin(), [](unsigned char c) { return std::tolower(c); });
        if (own == lower) return paper;
    }
    return std::nullopt;
}

double largestCellMm(const Paper& paper) {
    return std::min(paper.widthMm / kSheetCellsWide, (paper.heightMm - 2 * kPageCaptionMm) / kSheetCellsHigh);
}

std::optional<PageLayout> layoutOnPaper(const Paper& paper, double cellMm) {
    const double largest = largestCellMm(paper);
    if (cellMm <= 0.0) cellMm = std::floor(largest);
    if (!(cellMm > 0.0) || cellMm > largest + 1e-9) return std::nullopt;
    PageLayout layout;
    layout.pageWidthMm = paper.widthMm;
    layout.pageHeightMm = paper.heightMm;
    layout.cellMm = cellMm;
    layout.boardLeftMm = (paper.widthMm - kCellColumns * cellMm) / 2;
    layout.boardTopMm = (paper.heightMm - kCellRows * cellMm) / 2;
    layout.caption = {"Vexel calibration board, " + std::to_string(kCellColumns) + " x " + std::to_string(kCellRows) +
                          " cells, cell side " + shortNumber(std::round(cellMm * 100) / 100) + " mm on " +
                          paper.name + " paper",
                      "Print at 100 % (actual size, no fit to page) and measure the printed cell side"};
    return layout;
}

}  // namespace vexel::pattern
