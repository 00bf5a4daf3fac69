// Frames left out of the calibrations: the intrinsic calibration's frame
// count, the extrinsic calibration's refusal, Use All Frames, and which list
// changes keep the choices.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <unistd.h>

#include "document/grid_commands.h"
#include "document/vexel_doc.h"
#include "support/document_access.h"
#include "support/grid_views.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using vexel::test::ScriptedUi;

namespace {

class FrameExclusionTest : public ::testing::Test {
protected:
    void TearDown() override { doc.WaitForLoader(); }

    std::vector<std::string> writeFrames(int count, const std::string& stem = "frame_") {
        std::vector<std::string> paths;
        for (int i = 0; i < count; ++i) {
            const fs::path p = dir / (stem + std::to_string(i) + ".pgm");
            cv::imwrite(p.string(), cv::Mat(480, 640, CV_8UC1, cv::Scalar(20 + i)));
            paths.push_back(p.string());
        }
        return paths;
    }

    // `count` frames of 640 x 480, each searched and holding the exact
    // projections of the pattern's 110 corners from a pose of its own.
    void importViews(int count) {
        ASSERT_TRUE(doc.ImportImageFiles(writeFrames(count)));
        doc.EnsureCurrentFrameLoaded();
        searchedFrames(gridsOf(doc), count, cv::Size(640, 480));
        projectViews(gridsOf(doc), count);
    }

    TempDir dir{"vexel_exclusion"};
    ScriptedUi ui;
    CVexelDoc doc{&ui};
};

}  // namespace

TEST_F(FrameExclusionTest, LeftOutFramesAreNotCalibratedAndUseAllFramesPutsThemBack) {
    importViews(6);
    doc.OnExcludeFrame(1, true);
    doc.OnExcludeFrame(4, true);
    EXPECT_EQ(doc.ExcludedFrameCount(), 2);
    EXPECT_EQ(ui.calls.back(), "views");

    doc.OnIntrinsicCalibration();
    ASSERT_TRUE(doc.Stats().valid);
    EXPECT_EQ(doc.Stats().frames, (std::vector<int>{0, 2, 3, 5}));
    EXPECT_LT(doc.Stats().frameError(1), 0.0);
    EXPECT_NE(ui.lastStatus().find("Intrinsic Calibration: 4 frames, 440 points"), std::string::npos)
        << ui.lastStatus();
    EXPECT_NE(ui.lastStatus().find("2 frames left out"), std::string::npos) << ui.lastStatus();
    // The frames keep their points: only the calibrations pass them by.
    EXPECT_EQ(doc.Grids().getPointCount(1), 110);

    // Putting one back by hand, then all of them with Use All Frames.
    doc.OnExcludeFrame(4, false);
    EXPECT_FALSE(doc.FrameExcluded(4));
    EXPECT_TRUE(doc.FrameExcluded(1));
    doc.OnUseAllFrames();
    EXPECT_EQ(doc.ExcludedFrameCount(), 0);
    EXPECT_NE(ui.lastStatus().find("1 frame is used"), std::string::npos) << ui.lastStatus();
    doc.OnIntrinsicCalibration();
    EXPECT_EQ(doc.Stats().frames.size(), 6u);
    EXPECT_NEAR(doc.Calibration()->fx(), 700, 0.05);
}

TEST_F(FrameExclusionTest, BothCalibrationsRefuseWhenEveryUsableFrameIsLeftOut) {
    importViews(2);
    doc.OnIntrinsicCalibration();
    ASSERT_TRUE(doc.Calibration());
    const CalibrationRecord before = *doc.Calibration();
    for (int f = 0; f < 2; ++f) doc.SetFrameExcluded(f, true);

    doc.OnIntrinsicCalibration();
    EXPECT_EQ(*doc.Calibration(), before);
    EXPECT_NE(ui.lastStatus().find("no frame in use has 4 or more points; 2 frames with points left out"),
              std::string::npos)
        << ui.lastStatus();

    // The reference frame is not even asked for: no frame can be offered.
    doc.OnExtrinsicCalibration();
    EXPECT_EQ(*doc.Calibration(), before);
    EXPECT_EQ(doc.ReferenceFrame(), -1);
    EXPECT_TRUE(ui.callsStartingWith("reference|").empty());
    EXPECT_NE(ui.lastStatus().find("no frame in use has 4 or more points; 2 frames left out"), std::string::npos)
        << ui.lastStatus();
    EXPECT_TRUE(ui.callsStartingWith("message|").empty());
}

TEST_F(FrameExclusionTest, AppendingKeepsTheChoicesAndReplacingTheListForgetsThem) {
    ASSERT_TRUE(doc.ImportImageFiles(writeFrames(3)));
    EXPECT_FALSE(doc.SetFrameExcluded(3, true));
    EXPECT_FALSE(doc.SetFrameExcluded(-1, true));
    ASSERT_TRUE(doc.SetFrameExcluded(2, true));

    ASSERT_TRUE(doc.ImportImageFiles(writeFrames(2, "more_")));
    EXPECT_EQ(doc.FrameCount(), 5);
    EXPECT_TRUE(doc.FrameExcluded(2));
    EXPECT_FALSE(doc.FrameExcluded(3));
    EXPECT_FALSE(doc.FrameExcluded(4));
    EXPECT_EQ(doc.ExcludedFrameCount(), 1);

    doc.OnNewDocument();
    ASSERT_TRUE(doc.ImportImageFiles(writeFrames(3)));
    EXPECT_EQ(doc.ExcludedFrameCount(), 0);
}

TEST_F(FrameExclusionTest, GoingToAFrameMovesTheCacheAndRepaints) {
    ASSERT_TRUE(doc.ImportImageFiles(writeFrames(7)));
    doc.OnGoToFrame(5);
    EXPECT_EQ(doc.CurrentFrame(), 5);
    doc.EnsureCurrentFrameLoaded();
    cv::Mat image;
    ASSERT_TRUE(doc.CopyFrameToImage(image));
    EXPECT_EQ(image.at<uchar>(0, 0), 25);
    EXPECT_EQ(ui.calls.back(), "views");
    doc.OnGoToFrame(9);  // not in the list: stays
    EXPECT_EQ(doc.CurrentFrame(), 5);
}
