// The image decoder the frame loader uses: the signature picks the format,
// its header is checked, then the program's own netpbm or JPEG decoder or
// the image library decodes it. The name must not matter, so every input is
// tried under a name picked by its last byte: each accepted format's
// extensions, those of formats that are refused, and none.

#include "document/frame_decoder.h"
#include "fuzz_input.h"

namespace {

const char* const NAMES[] = {"frame.jpg", "frame.JPEG", "frame.png", "frame.bmp", "frame.pgm", "frame.ppm",
                             "frame.pbm", "frame.tga",  "frame.TGA", "frame.sgi", "frame.psd", "frame.pcx",
                             "frame.tif", "frame0001"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::size_t pick = size > 0 ? data[size - 1] % (sizeof NAMES / sizeof NAMES[0]) : 0;
    const std::string path = vexel::fuzz::writeInput(data, size, NAMES[pick]);
    std::string error;
    const cv::Mat frame = decodeFrameFile(path, &error);
    if (frame.empty()) {
        // A refusal names the file and says why.
        vexel::fuzz::require(error.size() > path.size() + 2 && error.compare(0, path.size(), path) == 0);
    } else {
        // A frame image: 8-bit grey, rows padded to 4 bytes, inside the limits.
        vexel::fuzz::require(frame.type() == CV_8UC1 && frame.step[0] == static_cast<size_t>((frame.cols + 3) & ~3));
        vexel::fuzz::require(frame.cols <= FRAME_MAX_SIDE && frame.rows <= FRAME_MAX_SIDE);
        vexel::fuzz::require(static_cast<long long>(frame.cols) * frame.rows <= FRAME_MAX_PIXELS);
    }
    return 0;
}
