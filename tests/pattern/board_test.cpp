#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "pattern/board.h"
#include "pattern/printable_board.h"

using namespace vexel::pattern;

namespace {

// Centre of cell (X, Y) in pattern coordinates.
double centreOf(int label) { return label - 0.5; }

size_t countOf(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

}  // namespace

TEST(Board, ColourRuleAndExtentAtCellCentres) {
    int bright = 0, dark = 0;
    for (int y = kFirstCellY; y <= kLastCellY; ++y) {
        for (int x = kFirstCellX; x <= kLastCellX; ++x) {
            ASSERT_TRUE(isBoardCell(x, y));
            const bool expectBright = (x + y) % 2 != 0;
            EXPECT_EQ(isBrightCell(x, y), expectBright) << x << "," << y;
            // A corner of the cell, clear of any spot, shows the cell's colour.
            EXPECT_EQ(boardReflectance(x - 0.9, y - 0.9), expectBright ? 1.0 : 0.0) << x << "," << y;
            (expectBright ? bright : dark)++;
        }
    }
    EXPECT_EQ(bright + dark, 132);
    EXPECT_EQ(dark, 66);
    EXPECT_FALSE(isBoardCell(-6, 0));
    EXPECT_FALSE(isBoardCell(6, 0));
    EXPECT_FALSE(isBoardCell(0, -6));
    EXPECT_FALSE(isBoardCell(0, 7));
    // The margin and everything beyond the board is bright, even next to a dark cell.
    EXPECT_TRUE(isBrightCell(-5, 6) && !isBrightCell(-5, -5));
    EXPECT_EQ(boardReflectance(-6.01, -5.5), 1.0);
    EXPECT_EQ(boardReflectance(-5.99, -5.5), 0.0);
    EXPECT_EQ(boardReflectance(0.0, 6.2), 1.0);
    EXPECT_EQ(boardReflectance(100.0, -100.0), 1.0);
}

TEST(Board, CornersAreXJunctions) {
    // Every labelled corner has four cells around it, alternating in colour.
    for (int j = kFirstCornerY; j <= kLastCornerY; ++j) {
        for (int i = kFirstCornerX; i <= kLastCornerX; ++i) {
            const double e = 0.05;
            const double ne = boardReflectance(i + e, j + e), nw = boardReflectance(i - e, j + e);
            const double sw = boardReflectance(i - e, j - e), se = boardReflectance(i + e, j - e);
            EXPECT_EQ(ne, sw);
            EXPECT_EQ(nw, se);
            EXPECT_NE(ne, nw) << i << "," << j;
        }
    }
}

TEST(Board, MarkerSpotsSitInTheirCellsWithTheSoftEdge) {
    EXPECT_TRUE(isMarkerCell(0, 3));
    EXPECT_TRUE(isMarkerCell(0, 0));
    EXPECT_TRUE(isMarkerCell(1, 1));
    int markers = 0;
    for (int y = kFirstCellY; y <= kLastCellY; ++y)
        for (int x = kFirstCellX; x <= kLastCellX; ++x) markers += isMarkerCell(x, y) ? 1 : 0;
    EXPECT_EQ(markers, 3);

    // Origin: bright cell, dark spot. The other two: dark cells, bright spots.
    EXPECT_TRUE(isBrightCell(0, 3));
    EXPECT_EQ(boardReflectance(centreOf(0), centreOf(3)), 0.0);
    EXPECT_FALSE(isBrightCell(0, 0));
    EXPECT_EQ(boardReflectance(centreOf(0), centreOf(0)), 1.0);
    EXPECT_FALSE(isBrightCell(1, 1));
    EXPECT_EQ(boardReflectance(centreOf(1), centreOf(1)), 1.0);
    // No spot in an ordinary cell.
    EXPECT_EQ(boardReflectance(centreOf(1), centreOf(3)), 0.0);
    EXPECT_EQ(boardReflectance(centreOf(2), centreOf(3)), 1.0);

    // Profile along x from the origin spot's centre: flat to 0.225, linear to
    // the cell colour at 0.375, 0.5 at the middle of the ramp (0.6 across).
    const double cx = centreOf(0), cy = centreOf(3);
    EXPECT_EQ(boardReflectance(cx + 0.2, cy), 0.0);
    EXPECT_NEAR(boardReflectance(cx + 0.3, cy), 0.5, 1e-12);
    EXPECT_NEAR(boardReflectance(cx, cy - 0.25), 0.25 / 1.5, 1e-12);
    EXPECT_EQ(boardReflectance(cx - 0.38, cy), 1.0);
    // The bright spots ramp the other way.
    EXPECT_NEAR(boardReflectance(centreOf(1) + 0.3, centreOf(1)), 0.5, 1e-12);
    EXPECT_EQ(boardReflectance(centreOf(1) + 0.4, centreOf(1)), 0.0);
}

TEST(PrintableBoard, RasterHasPatternYUpAndSpotsInPlace) {
    const int n = 40;
    const cv::Mat sheet = renderPrintableBoard(n);
    ASSERT_EQ(sheet.type(), CV_8UC1);
    EXPECT_EQ(sheet.cols, 14 * n);
    EXPECT_EQ(sheet.rows, 15 * n);
    auto at = [&](double x, double y) {
        const cv::Point2d p = printablePixelOf(n, x, y);
        return static_cast<int>(sheet.at<uint8_t>(static_cast<int>(std::lround(p.y)), static_cast<int>(std::lround(p.x))));
    };
    // Top-left cell (-5, 6) is bright, bottom-left (-5, -5) dark: the first
    // rows are the top of the board.
    EXPECT_EQ(at(centreOf(-5), centreOf(6)), 255);
    EXPECT_EQ(at(centreOf(-5), centreOf(-5)), 0);
    EXPECT_EQ(at(centreOf(4), centreOf(6)), 0);
    EXPECT_EQ(at(centreOf(5), centreOf(6)), 255);
    EXPECT_EQ(at(centreOf(2), centreOf(0)), 0);
    EXPECT_EQ(at(centreOf(3), centreOf(0)), 255);
    // Spots.
    EXPECT_EQ(at(centreOf(0), centreOf(3)), 0);
    EXPECT_EQ(at(centreOf(0), centreOf(0)), 255);
    EXPECT_EQ(at(centreOf(1), centreOf(1)), 255);
    EXPECT_EQ(at(centreOf(0) + 0.45, centreOf(3)), 255);
    // Margin: bright, and the caption keeps more than a cell away from the board.
    EXPECT_EQ(at(-6.5, 0.0), 255);
    const int boardBottom = static_cast<int>(printablePixelOf(n, 0, kBoardMinY).y);
    cv::Mat nearBoard = sheet(cv::Range(boardBottom + 2, boardBottom + n), cv::Range::all());
    EXPECT_EQ(cv::countNonZero(nearBoard != 255), 0);
    cv::Mat captionBand = sheet(cv::Range(boardBottom + n, sheet.rows), cv::Range::all());
    EXPECT_GT(cv::countNonZero(captionBand != 255), 0);
}

TEST(PrintableBoard, OddCellSizesKeepCellEdgesOnPixelBoundaries) {
    const int n = 25;
    const cv::Mat sheet = renderPrintableBoard(n);
    const int m = printMarginPixels(n);
    EXPECT_EQ(sheet.cols, 11 * n + 2 * m);
    EXPECT_EQ(sheet.rows, 12 * n + 2 * m);
    // The two pixels across the border between cells (-5, 6) and (-4, 6).
    EXPECT_EQ(sheet.at<uint8_t>(m + 3, m + n - 1), 255);
    EXPECT_EQ(sheet.at<uint8_t>(m + 3, m + n), 0);
    EXPECT_THROW(renderPrintableBoard(kMinPrintCellPixels - 1), std::invalid_argument);
    EXPECT_THROW(renderPrintableBoard(kMaxPrintCellPixels + 1), std::invalid_argument);
}

TEST(PrintableBoard, SvgIsWellFormedWithOneSquarePerDarkCell) {
    const std::string svg = printableBoardSvg(100, 20.0);
    EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
    EXPECT_NE(svg.find("width=\"280mm\" height=\"300mm\" viewBox=\"0 0 14 15\""), std::string::npos);
    EXPECT_EQ(countOf(svg, "<rect class=\"dark\""), 66u);
    EXPECT_EQ(countOf(svg, "<circle class=\"spot\""), 3u);
    EXPECT_NE(svg.find("url(#darkSpot)"), std::string::npos);
    EXPECT_NE(svg.find("<stop offset=\"0.6\""), std::string::npos);
    EXPECT_NE(svg.find("20 mm"), std::string::npos);  // caption names the cell size

    // Every element is closed and properly nested.
    std::vector<std::string> open;
    std::regex tag(R"(<(/?)([A-Za-z]+)[^>]*?(/?)>)");
    for (auto it = std::sregex_iterator(svg.begin(), svg.end(), tag); it != std::sregex_iterator(); ++it) {
        const std::string name = (*it)[2];
        if ((*it)[1] == "/") {
            ASSERT_FALSE(open.empty()) << name;
            ASSERT_EQ(open.back(), name);
            open.pop_back();
        } else if ((*it)[3] != "/") {
            open.push_back(name);
        }
    }
    EXPECT_TRUE(open.empty());

    // The origin spot's circle sits at the origin marker cell's centre: user
    // x = X + 7, user y = 8 - Y (cells, y down from the sheet's top).
    EXPECT_NE(svg.find("cx=\"7\" cy=\"5\" r=\"0.375\" fill=\"url(#darkSpot)\""), std::string::npos);
    // Without millimetres the sheet is sized in pixels.
    EXPECT_NE(printableBoardSvg(50).find("width=\"700\" height=\"750\""), std::string::npos);
}

TEST(PrintableBoard, TheExtensionChoosesTheFormat) {
    std::string png, pgm, svg, error;
    ASSERT_TRUE(encodePrintableBoard("b.PNG", 20, 0.0, png, error)) << error;
    ASSERT_TRUE(encodePrintableBoard("b.pgm", 20, 0.0, pgm, error)) << error;
    ASSERT_TRUE(encodePrintableBoard("b.svg", 20, 15.0, svg, error)) << error;
    const auto decode = [](const std::string& bytes) {
        return cv::imdecode(std::vector<uchar>(bytes.begin(), bytes.end()), cv::IMREAD_UNCHANGED);
    };
    const cv::Mat fromPng = decode(png), fromPgm = decode(pgm);
    ASSERT_FALSE(fromPng.empty());
    EXPECT_EQ(png.substr(1, 3), "PNG");
    EXPECT_EQ(pgm.substr(0, 2), "P5");
    EXPECT_EQ(fromPng.size(), cv::Size(280, 300));
    EXPECT_EQ(cv::norm(fromPng, fromPgm, cv::NORM_INF), 0.0);
    EXPECT_EQ(svg, printableBoardSvg(20, 15.0));

    EXPECT_FALSE(encodePrintableBoard("b.bmp", 20, 0.0, png, error));
    EXPECT_NE(error.find("b.bmp"), std::string::npos);
    EXPECT_NE(error.find("unknown extension"), std::string::npos);
    EXPECT_FALSE(encodePrintableBoard("c.png", 2, 0.0, png, error));
}
