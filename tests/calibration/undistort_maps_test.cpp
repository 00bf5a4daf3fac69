// Undistortion maps: made once per camera and frame size, the identity for a
// camera without distortion, and points and pixels moved to where an ideal
// camera would have seen them.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "calibration/undistort_maps.h"

namespace {

CalibrationRecord camera(double k1, double k2 = 0, double p1 = 0, double p2 = 0) {
    CalibrationRecord record;
    record.setCamera(300, 298, 161, 119);
    record.setLens(LensModel::OpenCv4, {k1, k2, p1, p2});
    return record;
}

// A picture with detail everywhere: diagonal stripes and a ramp.
cv::Mat texture(cv::Size size, int channels) {
    cv::Mat grey(size, CV_8UC1);
    for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x)
            grey.at<uchar>(y, x) = static_cast<uchar>(((x + y) / 6 % 2) * 150 + x * 100 / size.width);
    if (channels == 1) return grey;
    cv::Mat colour;
    cv::cvtColor(grey, colour, cv::COLOR_GRAY2BGR);
    return colour;
}

}  // namespace

TEST(UndistortMapsTest, WithoutDistortionEveryPixelStaysWhereItIs) {
    UndistortMaps maps;
    const cv::Size size(322, 241);
    ASSERT_TRUE(maps.prepare(camera(0), size));
    for (int channels : {1, 3}) {
        const cv::Mat in = texture(size, channels);
        cv::Mat out;
        ASSERT_TRUE(maps.remap(in, out));
        EXPECT_EQ(cv::norm(in, out, cv::NORM_INF), 0.0) << channels;
    }
    std::vector<cv::Point2f> points{{0, 0}, {17.25f, 200.5f}, {321, 240}};
    const std::vector<cv::Point2f> before = points;
    maps.undistortPoints(points);
    for (std::size_t i = 0; i < points.size(); ++i) EXPECT_LT(cv::norm(points[i] - before[i]), 1e-3);
}

TEST(UndistortMapsTest, StrongDistortionMovesPixelsAndPointsToTheIdealCamera) {
    const CalibrationRecord record = camera(-0.35, 0.12, 0.002, -0.001);
    const cv::Size size(320, 240);
    UndistortMaps maps;
    ASSERT_TRUE(maps.prepare(record, size));

    // The picture changes most near its corners, hardly at the centre.
    const cv::Mat in = texture(size, 3);
    cv::Mat out;
    ASSERT_TRUE(maps.remap(in, out));
    ASSERT_EQ(out.size(), size);
    ASSERT_EQ(out.type(), in.type());
    const cv::Rect corner(0, 0, 60, 40), centre(140, 100, 40, 40);
    EXPECT_GT(cv::norm(in(corner), out(corner), cv::NORM_L1) / corner.area(), 20.0);
    EXPECT_LT(cv::norm(in(centre), out(centre), cv::NORM_L1) / centre.area(),
              cv::norm(in(corner), out(corner), cv::NORM_L1) / corner.area() / 4);

    // Points seen through the distortion land where the camera without it
    // would have seen them, also far out.
    const cv::Matx33d k(record.fx(), 0, record.cx(), 0, record.fy(), record.cy(), 0, 0, 1);
    const cv::Vec4d d(record.distortion(0), record.distortion(1), record.distortion(2), record.distortion(3));
    std::vector<cv::Point3f> rays;
    for (float y = -0.38f; y <= 0.38f; y += 0.19f)
        for (float x = -0.5f; x <= 0.5f; x += 0.25f) rays.emplace_back(x, y, 1.0f);
    std::vector<cv::Point2f> seen, ideal;
    cv::projectPoints(rays, cv::Vec3d(), cv::Vec3d(), k, d, seen);
    cv::projectPoints(rays, cv::Vec3d(), cv::Vec3d(), k, cv::Vec4d(), ideal);
    maps.undistortPoints(seen);
    for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_LT(cv::norm(seen[i] - ideal[i]), 0.01) << i;

    // The remapped picture shows the pixel under a distorted point at its
    // ideal place.
    const cv::Mat spot = cv::Mat::zeros(size, CV_8UC1);
    std::vector<cv::Point2f> distorted;
    cv::projectPoints(std::vector<cv::Point3f>{{-0.45f, -0.33f, 1.0f}}, cv::Vec3d(), cv::Vec3d(), k, d, distorted);
    cv::circle(spot, cv::Point(cvRound(distorted[0].x), cvRound(distorted[0].y)), 3, cv::Scalar(255), cv::FILLED);
    cv::Mat moved;
    ASSERT_TRUE(maps.remap(spot, moved));
    cv::Point brightest;
    cv::minMaxLoc(moved, nullptr, nullptr, nullptr, &brightest);
    std::vector<cv::Point2f> expected;
    cv::projectPoints(std::vector<cv::Point3f>{{-0.45f, -0.33f, 1.0f}}, cv::Vec3d(), cv::Vec3d(), k, cv::Vec4d(),
                      expected);
    EXPECT_LT(cv::norm(cv::Point2f(brightest) - expected[0]), 4.0);
}

TEST(UndistortMapsTest, AFisheyeLensIsUndistortedByItsOwnModel) {
    CalibrationRecord record = camera(0);
    record.setLens(LensModel::Fisheye, {0.02, -0.01, 0.0, 0.0});
    const cv::Size size(320, 240);
    UndistortMaps maps;
    ASSERT_TRUE(maps.prepare(record, size));
    const cv::Matx33d k(record.fx(), 0, record.cx(), 0, record.fy(), record.cy(), 0, 0, 1);
    std::vector<cv::Point3f> rays;
    for (float y = -0.3f; y <= 0.3f; y += 0.15f)
        for (float x = -0.4f; x <= 0.4f; x += 0.2f) rays.emplace_back(x, y, 1.0f);
    std::vector<cv::Point2f> seen, ideal;
    cv::fisheye::projectPoints(rays, seen, cv::Vec3d(), cv::Vec3d(), k, cv::Vec4d(0.02, -0.01, 0, 0));
    cv::projectPoints(rays, cv::Vec3d(), cv::Vec3d(), k, cv::noArray(), ideal);
    maps.undistortPoints(seen);
    for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_LT(cv::norm(seen[i] - ideal[i]), 0.01) << i;

    // Another model with the same numbers needs new maps.
    const std::uint64_t builds = maps.builds();
    record.model = LensModel::OpenCv4;
    ASSERT_TRUE(maps.prepare(record, size));
    EXPECT_EQ(maps.builds(), builds + 1);
}

TEST(UndistortMapsTest, MapsAreMadeOncePerCameraAndSize) {
    UndistortMaps maps;
    ASSERT_TRUE(maps.prepare(camera(-0.2), {320, 240}));
    ASSERT_TRUE(maps.prepare(camera(-0.2), {320, 240}));
    EXPECT_EQ(maps.builds(), 1u);
    ASSERT_TRUE(maps.prepare(camera(-0.2), {640, 480}));
    EXPECT_EQ(maps.size(), cv::Size(640, 480));
    ASSERT_TRUE(maps.prepare(camera(-0.21), {640, 480}));
    EXPECT_EQ(maps.builds(), 3u);

    // A frame of another size than the maps' is not remapped.
    cv::Mat out;
    EXPECT_FALSE(maps.remap(texture({320, 240}, 1), out));
    EXPECT_TRUE(out.empty());
}

TEST(UndistortMapsTest, RecordsWithoutAUsableCameraGiveNoMaps) {
    UndistortMaps maps;
    ASSERT_TRUE(maps.prepare(camera(-0.2), {320, 240}));
    CalibrationRecord flat = camera(-0.2);
    flat.camera(0) = 0;
    EXPECT_FALSE(maps.prepare(flat, {320, 240}));
    EXPECT_FALSE(maps.ready());
    CalibrationRecord broken = camera(-0.2);
    broken.distortion(1) = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(maps.prepare(broken, {320, 240}));
    EXPECT_FALSE(maps.prepare(camera(-0.2), {0, 240}));
    // Points stay as they are without maps.
    std::vector<cv::Point2f> points{{5, 7}};
    maps.undistortPoints(points);
    EXPECT_EQ(points[0], cv::Point2f(5, 7));
}
