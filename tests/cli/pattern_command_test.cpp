#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <utility>

#include <nlohmann/json.hpp>
#include <unistd.h>

#include "support/run_process.h"
#include "support/temp_dir.h"

using vexel::test::cliPath;
using vexel::test::runProcess;

TEST(PatternCommand, WritesRasterAndVectorBoards) {
    const TempDir dir("vexel_cli_pattern");
    auto r = runProcess(cliPath() + " pattern " + (dir / "board.png").string() + " --cell-px 30");
    ASSERT_EQ(r.status, 0);
    const cv::Mat png = cv::imread((dir / "board.png").string(), cv::IMREAD_UNCHANGED);
    ASSERT_EQ(png.type(), CV_8UC1);
    EXPECT_EQ(png.size(), cv::Size(14 * 30, 15 * 30));

    r = runProcess(cliPath() + " pattern " + (dir / "board.pgm").string());
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(cv::imread((dir / "board.pgm").string(), cv::IMREAD_UNCHANGED).size(), cv::Size(1400, 1500));

    r = runProcess(cliPath() + " pattern " + (dir / "board.svg").string() + " --cell-mm 18.5");
    ASSERT_EQ(r.status, 0);
    std::ifstream in(dir / "board.svg");
    std::stringstream svg;
    svg << in.rdbuf();
    EXPECT_NE(svg.str().find("width=\"259mm\" height=\"277.5mm\""), std::string::npos);
    EXPECT_NE(svg.str().find("18.5 mm"), std::string::npos);
}

TEST(PatternCommand, BadExtensionOrUnwritableFileExitsWithTwo) {
    const TempDir dir("vexel_cli_pattern");
    auto r = runProcess(cliPath() + " pattern " + (dir / "board.tiff").string() + " 2>&1");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("board.tiff"), std::string::npos);
    EXPECT_NE(r.out.find("unknown extension"), std::string::npos);

    r = runProcess(cliPath() + " pattern " + (dir / "no_dir" / "board.png").string() + " 2>&1");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("cannot write"), std::string::npos);

    r = runProcess(cliPath() + " pattern " + (dir / "board.png").string() + " --cell-px 2 2>/dev/null");
    EXPECT_EQ(r.status, 2);
}

namespace {

// The resolution a PNG file carries, in pixels per metre (0: none).
unsigned pngPixelsPerMetre(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t at = bytes.find("pHYs");
    if (at == std::string::npos || at + 9 > bytes.size()) return 0;
    unsigned value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + 4 + i]);
    return value;
}

}  // namespace

TEST(PatternCommand, PdfPrintsTheBoardAtExactScale) {
    const TempDir dir("vexel_cli_pattern");
    const std::string pdf = (dir / "board.pdf").string();
    auto r = runProcess(cliPath() + " pattern " + pdf);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "wrote " + pdf + " (A4, cells of 15 mm)\n");
    EXPECT_NE(runProcess("pdfinfo " + pdf).out.find("595.276 x 841.89 pts (A4)"), std::string::npos);
    const std::string text = runProcess("pdftotext " + pdf + " -").out;
    EXPECT_NE(text.find("cell side 15 mm"), std::string::npos) << text;
    EXPECT_NE(text.find("Print at 100 %"), std::string::npos) << text;

    // Rasterised at 4 pixels per millimetre, neighbouring corners are 60
    // pixels apart, and the extraction finds every one of them.
    ASSERT_EQ(runProcess("pdftoppm -r 101.6 -gray " + pdf + " " + (dir / "page").string()).status, 0);
    auto json = runProcess(cliPath() + " inspect " + (dir / "page-1.pgm").string() + " --json");
    ASSERT_EQ(json.status, 0);
    const auto report = nlohmann::json::parse(json.out);
    std::map<std::pair<int, int>, std::pair<double, double>> at;
    for (const auto& c : report["correspondences"])
        at[{static_cast<int>(c[2].get<double>()), static_cast<int>(c[3].get<double>())}] = {c[0], c[1]};
    EXPECT_EQ(at.size(), 110u);
    double sum = 0;
    int pairs = 0;
    for (const auto& [label, p] : at) {
        auto right = at.find({label.first + 1, label.second});
        if (right == at.end()) continue;
        sum += std::hypot(right->second.first - p.first, right->second.second - p.second);
        ++pairs;
    }
    ASSERT_GT(pairs, 0);
    EXPECT_NEAR(sum / pairs, 60.0, 0.05);
}

TEST(PatternCommand, PaperSizesAndCellsThatDoNotFit) {
    const TempDir dir("vexel_cli_pattern");
    const std::string pdf = (dir / "board.pdf").string();
    EXPECT_NE(runProcess(cliPath() + " pattern " + pdf + " --paper A3").out.find("cells of 21 mm"), std::string::npos);
    EXPECT_NE(runProcess(cliPath() + " pattern " + pdf + " --paper letter").out.find("cells of 15 mm"),
              std::string::npos);
    EXPECT_NE(runProcess("pdfinfo " + pdf).out.find("612 x 792 pts"), std::string::npos);

    auto tooLarge = runProcess(cliPath() + " pattern " + pdf + " --paper Letter --cell-mm 25 2>&1");
    EXPECT_EQ(tooLarge.status, 2);
    EXPECT_NE(tooLarge.out.find("the largest that fit are 15.4 mm"), std::string::npos) << tooLarge.out;
    EXPECT_EQ(runProcess(cliPath() + " pattern " + pdf + " --paper A5 2>/dev/null").status, 2);
    EXPECT_EQ(runProcess(cliPath() + " pattern " + (dir / "b.png").string() + " --paper A4 2>/dev/null").status, 2);
}

TEST(PatternCommand, PngCarriesTheResolutionOfTheSizeAskedFor) {
    const TempDir dir("vexel_cli_pattern");
    const auto png = dir / "board.png";
    ASSERT_EQ(runProcess(cliPath() + " pattern " + png.string() + " --cell-px 100 --cell-mm 20 -q").status, 0);
    EXPECT_EQ(pngPixelsPerMetre(png), 5000u);  // 100 pixels in 20 mm

    auto quiet = runProcess(cliPath() + " pattern " + png.string() + " --cell-mm 20 --dpi 300 -q");
    ASSERT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out, "");
    EXPECT_EQ(pngPixelsPerMetre(png), 11800u);  // 236 pixels in 20 mm
    EXPECT_EQ(cv::imread(png.string(), cv::IMREAD_UNCHANGED).cols, 14 * 236);

    ASSERT_EQ(runProcess(cliPath() + " pattern " + png.string() + " --cell-px 30").status, 0);
    EXPECT_EQ(pngPixelsPerMetre(png), 0u);
}
