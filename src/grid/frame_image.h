#pragma once

#include <opencv2/core.hpp>

// Frame images are 8-bit one-channel images whose rows are padded to a
// multiple of 4 bytes: a width x height region of a zero-filled cv::Mat whose
// width is rounded up to 4, so step() is the padded width. Returns an empty
// Mat when a dimension is not positive.
cv::Mat makeFrameImage(int width, int height);

// Copies an 8-bit image into a new frame image, converting 3-channel (BGR)
// and 4-channel (BGRA) images to grey first. An empty input gives an empty
// Mat; other depths or channel counts throw std::invalid_argument.
cv::Mat toFrameImage(const cv::Mat& image);
