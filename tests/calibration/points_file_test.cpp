#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "calibration/calibration_views.h"
#include "calibration/points_file.h"
#include "grid/grid_set.h"
#include "support/temp_dir.h"

namespace {

// Gives frame `frame` `count` correspondences: pattern (j, -j), image
// (10.5 + j, 20.25 + 2j).
void fillFrame(GridSet& set, int frame, int count) {
    set.frames[frame].pointCount = count;
    for (int j = 0; j < count; ++j) {
        set.frames[frame].patternPoints[j] = {static_cast<float>(j), static_cast<float>(-j)};
        set.frames[frame].imagePoints[j] = {10.5f + j, 20.25f + 2.0f * j};
    }
}

}  // namespace

TEST(PointsFile, FramesWithFewerThanFourPointsGetTheirHeaderOnly) {
    GridSet set;
    set.allocate(2, 200);
    fillFrame(set, 0, 4);
    fillFrame(set, 1, 2);
    EXPECT_EQ(formatCorrespondences(set, 2),
              "frame0\n"
              "0.000000 0.000000 10.500000 20.250000\n"
              "1.000000 -1.000000 11.500000 22.250000\n"
              "2.000000 -2.000000 12.500000 24.250000\n"
              "3.000000 -3.000000 13.500000 26.250000\n"
              "frame1\n"
              "\n");
}

TEST(PointsFile, DocumentFramesBeyondTheGridSetGetHeadersAndTheFileIsWritten) {
    GridSet set;
    set.allocate(1, 200);
    fillFrame(set, 0, 5);
    std::string text = formatCorrespondences(set, 5);
    EXPECT_EQ(text.substr(0, 7), "frame0\n");
    EXPECT_NE(text.find("4.000000 -4.000000 14.500000 28.250000\nframe1\nframe2\nframe3\nframe4\n\n"),
              std::string::npos)
        << text;

    const TempDir dir("vexel_points");
    const auto path = dir / "all.points";
    ASSERT_TRUE(CorrespondenceFileWriter(set, 5, path.string()));
    EXPECT_EQ(readFile(path), text);

    GridSet empty;
    EXPECT_EQ(formatCorrespondences(empty, 2), "frame0\nframe1\n\n");
}

TEST(PointsFile, DecimalPointWhateverTheLocale) {
    GridSet set;
    set.allocate(1, 200);
    fillFrame(set, 0, 4);
    std::string saved = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    std::string text = formatCorrespondences(set, 1);
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_NE(text.find("\n1.000000 -1.000000 11.500000 22.250000\n"), std::string::npos) << text;
    EXPECT_EQ(text.find(','), std::string::npos);
}

TEST(CalibrationViews, UsesOnlyFramesWithFourOrMorePoints) {
    GridSet set;
    set.allocate(3, 200);
    fillFrame(set, 0, 48);
    fillFrame(set, 1, 3);
    fillFrame(set, 2, 48);
    CalibrationViews views = gatherCalibrationViews(set, 3);
    EXPECT_EQ(views.viewCount(), 2);
    EXPECT_EQ(views.totalPoints(), 96);
    EXPECT_EQ(views.pointCounts(), (std::vector<int>{48, 48}));
    EXPECT_EQ(views.frames, (std::vector<int>{0, 2}));
    // Points keep their stored order, the pattern plane is z = 0.
    EXPECT_FLOAT_EQ(views.imagePoints[1][47].x, 57.5f);
    EXPECT_FLOAT_EQ(views.objectPoints[1][47].y, -47.0f);
    EXPECT_FLOAT_EQ(views.objectPoints[1][47].z, 0.0f);

    CalibrationViews some = gatherCalibrationViews(set, 3, [](int frame) { return frame != 0; });
    EXPECT_EQ(some.frames, (std::vector<int>{2}));
}
