#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "calibration/calibration_checks.h"

namespace {

// A view of the 4 x 3 pattern corners, each at (40 + 30 x, 50 + 30 y)
// moved by (dx, dy).
void addView(CalibrationViews& views, float dx, float dy, int corners = 12) {
    views.frames.push_back(views.viewCount());
    views.imagePoints.emplace_back();
    views.objectPoints.emplace_back();
    for (int k = 0; k < corners; ++k) {
        const float x = static_cast<float>(k % 4), y = static_cast<float>(k / 4);
        views.imagePoints.back().emplace_back(40 + 30 * x + dx, 50 + 30 * y + dy);
        views.objectPoints.back().emplace_back(x, y, 0.0f);
    }
}

}  // namespace

TEST(CalibrationChecks, MostCommonSizeWithTiesToThePreferredOne) {
    const cv::Size a(640, 480), b(1920, 1080), c(320, 240);
    EXPECT_EQ(mostCommonSize({a, b, b, cv::Size(), cv::Size(), cv::Size()}, a), b);
    EXPECT_EQ(mostCommonSize({a, b, b, a}, b), b);
    EXPECT_EQ(mostCommonSize({a, b, b, a}, a), a);
    EXPECT_EQ(mostCommonSize({c, a, b}, cv::Size(9, 9)), c);  // no preference among them: the first seen
    EXPECT_TRUE(mostCommonSize({cv::Size()}, a).empty());
}

TEST(CalibrationChecks, CopiesAndStillShotsAreOneView) {
    CalibrationViews views;
    addView(views, 0, 0);
    addView(views, 0, 0);           // a copy
    addView(views, 0.4f, -0.3f);    // the camera did not move
    addView(views, 0, 0, 3);        // 3 shared points are too few to tell
    addView(views, 2.5f, 0);        // moved
    EXPECT_EQ(distinctViewCount(views), 3);
    EXPECT_EQ(distinctViewCount(CalibrationViews{}), 0);
}

TEST(CalibrationChecks, WarningsNameWhatMakesTheResultDoubtful) {
    CalibrationStats stats;
    stats.distinctViews = 5;
    stats.stdDeviations = {6.9, 0.5, 7.5, std::nan(""), 99, 99, 99, 99};  // only fx .. cy count
    stats.imageSize = cv::Size(640, 480);
    EXPECT_EQ(calibrationWarnings(stats, 700.0),
              (std::vector<std::string>{"uncertain result: standard deviation of cx 7.500000 px, cy not known (over 1 "
                                        "% of fx)"}));
    stats.stdDeviations = {};
    EXPECT_TRUE(calibrationWarnings(stats, 700.0).empty());

    stats.distinctViews = 2;
    stats.framesOtherSize = 3;
    EXPECT_EQ(calibrationWarnings(stats, 700.0),
              (std::vector<std::string>{"only 2 distinct views (3 or more are needed for a reliable calibration)",
                                        "3 frames of another size left out (calibrated at 640 x 480)"}));
}
