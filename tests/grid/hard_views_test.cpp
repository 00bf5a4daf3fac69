// The whole extraction on rendered views that users' own pictures resemble:
// the board running off the frame, and busy surroundings touching the board.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include "grid/extract_frame.h"
#include "grid/grid_set.h"
#include "pattern/board.h"
#include "pattern/renderer.h"

namespace {

namespace vp = vexel::pattern;

vp::Camera scaledCamera(double scale) {
    vp::Camera camera;
    camera.width = static_cast<int>(std::lround(camera.width * scale));
    camera.height = static_cast<int>(std::lround(camera.height * scale));
    camera.fx *= scale;
    camera.fy *= scale;
    camera.cx *= scale;
    camera.cy *= scale;
    return camera;
}

// The board tilted by `tiltDegrees` about the in-plane axis at `axisAngle`
// radians, turned by `rollRadians` about the camera's axis, at `depth`
// cells, placed so that pattern point `anchor` projects (without lens
// distortion) to image point `at`.
vp::ViewPose placedPose(const vp::Camera& camera, double tiltDegrees, double axisAngle, double rollRadians,
                        double depth, cv::Point2d anchor, cv::Point2d at) {
    const cv::Matx33d facing(1, 0, 0, 0, -1, 0, 0, 0, -1);  // pattern y up is image y down
    cv::Matx33d tilt;
    cv::Matx33d roll;
    const double a = tiltDegrees * std::numbers::pi / 180.0;
    cv::Rodrigues(cv::Vec3d(std::cos(axisAngle) * a, std::sin(axisAngle) * a, 0), tilt);
    cv::Rodrigues(cv::Vec3d(0, 0, rollRadians), roll);
    const cv::Matx33d r = roll * tilt * facing;
    vp::ViewPose pose;
    cv::Rodrigues(r, pose.rvec);
    const cv::Vec3d rotated = r * cv::Vec3d(anchor.x, anchor.y, 0);
    const cv::Vec3d target((at.x - camera.cx) / camera.fx * depth, (at.y - camera.cy) / camera.fy * depth, depth);
    pose.tvec = target - rotated;
    return pose;
}

struct Outcome {
    int count = 0;
    int mislabelled = 0;
    double worst = 0.0;  // largest distance of a correspondence from its true corner
};

Outcome extract(const cv::Mat& image, const std::vector<vp::CornerTruth>& truth) {
    GridSet set;
    set.allocate(1, 200);
    extractFrame(set, 0, image, nullptr, nullptr, nullptr);
    Outcome outcome;
    outcome.count = set.getPointCount(0);
    for (int k = 0; k < outcome.count; ++k) {
        GridPoint at{};
        GridPoint on{};
        set.getImagePoint(0, k, at);
        set.getPatternPoint(0, k, on);
        const auto same = std::find_if(truth.begin(), truth.end(), [&](const vp::CornerTruth& c) {
            return static_cast<float>(c.patternX) == on.x && static_cast<float>(c.patternY) == on.y;
        });
        if (same == truth.end()) {
            ++outcome.mislabelled;
            continue;
        }
        const double d = std::hypot(same->imageX - at.x, same->imageY - at.y);
        outcome.worst = std::max(outcome.worst, d);
        // A corner nearer another true corner than its own carries a wrong label.
        for (const vp::CornerTruth& c : truth) {
            if (&c != &*same && std::hypot(c.imageX - at.x, c.imageY - at.y) < d) {
                ++outcome.mislabelled;
                break;
            }
        }
    }
    return outcome;
}

// A board cut by each side of the frame in turn, the border crossing a row
// or column of cells at several depths, with blur and noise: the cells cut by
// the border must give no corner, and what is output must sit on the true
// corners.
void expectPartialViewsExact(double scale, const std::vector<double>& depths) {
    const vp::Camera camera = scaledCamera(scale);
    int views = 0;
    int labelled = 0;
    int total = 0;
    double worst = 0.0;
    for (int side = 0; side < 4; ++side) {
        for (size_t i = 0; i < depths.size(); ++i) {
            // The markers sit near pattern x = 0 between y = -1 and 3; each
            // cut keeps them and their neighbours in the frame.
            const double f = depths[i];
            const cv::Point2d anchors[4] = {{-3.0 - f, 0.5}, {2.0 + f, 0.5}, {-0.5, 4.0 + f}, {-0.5, -2.0 - f}};
            const cv::Point2d borders[4] = {{0.0, 0.5 * camera.height},
                                            {camera.width - 1.0, 0.5 * camera.height},
                                            {0.5 * camera.width, 0.0},
                                            {0.5 * camera.width, camera.height - 1.0}};
            const int k = static_cast<int>(i);
            const vp::ViewPose pose =
                placedPose(camera, 15.0 + 5 * side, 0.3 * k + side, 0.04 * k - 0.2, 18.0, anchors[side], borders[side]);
            vp::RenderOptions options;
            options.samples = 2;
            options.blurSigma = 0.6 + 0.4 * ((side + k) % 3);
            options.noiseSigma = 1.5 + (side + k) % 2;
            options.noiseSeed = static_cast<uint32_t>(10 * side + k);
            const vp::RenderedView view = vp::renderView(camera, pose, options);
            const Outcome outcome = extract(view.image, view.corners);
            SCOPED_TRACE("size " + std::to_string(camera.width) + " side " + std::to_string(side) + " depth " +
                         std::to_string(f));
            // A frame may be refused as a whole (its labels not trusted), but
            // not most of them.
            if (outcome.count >= 50) ++labelled;
            EXPECT_EQ(outcome.mislabelled, 0);
            EXPECT_LE(outcome.worst, 0.5);
            ++views;
            total += outcome.count;
            worst = std::max(worst, outcome.worst);
        }
    }
    EXPECT_GE(4 * labelled, 3 * views);
    std::printf("%d partial %d x %d views (%d labelled): %d correspondences, worst %.3f px from the true corner\n", views,
                camera.width, camera.height, labelled, total, worst);
}

TEST(PartialViews, SmallFramesGiveNoCornerFromCutCells) {
    expectPartialViewsExact(1.0, {0.05, 0.2, 0.35, 0.5, 0.65, 0.8, 0.95});
}

TEST(PartialViews, LargeFramesGiveNoCornerFromCutCells) {
    expectPartialViewsExact(2.5, {0.05, 0.35, 0.7});
}

TEST(PartialViews, HugeFramesGiveNoCornerFromCutCells) { expectPartialViewsExact(4.0, {0.35}); }

}  // namespace
