// The renderer's wide-angle lenses and bent sheets: the truth follows the
// vision library's lens models, and the pictures show the corners where the
// truth puts them.

#include <gtest/gtest.h>

#include <opencv2/calib3d.hpp>

#include <cmath>
#include <numbers>

#include "grid/extract_frame.h"
#include "grid/grid_set.h"
#include "pattern/board.h"
#include "pattern/renderer.h"

using namespace vexel::pattern;

namespace {

// The RMS distance between the corners the grid search finds in `view` and
// the view's truth; the number found in `found`.
double cornerError(const RenderedView& view, int& found) {
    GridSet set;
    set.allocate(1, 200);
    extractFrame(set, 0, view.image, nullptr, nullptr, nullptr);
    found = set.getPointCount(0);
    double sum = 0;
    for (int j = 0; j < found; ++j) {
        GridPoint image{}, pattern{};
        set.getImagePoint(0, j, image);
        set.getPatternPoint(0, j, pattern);
        const int index = (static_cast<int>(pattern.y) + 5) * 10 + static_cast<int>(pattern.x) + 5;
        const CornerTruth& truth = view.corners[static_cast<std::size_t>(index)];
        sum += std::pow(image.x - truth.imageX, 2) + std::pow(image.y - truth.imageY, 2);
    }
    return found > 0 ? std::sqrt(sum / found) : INFINITY;
}

std::vector<cv::Point3d> cornerObjects(const std::vector<CornerTruth>& corners) {
    std::vector<cv::Point3d> object;
    for (const CornerTruth& c : corners) object.emplace_back(c.patternX, c.patternY, 0.0);
    return object;
}

}  // namespace

TEST(LensRender, TruthFollowsTheLibrarysRationalAndFisheyeModels) {
    const ViewPose pose{cv::Vec3d(2.6, 0.4, -0.3), cv::Vec3d(-0.7, 0.9, 12.0)};
    Camera rational;
    rational.k3 = -0.02, rational.k4 = 0.3, rational.k5 = 0.05, rational.k6 = 0.01;
    std::vector<cv::Point2d> expected;
    cv::projectPoints(cornerObjects(trueCorners(rational, pose)), pose.rvec, pose.tvec,
                      cv::Mat(rational.cameraMatrix()),
                      std::vector<double>{rational.k1, rational.k2, rational.p1, rational.p2, rational.k3, rational.k4,
                                          rational.k5, rational.k6},
                      expected);
    const std::vector<CornerTruth> corners = trueCorners(rational, pose);
    for (std::size_t k = 0; k < corners.size(); ++k) {
        EXPECT_NEAR(corners[k].imageX, expected[k].x, 1e-9);
        EXPECT_NEAR(corners[k].imageY, expected[k].y, 1e-9);
    }

    const Camera fisheye = equidistantCamera(1280, 960, 150, 0.02, -0.01, 0.003, -0.0005);
    EXPECT_NEAR(fisheye.fx * (75 * std::numbers::pi / 180) * (1 + 0.02 * std::pow(75 * std::numbers::pi / 180, 2) -
                                                              0.01 * std::pow(75 * std::numbers::pi / 180, 4) +
                                                              0.003 * std::pow(75 * std::numbers::pi / 180, 6) -
                                                              0.0005 * std::pow(75 * std::numbers::pi / 180, 8)),
                640.0, 1e-9);
    cv::fisheye::projectPoints(cornerObjects(trueCorners(fisheye, pose)), expected, pose.rvec, pose.tvec,
                               cv::Mat(fisheye.cameraMatrix()),
                               cv::Vec4d(fisheye.k1, fisheye.k2, fisheye.k3, fisheye.k4));
    const std::vector<CornerTruth> seen = trueCorners(fisheye, pose);
    for (std::size_t k = 0; k < seen.size(); ++k) {
        EXPECT_NEAR(seen[k].imageX, expected[k].x, 1e-7);
        EXPECT_NEAR(seen[k].imageY, expected[k].y, 1e-7);
    }

    // The truth file names the lens and the bend.
    ViewPose bent = pose;
    bent.bend.alongX = 0.1;
    const std::string truth = truthJson(fisheye, {"a.pgm"}, {bent});
    EXPECT_NE(truth.find("\"projection\": \"equidistant\", \"distortion\": [0.02, -0.01, 0.003, "),
              std::string::npos);
    EXPECT_NE(truth.find("\"bend\": [0.1, 0]"), std::string::npos);
    EXPECT_NE(truthJson(rational, {"a.pgm"}, {pose}).find(", -0.02, 0.3, 0.05, 0.01]"), std::string::npos);
}

TEST(LensRender, FisheyeRaysRoundTripBeyondNinetyDegrees) {
    const Camera fisheye = equidistantCamera(1280, 960, 200, 0.01);
    for (double theta : {0.0, 0.3, 1.2, 1.5707963, 1.7}) {
        for (double phi : {0.0, 1.0, 2.5, 4.0}) {
            const cv::Vec3d point(std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi), std::cos(theta));
            cv::Point2d image;
            ASSERT_TRUE(projectCameraPoint(fisheye, point * 7.0, image)) << theta;
            cv::Vec3d ray;
            ASSERT_TRUE(imageRay(fisheye, image, ray)) << theta;
            EXPECT_LT(cv::norm(ray - point), 1e-9) << theta << " " << phi;
        }
    }
    cv::Point2d image;
    EXPECT_FALSE(projectCameraPoint(fisheye, cv::Vec3d(0, 0, -1), image));
    Camera perspective;
    EXPECT_FALSE(projectCameraPoint(perspective, cv::Vec3d(0.1, 0, -1), image));
}

TEST(LensRender, FisheyeAndBentSheetViewsShowTheCornersWhereTheTruthSays) {
    const Camera fisheye = equidistantCamera(640, 480, 150, 0.01);
    const std::vector<ViewPose> rim = rimPoses(fisheye, 3, 9);
    ASSERT_EQ(rim.size(), 3u);
    RenderOptions options;
    options.samples = 4;
    for (const ViewPose& pose : rim) {
        int found = 0;
        EXPECT_LT(cornerError(renderView(fisheye, pose, options), found), 0.1);
        EXPECT_GE(found, 20);
    }

    // A sheet bent 0.15 cells along x and 0.05 along y, seen at a tilt.
    Camera camera;
    ViewPose bent = randomPoses(camera, 1, 3).front();
    bent.bend.alongX = 0.15;
    bent.bend.alongY = 0.05;
    int found = 0;
    const RenderedView view = renderView(camera, bent, options);
    EXPECT_LT(cornerError(view, found), 0.1);
    EXPECT_EQ(found, 110);
    // The bend moves the corners: the flat sheet's truth is pixels away.
    const std::vector<CornerTruth> flat = trueCorners(camera, {bent.rvec, bent.tvec});
    double moved = 0;
    for (std::size_t k = 0; k < flat.size(); ++k)
        moved = std::max(moved,
                         std::hypot(flat[k].imageX - view.corners[k].imageX, flat[k].imageY - view.corners[k].imageY));
    EXPECT_GT(moved, 1.0);
    EXPECT_DOUBLE_EQ(sheetHeight(bent.bend, -0.5, 0.0), 0.2);
    EXPECT_DOUBLE_EQ(sheetHeight(bent.bend, kBoardMinX, kBoardMaxY), 0.0);
}

TEST(LensRender, RimPosesKeepTheMarkersInsideWithTheBoardOftenCutOff) {
    const Camera fisheye = equidistantCamera(1280, 960, 160);
    const std::vector<ViewPose> poses = rimPoses(fisheye, 12, 4);
    ASSERT_EQ(poses.size(), 12u);
    int partial = 0;
    for (const ViewPose& pose : poses) {
        for (int j = -2; j <= 4; ++j) {
            for (int i = -2; i <= 2; ++i) {
                cv::Point2d p;
                ASSERT_TRUE(projectPatternPoint(fisheye, pose, i, j, p));
                EXPECT_TRUE(p.x > 0 && p.y > 0 && p.x < 1279 && p.y < 959) << i << "," << j;
            }
        }
        partial += boardInsideFrame(fisheye, pose) ? 0 : 1;
    }
    EXPECT_GE(partial, 4);
    EXPECT_EQ(rimPoses(fisheye, 12, 4)[5].tvec, poses[5].tvec);
}
