#include <gtest/gtest.h>

#include <cmath>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

#include "calibration/camera_calibration.h"

namespace {

const cv::Matx33d TRUE_CAMERA(700, 0, 322, 0, 696, 238, 0, 0, 1);
const cv::Vec4d TRUE_DISTORTION(-0.18, 0.05, 0.0006, -0.0004);

std::vector<cv::Point3f> patternCorners() {
    std::vector<cv::Point3f> corners;
    for (int y = -5; y <= 5; ++y)
        for (int x = -5; x <= 4; ++x) corners.emplace_back(static_cast<float>(x), static_cast<float>(y), 0.0f);
    return corners;
}

struct Pose {
    cv::Vec3d rvec, tvec;
};

// Well-spread views of the pattern 25 to 30 cells away.
std::vector<Pose> viewPoses() {
    return {{{0.05, 0.02, 0.1}, {0.3, 0.1, 26}},   {{0.5, 0.1, -0.3}, {-0.5, 0.4, 27}},
            {{-0.45, 0.3, 0.8}, {0.8, -0.2, 28}},  {{0.2, -0.55, 1.6}, {0.2, 0.6, 25}},
            {{-0.3, -0.4, -1.2}, {-0.4, -0.3, 29}}, {{0.6, 0.5, 2.5}, {0.1, 0.2, 30}}};
}

CalibrationViews syntheticViews(const std::vector<Pose>& poses) {
    CalibrationViews views;
    std::vector<cv::Point3f> object = patternCorners();
    for (std::size_t i = 0; i < poses.size(); ++i) {
        std::vector<cv::Point2f> image;
        cv::projectPoints(object, poses[i].rvec, poses[i].tvec, TRUE_CAMERA, TRUE_DISTORTION, image);
        views.frames.push_back(static_cast<int>(i) * 2);
        views.imagePoints.push_back(image);
        views.objectPoints.push_back(object);
    }
    return views;
}

CalibrationRecord trueRecord() {
    CalibrationRecord r;
    for (int i = 0; i < 9; ++i) r.camera(i) = TRUE_CAMERA(i / 3, i % 3);
    for (int i = 0; i < 4; ++i) r.distortion(i) = TRUE_DISTORTION[i];
    return r;
}

}  // namespace

TEST(CameraCalibration, IntrinsicRecoversTheCameraAndTheFirstViewsPose) {
    std::vector<Pose> poses = viewPoses();
    CalibrationViews views = syntheticViews(poses);
    IntrinsicResult result = calibrateIntrinsic(views, cv::Size(640, 480));

    const CalibrationRecord& r = result.record;
    EXPECT_NEAR(r.fx(), 700, 1e-2);
    EXPECT_NEAR(r.fy(), 696, 1e-2);
    EXPECT_NEAR(r.cx(), 322, 1e-2);
    EXPECT_NEAR(r.cy(), 238, 1e-2);
    EXPECT_EQ(r.camera(1), 0.0);
    EXPECT_EQ(r.camera(8), 1.0);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(r.distortion(i), TRUE_DISTORTION[i], 1e-4) << i;

    cv::Matx33d rotation;
    cv::Rodrigues(poses[0].rvec, rotation);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(r.rotation(i), rotation(i / 3, i % 3), 1e-5) << i;
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(r.translation(i), poses[0].tvec[i], 1e-3) << i;

    EXPECT_LT(result.rms, 1e-3);
    ASSERT_EQ(result.perViewErrors.size(), poses.size());
    for (double e : result.perViewErrors) EXPECT_LT(e, 1e-3);
}

TEST(CameraCalibration, PerViewErrorsShowWhichViewIsOff) {
    CalibrationViews views = syntheticViews(viewPoses());
    for (cv::Point2f& p : views.imagePoints[2]) p += cv::Point2f(p.y * 0.002f, 0.0f);  // a sheared view
    IntrinsicResult result = calibrateIntrinsic(views, cv::Size(640, 480));
    ASSERT_EQ(result.perViewErrors.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        if (i != 2) {
            EXPECT_LT(result.perViewErrors[i], result.perViewErrors[2]) << i;
        }
    }
    // The overall figure is the RMS over all points.
    double sum = 0;
    for (double e : result.perViewErrors) sum += e * e * 110;
    EXPECT_NEAR(result.rms, std::sqrt(sum / 660), 1e-9);
}

TEST(CameraCalibration, LibraryFailuresArriveAsExceptions) {
    EXPECT_THROW(calibrateIntrinsic(CalibrationViews{}, cv::Size(640, 480)), cv::Exception);
    CalibrationViews mismatched = syntheticViews(viewPoses());
    mismatched.objectPoints[1].pop_back();
    EXPECT_THROW(calibrateIntrinsic(mismatched, cv::Size(640, 480)), cv::Exception);

    std::vector<cv::Point2f> image(3, cv::Point2f(1, 1));
    std::vector<cv::Point3f> object(3, cv::Point3f(0, 0, 0));
    EXPECT_THROW(calibrateExtrinsic(image, object, trueRecord()), cv::Exception);
}

TEST(CameraCalibration, ExtrinsicFindsThePoseFromKnownIntrinsics) {
    std::vector<Pose> poses = viewPoses();
    CalibrationViews views = syntheticViews(poses);
    for (int v : {1, 4}) {
        ExtrinsicResult pose = calibrateExtrinsic(views.imagePoints[v], views.objectPoints[v], trueRecord());
        cv::Matx33d rotation;
        cv::Rodrigues(poses[v].rvec, rotation);
        for (int i = 0; i < 9; ++i) EXPECT_NEAR(pose.rotation[i], rotation(i / 3, i % 3), 1e-5) << v << " " << i;
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(pose.translation[i], poses[v].tvec[i], 1e-3) << v << " " << i;
        EXPECT_LT(pose.rms, 1e-3);
    }
}
