#include "grid/frame_image.h"

#include <climits>
#include <stdexcept>
#include <string>

#include <opencv2/imgproc.hpp>

cv::Mat makeFrameImage(int width, int height) {
    if (width <= 0 || height <= 0 || width > INT_MAX - 3) return cv::Mat();
    const int padded = (width + 3) & ~3;
    cv::Mat storage(height, padded, CV_8UC1, cv::Scalar(0));
    return storage(cv::Rect(0, 0, width, height));
}

cv::Mat toFrameImage(const cv::Mat& image) {
    if (image.empty()) return cv::Mat();
    if (image.depth() != CV_8U) {
        throw std::invalid_argument("frame image: expected 8 bits per channel, got OpenCV depth " +
                                    std::to_string(image.depth()));
    }
    cv::Mat grey;
    switch (image.channels()) {
        case 1:
            grey = image;
            break;
        case 3:
            cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
            break;
        case 4:
            cv::cvtColor(image, grey, cv::COLOR_BGRA2GRAY);
            break;
        default:
            throw std::invalid_argument("frame image: cannot convert an image of " +
                                        std::to_string(image.channels()) + " channels to grey");
    }
    cv::Mat frame = makeFrameImage(grey.cols, grey.rows);
    grey.copyTo(frame);
    return frame;
}
