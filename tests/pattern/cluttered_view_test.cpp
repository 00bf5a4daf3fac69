#include "pattern/cluttered_view.h"

#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include <cstdlib>
#include <vector>

namespace {

namespace vp = vexel::pattern;

// The sheet looks as renderView draws it; around it the background is
// busy, and the same seed gives the same frame.
TEST(ClutteredView, ClutterOnlyAroundTheSheet) {
    const vp::Camera camera;
    const std::vector<vp::ViewPose> poses = vp::randomPoses(camera, 1, 5);
    vp::RenderOptions options;
    options.samples = 2;
    options.noiseSeed = 9;
    const vp::RenderedView busy = vp::renderClutteredView(camera, poses[0], options);
    const vp::RenderedView plain = vp::renderView(camera, poses[0], options);
    ASSERT_EQ(busy.image.size(), plain.image.size());
    EXPECT_EQ(busy.corners.size(), plain.corners.size());

    int sheetDiffers = 0, sheetPixels = 0, backgroundDiffers = 0, backgroundPixels = 0;
    for (int r = 0; r < camera.height; r += 4) {
        for (int c = 0; c < camera.width; c += 4) {
            // Without blur and noise the plain view shows the background
            // grey exactly, and the sheet hardly ever.
            const bool onSheet = plain.image.at<uint8_t>(r, c) != static_cast<uint8_t>(options.backgroundGrey);
            const int d = std::abs(busy.image.at<uint8_t>(r, c) - plain.image.at<uint8_t>(r, c));
            if (onSheet) {
                ++sheetPixels;
                if (d > 1) ++sheetDiffers;
            } else {
                ++backgroundPixels;
                if (d > 10) ++backgroundDiffers;
            }
        }
    }
    ASSERT_GT(backgroundPixels, 100);
    EXPECT_LT(sheetDiffers, sheetPixels / 50);  // only along the sheet's edge
    EXPECT_GT(backgroundDiffers, backgroundPixels / 2);
    const vp::RenderedView again = vp::renderClutteredView(camera, poses[0], options);
    EXPECT_EQ(cv::norm(again.image, busy.image, cv::NORM_INF), 0.0);
}

}  // namespace
