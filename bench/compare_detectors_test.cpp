// The comparison's helpers, and a short run of the comparison program itself.

#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <string>
#include <vector>

#include "compare_detectors_stats.h"
#include "support/run_process.h"

namespace {

namespace vb = vexel::bench;

TEST(CompareDetectorsStats, PercentilesInterpolateBetweenSortedValues) {
    EXPECT_DOUBLE_EQ(vb::median({5.0, 1.0, 3.0}), 3.0);
    EXPECT_DOUBLE_EQ(vb::median({4.0, 1.0, 3.0, 2.0}), 2.5);
    // 11 values 0 .. 10 in any order: p90 is the 10th smallest.
    EXPECT_DOUBLE_EQ(vb::percentile({10, 3, 0, 7, 1, 9, 2, 8, 4, 6, 5}, 0.9), 9.0);
    EXPECT_DOUBLE_EQ(vb::percentile({1.0, 2.0}, 0.9), 1.9);
    EXPECT_DOUBLE_EQ(vb::percentile({7.0}, 0.9), 7.0);
    EXPECT_DOUBLE_EQ(vb::percentile({1.0, 2.0}, 1.5), 2.0);
    EXPECT_TRUE(std::isnan(vb::median({})));
}

TEST(CompareDetectorsStats, NearestTrueCornerAndErrorSums) {
    const std::vector<vb::TrueCorner> truth{{-5, -5, 10.0, 10.0}, {-4, -5, 20.0, 10.0}, {-5, -4, 10.0, 20.0}};
    double distance = 0.0;
    EXPECT_EQ(vb::nearestTrueCorner(truth, 19.0, 11.0, distance), 1);
    EXPECT_NEAR(distance, std::sqrt(2.0), 1e-12);
    EXPECT_EQ(vb::nearestTrueCorner(truth, 15.0, 10.0, distance), 0);  // tie: the earlier corner
    EXPECT_EQ(vb::nearestTrueCorner({}, 1.0, 1.0, distance), -1);
    EXPECT_TRUE(std::isinf(distance));

    vb::ErrorSum sum;
    EXPECT_TRUE(std::isnan(sum.rms()));
    EXPECT_TRUE(std::isnan(sum.maximum()));
    sum.add(3.0);
    sum.add(4.0);
    EXPECT_NEAR(sum.rms(), std::sqrt(12.5), 1e-12);
    EXPECT_DOUBLE_EQ(sum.maximum(), 4.0);
}

TEST(CompareDetectorsStats, ParsesOnlyWellFormedSizes) {
    int w = 0, h = 0;
    ASSERT_TRUE(vb::parseSize("640x480", w, h));
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
    for (const char* bad : {"", "640", "640x", "x480", "640x480x3", "-640x480", "640X480", "6a0x480", "0x480",
                            "15x480", "640x16385", "99999999999x480"}) {
        w = h = 7;
        EXPECT_FALSE(vb::parseSize(bad, w, h)) << bad;
        EXPECT_EQ(w, 7) << bad;
        EXPECT_EQ(h, 7) << bad;
    }
}

TEST(CompareDetectorsStats, SpeedupLine) {
    EXPECT_EQ(vb::speedupLine(3.04), "speedup vs findChessboardCorners at 640x480: 3.0x");
    EXPECT_EQ(vb::speedupLine(12.26), "speedup vs findChessboardCorners at 640x480: 12.3x");
    EXPECT_EQ(vb::speedupLine(NAN), "speedup vs findChessboardCorners at 640x480: n/a");
    EXPECT_EQ(vb::timeRatioLine(4032, 3024, 150.0, 100.0),
              "ours/findChessboardCorners median time ratio at 4032x3024: 1.50 (150.000 ms / 100.000 ms)");
    EXPECT_EQ(vb::timeRatioLine(1920, 1080, 5.0, NAN), "ours/findChessboardCorners median time ratio at 1920x1080: n/a");
}

TEST(CompareDetectorsStats, ColumnsStayApartWhenAValueOverflows) {
    EXPECT_EQ(vb::fixed(4.5644, 3, 10), "     4.564");
    EXPECT_EQ(vb::fixed(NAN, 3, 8), "       -");
    // 102913.163 and 260834.819 ms side by side once printed as one number.
    EXPECT_EQ(vb::fixed(102913.1634, 3, 11) + vb::fixed(260834.8191, 3, 10), " 102913.163 260834.819");
    EXPECT_EQ(vb::fixed(25.1, 1, 0), "25.1");
}

std::string lastLine(const std::string& out) {
    std::string text = out;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    const size_t cut = text.rfind('\n');
    return cut == std::string::npos ? text : text.substr(cut + 1);
}

TEST(CompareDetectorsRun, TwoViewSmokeRun) {
    const auto result = vexel::test::runProcess(std::string(COMPARE_DETECTORS_PATH) +
                                                " --views 2 --sizes 640x480 --no-board 1 --repeat 1 2>&1");
    ASSERT_EQ(result.status, 0) << result.out;
    EXPECT_TRUE(std::regex_match(lastLine(result.out),
                                 std::regex(R"(speedup vs findChessboardCorners at 640x480: [0-9]+\.[0-9]x)")))
        << result.out;
    EXPECT_NE(result.out.find("threads 1"), std::string::npos) << result.out;
    for (const char* row : {"ours (extractFrame)", "findChessboardCorners+subpix", "findChessboardCornersSB",
                            "findChessboardCorners FAST_CHECK", "truth"})
        EXPECT_NE(result.out.find(row), std::string::npos) << row << '\n' << result.out;
    EXPECT_NE(result.out.find("ours --refine"), std::string::npos) << result.out;
}

TEST(CompareDetectorsRun, RejectsBadArgumentsBeforeMeasuring) {
    const auto badSize = vexel::test::runProcess(std::string(COMPARE_DETECTORS_PATH) + " --sizes 640x 2>&1");
    EXPECT_NE(badSize.status, 0);
    EXPECT_NE(badSize.out.find("bad frame size '640x'"), std::string::npos) << badSize.out;
    EXPECT_EQ(badSize.out.find("speedup"), std::string::npos) << badSize.out;

    const auto badViews = vexel::test::runProcess(std::string(COMPARE_DETECTORS_PATH) + " --views 0 2>&1");
    EXPECT_NE(badViews.status, 0);
    EXPECT_EQ(badViews.out.find("speedup"), std::string::npos) << badViews.out;
}

}  // namespace
