#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "support/run_process.h"
#include "support/temp_dir.h"

using vexel::test::cliPath;
using vexel::test::runProcess;

namespace {

}  // namespace

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
