#pragma once
// Sound JPEG files decoded straight with the JPEG library, without the image
// library and so without its global guard: several threads can decode at
// once. The pixels are the ones the image library delivers for the same file
// (the same JPEG library with its default settings underneath, colour turned
// into grey with the image library's own weights), so a frame reads the same
// whichever way it was decoded.

#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>

// Decodes the JPEG file at `path` into a frame image (8-bit, one channel,
// rows padded to 4 bytes) when it is a sound 8-bit grey, YCbCr or RGB JPEG
// whose whole stream decodes without a single warning, and its size is at
// most `maxSide` per side and `maxPixels` in total. Returns an empty Mat for
// everything else (damaged or unusual files, other colour spaces, files
// that cannot be read): the caller then leaves the file to the image library,
// which decides about it as before.
cv::Mat decodeSoundJpeg(const std::string& path, int maxSide, long long maxPixels);

// The same for the bytes of a JPEG file already read.
cv::Mat decodeSoundJpeg(const std::vector<unsigned char>& bytes, int maxSide, long long maxPixels);
