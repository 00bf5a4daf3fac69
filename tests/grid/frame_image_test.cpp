#include "grid/frame_image.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include <opencv2/imgproc.hpp>

namespace {

cv::Mat gradient(int width, int height) {
    cv::Mat image(height, width, CV_8UC1);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) image.at<uint8_t>(y, x) = static_cast<uint8_t>((x * 7 + y * 13) & 0xff);
    return image;
}

bool samePixels(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && a.type() == b.type() && cv::countNonZero(a != b) == 0;
}

TEST(FrameImage, RowsArePaddedToFourBytes) {
    for (auto [width, padded] : {std::pair{641, 644}, std::pair{640, 640}, std::pair{1, 4}, std::pair{3, 4},
                                 std::pair{5, 8}}) {
        cv::Mat frame = makeFrameImage(width, 3);
        EXPECT_EQ(frame.cols, width);
        EXPECT_EQ(frame.rows, 3);
        EXPECT_EQ(frame.type(), CV_8UC1);
        EXPECT_EQ(frame.step[0], static_cast<size_t>(padded));
        EXPECT_EQ(cv::countNonZero(frame), 0);
    }
    EXPECT_TRUE(makeFrameImage(0, 4).empty());
    EXPECT_TRUE(makeFrameImage(4, 0).empty());
    EXPECT_TRUE(makeFrameImage(-3, 4).empty());
}

TEST(FrameImage, GreyCopyKeepsEveryPixelOfAnOddWidth) {
    const cv::Mat source = gradient(641, 5);
    cv::Mat frame = toFrameImage(source);
    EXPECT_EQ(frame.step[0], 644u);
    EXPECT_TRUE(samePixels(frame, source));
    EXPECT_EQ(frame.at<uint8_t>(4, 640), source.at<uint8_t>(4, 640));
    // An independent copy.
    EXPECT_NE(frame.data, source.data);
    frame.at<uint8_t>(0, 0) = 255;
    EXPECT_EQ(source.at<uint8_t>(0, 0), 0);
}

TEST(FrameImage, CopiesFromANonContinuousRegion) {
    const cv::Mat wide = gradient(100, 20);
    const cv::Mat region = wide(cv::Rect(3, 2, 37, 11));
    cv::Mat frame = toFrameImage(region);
    EXPECT_EQ(frame.step[0], 40u);
    EXPECT_TRUE(samePixels(frame, region));
}

TEST(FrameImage, ColourImagesBecomeGrey) {
    cv::Mat bgr(4, 6, CV_8UC3);
    cv::randu(bgr, cv::Scalar::all(0), cv::Scalar::all(256));
    cv::Mat expected;
    cv::cvtColor(bgr, expected, cv::COLOR_BGR2GRAY);
    cv::Mat frame = toFrameImage(bgr);
    EXPECT_EQ(frame.step[0], 8u);
    EXPECT_TRUE(samePixels(frame, expected));

    cv::Mat bgra;
    cv::cvtColor(bgr, bgra, cv::COLOR_BGR2BGRA);
    EXPECT_TRUE(samePixels(toFrameImage(bgra), expected));
}

TEST(FrameImage, UnsupportedImagesAreRejected) {
    EXPECT_TRUE(toFrameImage(cv::Mat()).empty());
    EXPECT_THROW(toFrameImage(cv::Mat(2, 2, CV_16UC1, cv::Scalar(1))), std::invalid_argument);
    EXPECT_THROW(toFrameImage(cv::Mat(2, 2, CV_8UC2, cv::Scalar(1))), std::invalid_argument);
}

}  // namespace
