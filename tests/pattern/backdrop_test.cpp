// Views over a busy scene: the sheet is drawn as over a flat background,
// the scene fills the rest, and a seed gives one scene.

#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include "pattern/backdrop.h"
#include "pattern/renderer.h"

using namespace vexel::pattern;

TEST(Backdrop, SheetIsUnchangedAndTheSceneFillsTheRest) {
    const Camera camera;
    const ViewPose pose = randomPoses(camera, 1, 7).front();
    RenderOptions flat;
    flat.samples = 4;
    RenderOptions busy = flat;
    busy.backdropSeed = 3;
    const RenderedView plain = renderView(camera, pose, flat);
    const RenderedView over = renderView(camera, pose, busy);

    // Which pixels the sheet covers wholly, and which it misses: a dark and a
    // light background tell them apart.
    RenderOptions probe = flat;
    probe.backgroundGrey = 0;
    const cv::Mat dark = renderView(camera, pose, probe).image;
    probe.backgroundGrey = 255;
    const cv::Mat light = renderView(camera, pose, probe).image;
    int sheet = 0, scene = 0;
    cv::Mat sceneMask(dark.size(), CV_8UC1, cv::Scalar(0));
    for (int y = 0; y < dark.rows; ++y)
        for (int x = 0; x < dark.cols; ++x) {
            if (dark.at<uchar>(y, x) == light.at<uchar>(y, x)) {
                ++sheet;
                ASSERT_EQ(over.image.at<uchar>(y, x), plain.image.at<uchar>(y, x)) << x << ", " << y;
            } else if (dark.at<uchar>(y, x) == 0 && light.at<uchar>(y, x) == 255) {
                ++scene;
                sceneMask.at<uchar>(y, x) = 255;
            }
        }
    ASSERT_GT(sheet, 10000);
    ASSERT_GT(scene, 10000);
    // The scene is busy where the flat render is one grey.
    cv::Scalar mean, deviation;
    cv::meanStdDev(over.image, mean, deviation, sceneMask);
    EXPECT_GT(deviation[0], 20.0);
    cv::meanStdDev(plain.image, mean, deviation, sceneMask);
    EXPECT_EQ(deviation[0], 0.0);
    // The truth is the same.
    ASSERT_EQ(over.corners.size(), plain.corners.size());
    EXPECT_EQ(over.corners.front().imageX, plain.corners.front().imageX);
}

TEST(Backdrop, ASeedGivesOneScene) {
    const cv::Size size(200, 150);
    const cv::Mat a = makeBackdrop(size, 5);
    ASSERT_EQ(a.size(), size);
    ASSERT_EQ(a.type(), CV_8UC1);
    EXPECT_EQ(cv::norm(a, makeBackdrop(size, 5), cv::NORM_INF), 0.0);
    EXPECT_GT(cv::norm(a, makeBackdrop(size, 6), cv::NORM_L1) / a.total(), 10.0);
}
