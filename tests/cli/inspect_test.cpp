#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <utility>
#include <fstream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "support/run_process.h"
#include "support/temp_dir.h"

using vexel::test::cliPath;
using vexel::test::runProcess;

namespace {

const std::string framesDir = std::string(VEXEL_TEST_DATA_DIR) + "/frames";

std::string stripTrailingNewline(std::string text) {
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

TEST(InspectCommand, JsonMatchesTheStoredFramesExactly) {
    for (const std::string name : {"frontal", "steep", "tilted", "upside_down"}) {
        SCOPED_TRACE(name);
        // Run in the test frames' folder: the report names the image as given.
        const auto r = runProcess("cd '" + framesDir + "' && " + cliPath() + " inspect " + name + ".pgm --json");
        ASSERT_EQ(r.status, 0);
        const std::string expected = readFile(framesDir + "/" + name + ".expected.json");
        ASSERT_FALSE(expected.empty());
        // Same values and the same text: key order, indentation, number format.
        EXPECT_EQ(nlohmann::json::parse(r.out), nlohmann::json::parse(expected));
        EXPECT_EQ(stripTrailingNewline(r.out), stripTrailingNewline(expected));
    }
}

// --refine keeps the labels and moves the correspondences nearer the true
// corners; without it the report is the one the test above compares.
TEST(InspectCommand, RefineMovesCorrespondencesTowardsTheTruth) {
    for (const std::string name : {"frontal", "tilted"}) {
        SCOPED_TRACE(name);
        const nlohmann::json truth = nlohmann::json::parse(readFile(framesDir + "/" + name + ".truth.json"));
        std::map<std::pair<int, int>, std::pair<double, double>> at;
        for (const auto& c : truth.at("corners"))
            at[{c[0].get<int>(), c[1].get<int>()}] = {c[2].get<double>(), c[3].get<double>()};
        double squares[2] = {0.0, 0.0};
        size_t counts[2] = {0, 0};
        for (int refine = 0; refine < 2; ++refine) {
            const auto r = runProcess(cliPath() + " inspect '" + framesDir + "/" + name + ".pgm' --json" +
                                      (refine == 1 ? " --refine" : ""));
            ASSERT_EQ(r.status, 0);
            const auto correspondences = nlohmann::json::parse(r.out).at("correspondences");
            counts[refine] = correspondences.size();
            for (const auto& c : correspondences) {
                const auto truthAt = at.find({std::lround(c[2].get<double>()), std::lround(c[3].get<double>())});
                ASSERT_NE(truthAt, at.end());
                const double dx = c[0].get<double>() - truthAt->second.first;
                const double dy = c[1].get<double>() - truthAt->second.second;
                ASSERT_LT(std::hypot(dx, dy), 0.5);
                squares[refine] += dx * dx + dy * dy;
            }
        }
        EXPECT_GE(counts[1] + 2, counts[0]);
        EXPECT_LT(std::sqrt(squares[1] / counts[1]), std::sqrt(squares[0] / counts[0]));
    }
}

TEST(InspectCommand, SummaryAndOverlay) {
    const TempDir dir("vexel_inspect");
    const std::string svg = (dir / "overlay.svg").string();
    const auto r = runProcess(cliPath() + " inspect '" + framesDir + "/frontal.pgm' --svg '" + svg + "'");
    ASSERT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("640 x 480"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("corners:         155"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("correspondences: 109"), std::string::npos) << r.out;
    // The triangulation's diagnostics stay off standard output.
    EXPECT_EQ(r.out.find("BGS"), std::string::npos) << r.out;

    const std::string picture = readFile(svg);
    ASSERT_FALSE(picture.empty());
    EXPECT_EQ(picture.rfind("<?xml", 0), 0u);
    EXPECT_NE(picture.find("data:image/png;base64,iVBORw0KGgo"), std::string::npos);
    size_t circles = 0;
    for (size_t at = picture.find("<circle"); at != std::string::npos; at = picture.find("<circle", at + 1)) ++circles;
    EXPECT_EQ(circles, 155u);
    EXPECT_NE(picture.find("marker slot 2"), std::string::npos);
    EXPECT_NE(picture.find("</svg>"), std::string::npos);
}

TEST(InspectCommand, VerboseSendsDiagnosticsToStandardError) {
    const auto quiet = runProcess(cliPath() + " inspect '" + framesDir + "/frontal.pgm' --json 2>&1");
    EXPECT_EQ(quiet.out.find("BGS"), std::string::npos);
    const auto verbose = runProcess(cliPath() + " inspect '" + framesDir + "/frontal.pgm' --json --verbose 2>&1 >/dev/null");
    EXPECT_EQ(verbose.status, 0);
    EXPECT_NE(verbose.out.find("BGS"), std::string::npos) << verbose.out;
}

TEST(InspectCommand, UnreadableImageExitsWithStatusTwoNamingTheFile) {
    const std::string notImage = std::string(VEXEL_TEST_DATA_DIR) + "/README.md";
    // With --json the failure is a JSON object too.
    const auto r = runProcess(cliPath() + " inspect '" + notImage + "' --json 2>/dev/null");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(nlohmann::json::parse(r.out)["error"], notImage + ": not an image") << r.out;

    const auto missing = runProcess(cliPath() + " inspect /no/such/frame.pgm 2>&1");
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.out.find("/no/such/frame.pgm"), std::string::npos) << missing.out;
}

TEST(InspectCommand, NothingFoundExitsWithStatusOne) {
    const std::string blank = ::testing::TempDir() + "vexel_blank.pgm";
    {
        std::ofstream out(blank, std::ios::binary);
        out << "P5\n64 48\n255\n" << std::string(64 * 48, '\x80');
    }
    const auto r = runProcess(cliPath() + " inspect '" + blank + "' --json 2>/dev/null");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("\"correspondences\""), std::string::npos) << r.out;
    std::remove(blank.c_str());
}

}  // namespace
