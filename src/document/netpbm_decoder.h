#pragma once
// Netpbm pictures (P1 to P6, plain and raw, bitmaps, grey and colour maps of
// any range up to 16 bits) decoded into frame images. The image library's
// own reader is not used for them: it shows a bitmap's 1 white where the
// format means black, reads 16-bit samples as one byte each, leaves smaller
// ranges unscaled, and hangs on or frees twice what it read from some
// damaged files.

#include <istream>
#include <string>

#include <opencv2/core/mat.hpp>

// The grey level of a colour, as the image library converts colour to
// luminance (in single precision, truncated), so that colour pictures read
// the same whichever decoder read them.
unsigned char greyLevel(unsigned red, unsigned green, unsigned blue);

struct NetpbmHeader {
    char kind = 0;            // '1' to '6', the digit after the "P"
    long long width = 0;
    long long height = 0;
    long long maxValue = 1;   // the largest sample value; 1 for bitmaps
    long long bodyStart = 0;  // offset of the first sample: one white-space byte after the last field
};

// Reads the header from the start of `in`: the signature, then width,
// height and (but for bitmaps) the largest value, separated by white space
// and comments, the last one followed by one white-space byte. False for
// anything else, a largest value outside 1..65535 included.
bool readNetpbmHeader(std::istream& in, NetpbmHeader& header);

// Decodes the samples of `in` (the whole file) into a frame image: samples
// scaled to 0..255, colour converted to grey as the image library converts
// it, bitmaps' 1 black. Empty, with the reason in `why`, when the file is cut
// short or its samples are damaged.
cv::Mat decodeNetpbm(std::istream& in, const NetpbmHeader& header, std::string& why);
