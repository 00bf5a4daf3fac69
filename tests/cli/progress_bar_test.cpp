#include <gtest/gtest.h>

#include <sstream>

#include "cli/progress_bar.h"

using vexel::cli::ProgressBar;
using vexel::cli::progressLine;

TEST(ProgressLine, ShowsFramesRateAndTimeLeft) {
    EXPECT_EQ(progressLine(0, 30, 0.0, 10), "[..........] 0/30 frames");
    // 12 frames in 3 s: 4 frames/s, 18 frames left take 4.5 s, shown rounded.
    EXPECT_EQ(progressLine(12, 30, 3.0, 10), "[####......] 12/30 frames  4.0 frames/s  5 s left");
    EXPECT_EQ(progressLine(30, 30, 7.5, 10), "[##########] 30/30 frames  4.0 frames/s  0 s left");
    // Counts out of range are held to the bar; no frames at all is a full bar.
    EXPECT_EQ(progressLine(40, 30, 1.0, 4).substr(0, 6), "[####]");
    EXPECT_EQ(progressLine(-1, 30, 1.0, 4), "[....] 0/30 frames");
    EXPECT_EQ(progressLine(0, 0, 0.0, 4), "[####] 0/0 frames");
}

TEST(ProgressBar, DrawsOnlyWhenEnabledAndClearsItsLine) {
    std::ostringstream off;
    {
        ProgressBar bar(off, false);
        bar.update(1, 2);
        bar.update(2, 2);
    }
    EXPECT_TRUE(off.str().empty());

    std::ostringstream on;
    {
        ProgressBar bar(on, true);
        bar.update(1, 3);
        bar.update(2, 3);  // within a tenth of a second: not redrawn
        bar.update(3, 3);  // the last frame always is
    }
    const std::string text = on.str();
    EXPECT_EQ(text.rfind("\r[", 0), 0u);
    EXPECT_EQ(text.find("2/3"), std::string::npos);
    EXPECT_NE(text.find("3/3 frames"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 4), "\r\033[K");
}
