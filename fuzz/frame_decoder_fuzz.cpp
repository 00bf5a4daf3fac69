// The image decoder the frame loader uses: header checks, then the
// program's own netpbm decoder or the image library. The file's extension
// chooses the library's decoder, so it follows the content's signature, and
// content without a known signature goes to each decoder in turn.

#include <cstring>

#include "document/frame_decoder.h"
#include "fuzz_input.h"

namespace {

const char* extensionFor(const std::uint8_t* data, std::size_t size) {
    if (size >= 2 && data[0] == 'P' && data[1] >= '1' && data[1] <= '6')
        return data[1] == '1' || data[1] == '4' ? ".pbm" : data[1] == '2' || data[1] == '5' ? ".pgm" : ".ppm";
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) return ".jpg";
    if (size >= 8 && std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0) return ".png";
    if (size >= 2 && data[0] == 'B' && data[1] == 'M') return ".bmp";
    static const char* const any[] = {".pgm", ".ppm", ".jpg", ".png", ".bmp"};
    return any[size > 0 ? data[0] % 5 : 0];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = vexel::fuzz::writeInput(data, size, std::string("frame") + extensionFor(data, size));
    std::string error;
    const cv::Mat frame = decodeFrameFile(path, &error);
    if (frame.empty()) {
        // A refusal names the file and says why.
        vexel::fuzz::require(error.size() > path.size() + 2 && error.compare(0, path.size(), path) == 0);
    } else {
        // A frame image: 8-bit grey, rows padded to 4 bytes, inside the limits.
        vexel::fuzz::require(frame.type() == CV_8UC1 && frame.step[0] == static_cast<size_t>((frame.cols + 3) & ~3));
        vexel::fuzz::require(frame.cols <= FRAME_MAX_SIDE && frame.rows <= FRAME_MAX_SIDE);
    }
    return 0;
}
