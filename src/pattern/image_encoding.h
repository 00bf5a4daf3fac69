#pragma once
// Image files written by the programs: PNG (with its print resolution when
// given), JPEG and binary PGM, encoded with the PNG and JPEG libraries the
// programs load for reading anyway.

#include <string>

#include <opencv2/core/mat.hpp>

namespace vexel::pattern {

// The bytes of a PNG file of `image` (8-bit grey, or 8-bit blue-green-red).
// dotsPerInch > 0 stores that resolution, so that printing at 100 % gives
// the image that size. Empty for any other image type or when encoding fails.
std::string encodePng(const cv::Mat& image, double dotsPerInch = 0.0);

// The bytes of a baseline JPEG file of `image` (8-bit grey or blue-green-red)
// at `quality` (1 to 100). Empty on failure.
std::string encodeJpeg(const cv::Mat& image, int quality);

// The 8-bit grey image of a JPEG file's bytes; empty when they cannot be
// decoded.
cv::Mat decodeJpegGrey(const std::string& bytes);

// The bytes of a binary PGM file (P5, maximum 255) of an 8-bit grey image.
std::string encodePgm(const cv::Mat& image);

}  // namespace vexel::pattern
