#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "calibration/calibration_quality.h"

namespace {

CalibrationStats statsWith(std::vector<double> errors) {
    CalibrationStats stats;
    stats.valid = true;
    for (std::size_t i = 0; i < errors.size(); ++i) stats.frames.push_back(static_cast<int>(10 + 2 * i));
    stats.perViewErrors = std::move(errors);
    return stats;
}

}  // namespace

TEST(SuspectFrames, NeedBothFarAboveTheMedianAndAboveHalfAPixel) {
    // Far above a small median: named, by frame index, in frame order.
    EXPECT_EQ(suspectFrames(statsWith({0.1, 2.0, 0.12, 0.11, 0.9})), (std::vector<int>{12, 18}));
    // Three times the median but below half a pixel: a good fit still.
    EXPECT_TRUE(suspectFrames(statsWith({0.1, 0.1, 0.45})).empty());
    // Everything fits badly: only what stands out from the rest is named.
    EXPECT_EQ(suspectFrames(statsWith({1.0, 1.1, 5.0})), (std::vector<int>{14}));
    EXPECT_TRUE(suspectFrames(statsWith({1.0, 1.1, 3.0})).empty());
    // Even count: the median is the mean of the middle two (0.2 here).
    EXPECT_EQ(suspectFrames(statsWith({0.1, 0.3, 0.1, 0.61})), (std::vector<int>{16}));
    EXPECT_TRUE(suspectFrames(statsWith({0.1, 0.3, 0.1, 0.59})).empty());
}

TEST(SuspectFrames, NoneWithoutAMeaningfulMedianAndNonFiniteErrorsAlways) {
    EXPECT_TRUE(suspectFrames(statsWith({0.1, 5.0})).empty());
    CalibrationStats invalid = statsWith({0.1, 0.1, 5.0});
    invalid.valid = false;
    EXPECT_TRUE(suspectFrames(invalid).empty());
    EXPECT_EQ(suspectFrames(statsWith({0.1, std::numeric_limits<double>::quiet_NaN(), 0.1})), (std::vector<int>{12}));
}
