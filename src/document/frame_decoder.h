#pragma once
// Decoding of image files into frame images.
//
// The image library (DevIL) keeps process-wide state: one bound image, one
// error stack, one set of loader options. Every call into it in this program
// goes through this unit, which initialises the library once and holds
// devilMutex() around each use. Code elsewhere must not call DevIL directly;
// if it ever has to, it must hold devilMutex() for the whole sequence of calls.

#include <mutex>
#include <string>

#include <opencv2/core/mat.hpp>

// Largest frame accepted from a file, in pixels per side and in total, and
// in bytes once decoded as the file stores it (every channel at its depth:
// an 8-bit colour picture of the largest size, not a 16-bit one). A file
// whose header claims more is refused before anything is allocated for it.
constexpr int FRAME_MAX_SIDE = 32768;
constexpr long long FRAME_MAX_PIXELS = 100LL * 1000 * 1000;
constexpr long long FRAME_MAX_BYTES = 3 * FRAME_MAX_PIXELS;

// Decodes the image file at `path` into a frame image: 8-bit, one channel,
// rows padded to a multiple of 4 bytes (made with makeFrameImage). Only JPEG,
// PNG, BMP and netpbm files are decoded, told by their signature whatever
// their name, each after its header was checked against the limits above and
// against the file; anything else is refused before any decoder sees it, as
// "not an image" when it starts with text, else as an "unsupported image
// format".
// One byte per pixel grey pictures are copied unchanged, palette pictures get
// the grey level of each index's colour, everything else (colour, samples
// wider than a byte) is converted to 8-bit luminance by the image library.
// Netpbm pictures (16-bit ones and bitmaps included) are decoded by
// decodeNetpbm, their samples scaled to 0..255; sound JPEGs by
// decodeSoundJpeg, outside the image library's guard, into the pixels the
// library gives.
// Returns an empty Mat when the file is missing, no regular file, empty, of
// another format, damaged, cut short or larger than the limits above. Running
// out of memory is no fault of the file: it throws std::bad_alloc.
// Safe to call from any thread.
cv::Mat decodeFrameFile(const std::string& path);

// The same, and on failure sets `*error` (when given) to a one-line reason
// that names the file.
cv::Mat decodeFrameFile(const std::string& path, std::string* error);

// The same, and on failure sets `*reason` (when given) to the reason alone
// ("truncated JPEG"), for a list that names the file itself.
cv::Mat decodeFrame(const std::string& path, std::string* reason);

// The same with every file decoded by the image library (sound JPEGs
// included, which decodeFrameFile decodes without it): the pixels the direct
// JPEG decoding must match.
cv::Mat decodeFrameFileWithImageLibrary(const std::string& path, std::string* error = nullptr);

// The guard around every use of the image library's global state.
std::mutex& devilMutex();
