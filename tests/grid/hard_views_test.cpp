// The whole extraction on rendered views that users' own pictures resemble:
// the board running off the frame, and busy surroundings touching the board.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <string>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include "grid/extract_frame.h"
#include "grid/grid_set.h"
#include "pattern/board.h"
#include "pattern/cluttered_view.h"
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


// View `index` of a cluttered set: the pose, a margin of 0.3 to 1.5 cells,
// a blur of 0.6 to 1.0 px and the seeds follow from the index.
vp::RenderedView clutteredView(const vp::Camera& camera, const std::vector<vp::ViewPose>& poses, size_t index,
                               uint32_t seed) {
    vp::RenderOptions options;
    options.samples = 2;
    options.marginCells = 0.3 + 0.3 * static_cast<double>(index % 5);
    options.blurSigma = 0.6 + 0.2 * static_cast<double>(index % 3);
    options.noiseSigma = 1.5;
    options.noiseSeed = static_cast<uint32_t>(seed + index);
    return vp::renderClutteredView(camera, poses[index], options);
}

struct Survey {
    int views = 0;
    int labelled = 0;
    int mislabelled = 0;
    int correspondences = 0;
    std::vector<int> unlabelled;  // indices of views that gave no correspondence
};

Survey surveyCluttered(const vp::Camera& camera, int count, uint32_t seed) {
    Survey survey;
    const std::vector<vp::ViewPose> poses = vp::randomPoses(camera, count, seed);
    for (size_t i = 0; i < poses.size(); ++i) {
        const vp::RenderedView view = clutteredView(camera, poses, i, seed);
        const Outcome outcome = extract(view.image, view.corners);
        ++survey.views;
        if (outcome.count > 0) ++survey.labelled;
        else survey.unlabelled.push_back(static_cast<int>(i));
        if (outcome.mislabelled > 0 || outcome.worst > 1.0) ++survey.mislabelled;
        survey.correspondences += outcome.count;
    }
    return survey;
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

// Cluttered 1600 x 1200 views, among them four in which a quadrilateral
// made where the board meets the clutter was taken for a marker and the
// frame was lost: every one is labelled, and labelled right.
TEST(ClutteredViews, CellsAtTheBoardsEdgeAreNoMarkers) {
    const vp::Camera camera = scaledCamera(2.5);
    const uint32_t seed = 500;
    const std::vector<vp::ViewPose> poses = vp::randomPoses(camera, 50, seed);
    ASSERT_EQ(poses.size(), 50u);
    for (size_t i : {16u, 32u, 44u, 49u, 0u, 1u}) {
        const vp::RenderedView view = clutteredView(camera, poses, i, seed);
        const Outcome outcome = extract(view.image, view.corners);
        SCOPED_TRACE("view " + std::to_string(i));
        EXPECT_GE(outcome.count, 80);
        EXPECT_EQ(outcome.mislabelled, 0);
        EXPECT_LE(outcome.worst, 0.5);
    }
}

// The measurement over cluttered views; run on demand with
// --gtest_also_run_disabled_tests --gtest_filter='*Survey*'
// (VEXEL_SURVEY_SEED and VEXEL_SURVEY_SCALE pick another set).
TEST(ClutteredViews, DISABLED_SurveyOfSixtyViews) {
    const char* seedText = std::getenv("VEXEL_SURVEY_SEED");
    const char* scaleText = std::getenv("VEXEL_SURVEY_SCALE");
    const uint32_t seed = seedText != nullptr ? static_cast<uint32_t>(std::atoi(seedText)) : 500u;
    const double scale = scaleText != nullptr ? std::atof(scaleText) : 2.5;
    const Survey survey = surveyCluttered(scaledCamera(scale), 60, seed);
    std::printf("%d cluttered views: %d labelled, %d mislabelled, %d correspondences; unlabelled:", survey.views,
                survey.labelled, survey.mislabelled, survey.correspondences);
    for (int i : survey.unlabelled) std::printf(" %d", i);
    std::printf("\n");
    EXPECT_EQ(survey.mislabelled, 0);
}

}  // namespace
