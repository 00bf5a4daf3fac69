// The whole extraction on rendered views of the board, checked against the
// renderer's true corner positions.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/calib3d.hpp>

#include "grid/extract_frame.h"
#include "grid/grid_set.h"
#include "pattern/board.h"
#include "pattern/renderer.h"

namespace {

namespace vp = vexel::pattern;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

vp::RenderOptions renderOptions(uint32_t noiseSeed) {
    vp::RenderOptions options;
    options.samples = 4;
    options.blurSigma = 0.6;
    options.noiseSigma = 1.5;
    options.noiseSeed = noiseSeed;
    return options;
}

vp::Camera largeCamera() {
    vp::Camera camera;
    camera.width = 1600;
    camera.height = 1200;
    camera.fx *= 2.5;
    camera.fy *= 2.5;
    camera.cx *= 2.5;
    camera.cy *= 2.5;
    return camera;
}

// The pose turned by `quarterTurns` quarter turns about the camera's axis,
// around the board's centre (which stays where it was in the camera frame).
vp::ViewPose turned(const vp::ViewPose& pose, int quarterTurns) {
    cv::Matx33d r;
    cv::Rodrigues(pose.rvec, r);
    const double angle = quarterTurns * std::numbers::pi / 2;
    const cv::Matx33d roll(std::cos(angle), -std::sin(angle), 0, std::sin(angle), std::cos(angle), 0, 0, 0, 1);
    const cv::Vec3d centre((vp::kBoardMinX + vp::kBoardMaxX) / 2, (vp::kBoardMinY + vp::kBoardMaxY) / 2, 0);
    const cv::Vec3d c = r * centre + pose.tvec;
    const cv::Matx33d r2 = roll * r;
    vp::ViewPose out;
    cv::Rodrigues(r2, out.rvec);
    out.tvec = roll * c - r2 * centre;
    return out;
}

// The board's tilt: the angle between its normal and the camera's axis.
double tiltDegrees(const vp::ViewPose& pose) {
    cv::Matx33d r;
    cv::Rodrigues(pose.rvec, r);
    return std::acos(std::min(1.0, std::abs(r(2, 2)))) * 180.0 / std::numbers::pi;
}

// Shortest projected side of any board cell, in pixels (0 when a corner
// does not project).
double shortestCellSide(const vp::Camera& camera, const vp::ViewPose& pose) {
    double shortest = 1e300;
    for (int X = vp::kFirstCellX; X <= vp::kLastCellX; ++X) {
        for (int Y = vp::kFirstCellY; Y <= vp::kLastCellY; ++Y) {
            cv::Point2d p[4];
            const int corners[4][2] = {{X - 1, Y - 1}, {X, Y - 1}, {X, Y}, {X - 1, Y}};
            for (int i = 0; i < 4; ++i)
                if (!vp::projectPatternPoint(camera, pose, corners[i][0], corners[i][1], p[i])) return 0.0;
            for (int i = 0; i < 4; ++i) shortest = std::min(shortest, cv::norm(p[i] - p[(i + 1) % 4]));
        }
    }
    return shortest;
}

struct Tally {
    int views = 0;
    int demanding = 0;  // views that must give at least 105 correspondences
    std::vector<int> counts;
    std::vector<double> errors;
    int unrefined = 0;
};

// Extracts one view and checks every correspondence against the truth.
void extractView(const vp::Camera& camera, const vp::ViewPose& pose, uint32_t noiseSeed, Tally& tally) {
    const vp::RenderedView view = vp::renderView(camera, pose, renderOptions(noiseSeed));
    GridSet set;
    set.allocate(1, 200);
    std::ostringstream diag;
    std::ostringstream errors;
    ExtractTrace trace;
    extractFrame(set, 0, view.image, &trace, &diag, &errors);
    const int n = set.getPointCount(0);
    ++tally.views;
    tally.counts.push_back(n);

    const double tilt = tiltDegrees(pose);
    const double side = shortestCellSide(camera, pose);
    const bool demanding = vp::boardInsideFrame(camera, pose) && tilt <= 45.0 && side >= 30.0;
    if (demanding) {
        ++tally.demanding;
        EXPECT_GE(n, 105) << "tilt " << tilt << " shortest side " << side << " errors: " << errors.str();
    }
    for (int k = 0; k < n; ++k) {
        GridPoint at{};
        GridPoint on{};
        ASSERT_TRUE(set.getImagePoint(0, k, at));
        ASSERT_TRUE(set.getPatternPoint(0, k, on));
        const vp::CornerTruth* nearest = nullptr;
        double best = 1e300;
        for (const vp::CornerTruth& corner : view.corners) {
            const double d = std::hypot(corner.imageX - at.x, corner.imageY - at.y);
            if (d < best) {
                best = d;
                nearest = &corner;
            }
        }
        ASSERT_NE(nearest, nullptr);
        EXPECT_EQ(on.x, static_cast<float>(nearest->patternX)) << "correspondence " << k << " mislabelled";
        EXPECT_EQ(on.y, static_cast<float>(nearest->patternY)) << "correspondence " << k << " mislabelled";
        tally.errors.push_back(best);
        if (at.x == std::floor(at.x) && at.y == std::floor(at.y)) ++tally.unrefined;
    }
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(p * (values.size() - 1) + 0.5));
    return values[index];
}

void expectAccurate(const Tally& tally) {
    ASSERT_FALSE(tally.errors.empty());
    const auto within = std::count_if(tally.errors.begin(), tally.errors.end(), [](double e) { return e <= 0.15; });
    EXPECT_GE(static_cast<double>(within), 0.98 * static_cast<double>(tally.errors.size()))
        << within << " of " << tally.errors.size() << " within 0.15 px";
}

std::string summary(const Tally& tally) {
    std::vector<int> counts = tally.counts;
    std::sort(counts.begin(), counts.end());
    char text[256];
    std::snprintf(text, sizeof text,
                  "%d views (%d demanding): correspondences min %d median %d; error median %.4f p98 %.4f max %.4f px; "
                  "%d of %zu unrefined",
                  tally.views, tally.demanding, counts.empty() ? 0 : counts.front(),
                  counts.empty() ? 0 : counts[counts.size() / 2], percentile(tally.errors, 0.5),
                  percentile(tally.errors, 0.98), percentile(tally.errors, 1.0), tally.unrefined,
                  tally.errors.size());
    return text;
}

// The board centred on the camera's axis at `depth` cells, tilted by
// `tiltDegrees` about the in-plane axis at `axisAngle` radians.
vp::ViewPose centredPose(double tiltDegrees, double axisAngle, double depth) {
    const cv::Matx33d facing(1, 0, 0, 0, -1, 0, 0, 0, -1);  // pattern y up is image y down
    cv::Matx33d tilt;
    const double a = tiltDegrees * std::numbers::pi / 180.0;
    cv::Rodrigues(cv::Vec3d(std::cos(axisAngle) * a, std::sin(axisAngle) * a, 0), tilt);
    const cv::Matx33d r = tilt * facing;
    vp::ViewPose pose;
    cv::Rodrigues(r, pose.rvec);
    const cv::Vec3d centre((vp::kBoardMinX + vp::kBoardMaxX) / 2, (vp::kBoardMinY + vp::kBoardMaxY) / 2, 0);
    pose.tvec = cv::Vec3d(0, 0, depth) - r * centre;
    return pose;
}

// Random poses (tilts up to 50 degrees, cells mostly below 30 px) and close
// near-frontal ones (cells of 30 px and more), each in all four quarter turns.
TEST(EndToEnd, RenderedViewsAtVgaGiveCorrectCorrespondences) {
    const vp::Camera camera;
    const int posesPerSeed = kSanitized ? 1 : 2;
    std::vector<vp::ViewPose> poses;
    for (uint32_t seed : {11u, 29u}) {
        if (kSanitized && seed != 11u) continue;
        const std::vector<vp::ViewPose> random = vp::randomPoses(camera, posesPerSeed, seed);
        ASSERT_EQ(static_cast<int>(random.size()), posesPerSeed);
        poses.insert(poses.end(), random.begin(), random.end());
    }
    poses.push_back(centredPose(0.0, 0.0, 21.0));
    if (!kSanitized) poses.push_back(centredPose(12.0, 0.7, 20.5));
    Tally tally;
    for (size_t i = 0; i < poses.size(); ++i)
        for (int turns = 0; turns < 4; ++turns)
            extractView(camera, turned(poses[i], turns), static_cast<uint32_t>(10 * i + turns), tally);
    EXPECT_GE(tally.demanding, 4);
    expectAccurate(tally);
    std::printf("%s\n", summary(tally).c_str());
}

// Steep views, the board tilted by 50 degrees about several axes, with
// cells of about 15 px: corners go missing, but no corner is mislabelled.
TEST(EndToEnd, SteepViewsNeverMislabel) {
    const vp::Camera camera;
    Tally tally;
    for (double axisAngle : {0.0, 1.0, 2.0}) {
        const vp::ViewPose pose = centredPose(50.0, axisAngle, 26.0);
        ASSERT_TRUE(vp::boardInsideFrame(camera, pose));
        extractView(camera, pose, 5, tally);
    }
    std::printf("%s\n", summary(tally).c_str());
}

TEST(EndToEnd, LargeFramesGiveCorrectCorrespondences) {
    const vp::Camera camera = largeCamera();
    Tally tally;
    const int count = kSanitized ? 1 : 3;
    const std::vector<vp::ViewPose> poses = vp::randomPoses(camera, count, 3);
    ASSERT_EQ(static_cast<int>(poses.size()), count);
    for (int i = 0; i < count; ++i) extractView(camera, turned(poses[i], i), static_cast<uint32_t>(7 + i), tally);
    EXPECT_GE(tally.demanding, 1);
    expectAccurate(tally);
    std::printf("%s\n", summary(tally).c_str());
}

TEST(EndToEnd, ViewWithoutBoardGivesNothing) {
    const vp::Camera camera;
    vp::ViewPose away;
    away.rvec = cv::Vec3d(std::numbers::pi, 0, 0);
    away.tvec = cv::Vec3d(500, 0, 20);
    const vp::RenderedView view = vp::renderView(camera, away, renderOptions(3));
    GridSet set;
    set.allocate(1, 200);
    extractFrame(set, 0, view.image, nullptr, nullptr, nullptr);
    EXPECT_EQ(set.getPointCount(0), 0);
}

// The measurement over 50 seeded 1600 x 1200 views; run on demand with
// --gtest_also_run_disabled_tests --gtest_filter='*Survey*'.
TEST(EndToEnd, DISABLED_SurveyOfFiftyViews) {
    const vp::Camera camera = largeCamera();
    Tally tally;
    const std::vector<vp::ViewPose> poses = vp::randomPoses(camera, 50, 2024);
    for (size_t i = 0; i < poses.size(); ++i) extractView(camera, poses[i], static_cast<uint32_t>(100 + i), tally);
    expectAccurate(tally);
    std::printf("%s\n", summary(tally).c_str());
}

}  // namespace
