#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <numbers>
#include <stdexcept>

#include "pattern/board.h"
#include "pattern/photo_faults.h"
#include "pattern/renderer.h"

using namespace vexel::pattern;

namespace {

// Board centre on the optical axis, printed side towards the camera.
ViewPose frontalPose() { return {cv::Vec3d(std::numbers::pi, 0, 0), cv::Vec3d(0.5, 0.0, 25.0)}; }

RenderOptions plainOptions() {
    RenderOptions options;
    options.samples = 2;
    return options;
}

const CornerTruth& cornerAt(const RenderedView& view, int x, int y) {
    for (const CornerTruth& c : view.corners)
        if (c.patternX == x && c.patternY == y) return c;
    throw std::logic_error("no such corner");
}

int hiddenCount(const FaultyView& view) {
    int n = 0;
    for (bool h : view.hidden) n += h ? 1 : 0;
    return n;
}

}  // namespace

TEST(PhotoFaults, NoFaultIsTheCleanRenderWithEveryCornerVisible) {
    const Camera camera;
    const FaultyView view = renderFaultyView(camera, frontalPose(), plainOptions(), PhotoFaults{});
    const RenderedView clean = renderView(camera, frontalPose(), plainOptions());
    EXPECT_EQ(cv::norm(view.view.image, clean.image, cv::NORM_INF), 0.0);
    EXPECT_EQ(view.view.image.step[0] % 4, 0u);
    EXPECT_EQ(hiddenCount(view), 0);
    EXPECT_EQ(view.visibleMarkers, 3);
}

TEST(PhotoFaults, ShadowDarkensOneSideAndGainClipsTheWhites) {
    const Camera camera;
    const RenderedView clean = renderView(camera, frontalPose(), plainOptions());
    PhotoFaults faults;
    faults.shadowPoint = {camera.width / 2.0, 0.0};
    faults.shadowNormal = {1.0, 0.0};  // the right half of the frame
    faults.shadowTransmission = 0.4;
    faults.gain = 2.0;
    const FaultyView view = renderFaultyView(camera, frontalPose(), plainOptions(), faults);
    // Left: doubled and clipped; right: 0.4 x 2 = 0.8 of the clean grey.
    const int row = camera.height / 2;
    for (int col : {40, camera.width - 40}) {
        const double before = clean.image.at<uint8_t>(row, col);
        const double after = view.view.image.at<uint8_t>(row, col);
        const double expected = col < camera.width / 2 ? std::min(255.0, 2.0 * before) : 0.8 * before;
        EXPECT_NEAR(after, expected, 1.0) << col;
    }
    EXPECT_EQ(hiddenCount(view), 0);  // a shadow hides nothing
}

TEST(PhotoFaults, OccludedAndGlaredCornersAreHidden) {
    const Camera camera;
    const RenderedView clean = renderView(camera, frontalPose(), plainOptions());
    const CornerTruth& covered = cornerAt(clean, -3, -2);
    const CornerTruth& glared = cornerAt(clean, 3, 4);
    PhotoFaults faults;
    faults.fingers.push_back({{covered.imageX - 30, covered.imageY}, {covered.imageX, covered.imageY}, 6.0});
    faults.glareCentre = {glared.imageX, glared.imageY};
    faults.glarePeak = 400.0;
    faults.glareSigma = 6.0;
    const FaultyView view = renderFaultyView(camera, frontalPose(), plainOptions(), faults);
    int hidden = 0;
    for (size_t k = 0; k < view.view.corners.size(); ++k) {
        const CornerTruth& c = view.view.corners[k];
        if (view.hidden[k]) ++hidden;
        if ((c.patternX == -3 && c.patternY == -2) || (c.patternX == 3 && c.patternY == 4)) {
            EXPECT_TRUE(view.hidden[k]);
        }
    }
    EXPECT_LE(hidden, 6);  // only the corners near the finger and the glare
    EXPECT_EQ(view.view.image.at<uint8_t>(cvRound(glared.imageY), cvRound(glared.imageX)), 255);
    EXPECT_EQ(faultRecord("v.pgm", FaultKind::Glare, view).hiddenCorners.size(), static_cast<size_t>(hidden));
}

TEST(PhotoFaults, BlurKeepsCornersWhereTheyAre) {
    // Motion blur and defocus spread every point symmetrically: a corner's
    // refined position does not move.
    const Camera camera;
    PhotoFaults faults;
    faults.motionLength = 9.0;
    faults.motionAngle = 0.7;
    faults.defocusRadius = 2.5;
    const FaultyView view = renderFaultyView(camera, frontalPose(), plainOptions(), faults);
    const CornerTruth& c = cornerAt(view.view, -3, -3);
    std::vector<cv::Point2f> at{{static_cast<float>(c.imageX + 1.0), static_cast<float>(c.imageY - 1.0)}};
    cv::cornerSubPix(view.view.image, at, cv::Size(8, 8), cv::Size(-1, -1),
                     cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 50, 1e-4));
    EXPECT_LT(std::hypot(at[0].x - c.imageX, at[0].y - c.imageY), 0.1);
}

TEST(PhotoFaults, DrawsEveryKindReproduciblyAndRejectsBadParameters) {
    const Camera camera;
    for (FaultKind kind : allFaultKinds()) {
        FaultKind back = FaultKind::None;
        ASSERT_TRUE(faultKindFromName(faultKindName(kind), back));
        EXPECT_EQ(back, kind);
        PortableRandom a(5), b(5);
        const PhotoFaults fa = drawFaults(kind, camera, frontalPose(), a);
        const PhotoFaults fb = drawFaults(kind, camera, frontalPose(), b);
        EXPECT_EQ(fa.kind, kind);
        EXPECT_EQ(fa.fingers.size(), fb.fingers.size());
        EXPECT_EQ(fa.gain, fb.gain);
        EXPECT_EQ(fa.motionLength, fb.motionLength);
    }
    FaultKind unknown;
    EXPECT_FALSE(faultKindFromName("fog", unknown));
    const std::vector<ViewPose> small = randomPoses(camera, 2, 3, poseRangeFor(FaultKind::SmallBoard));
    ASSERT_EQ(small.size(), 2u);
    for (const ViewPose& pose : small) EXPECT_LT(boardAreaFraction(camera, pose), 0.031);

    PhotoFaults bad;
    bad.gain = 0.0;
    EXPECT_THROW(renderFaultyView(camera, frontalPose(), plainOptions(), bad), std::invalid_argument);
    bad.gain = 1.0;
    bad.motionLength = std::nan("");
    EXPECT_THROW(renderFaultyView(camera, frontalPose(), plainOptions(), bad), std::invalid_argument);
}
