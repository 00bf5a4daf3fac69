#include "document/jpeg_decoder.h"

#include <csetjmp>
#include <cstdio>
#include <fstream>
#include <vector>

#include <jpeglib.h>

#include "document/netpbm_decoder.h"
#include "grid/frame_image.h"

namespace {

// Every message of the JPEG library, error or warning, ends the decode: a
// file that needs the library to guess or fill in anything is left to the
// image library, which then handles it exactly as before.
struct Abort {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void abortOnError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<Abort*>(info->err)->jump, 1);
}

void abortOnWarning(j_common_ptr info, int level) {
    if (level < 0) std::longjmp(reinterpret_cast<Abort*>(info->err)->jump, 1);
    // Trace messages (level > 0) are not warnings and are dropped.
}

void dropMessage(j_common_ptr) {}

bool readWholeFile(const std::string& path, std::vector<unsigned char>& bytes) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return false;
    const std::streamoff size = in.tellg();
    if (size <= 0) return false;
    bytes.resize(static_cast<size_t>(size));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), size);
    return in.gcount() == size;
}

// The decode proper. Holds no object with a destructor across the library's
// calls, since an error leaves them by longjmp: the frame, the row buffer and
// the file's bytes belong to the caller.
bool decode(const std::vector<unsigned char>& bytes, int maxSide, long long maxPixels, cv::Mat& frame,
            std::vector<unsigned char>& row) {
    jpeg_decompress_struct info;
    Abort abort;
    info.err = jpeg_std_error(&abort.manager);
    abort.manager.error_exit = abortOnError;
    abort.manager.emit_message = abortOnWarning;
    abort.manager.output_message = dropMessage;
    if (setjmp(abort.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    const bool grey = info.num_components == 1 && info.jpeg_color_space == JCS_GRAYSCALE;
    const bool colour =
        info.num_components == 3 && (info.jpeg_color_space == JCS_YCbCr || info.jpeg_color_space == JCS_RGB);
    const long long width = info.image_width, height = info.image_height;
    if ((!grey && !colour) || info.data_precision != 8 || width < 1 || height < 1 || width > maxSide ||
        height > maxSide || width * height > maxPixels) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    // The library's defaults for everything else, as the image library
    // leaves them.
    info.out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_start_decompress(&info);
    if (info.output_width != info.image_width || info.output_height != info.image_height ||
        info.output_components != (grey ? 1 : 3)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    const int w = static_cast<int>(width), h = static_cast<int>(height);
    frame = makeFrameImage(w, h);
    if (frame.empty()) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    if (colour) row.resize(static_cast<size_t>(w) * 3);
    while (info.output_scanline < info.output_height) {
        const int y = static_cast<int>(info.output_scanline);
        unsigned char* out = frame.ptr(y);
        JSAMPROW target = grey ? out : row.data();
        if (jpeg_read_scanlines(&info, &target, 1) != 1) {
            jpeg_destroy_decompress(&info);
            return false;
        }
        if (colour) {
            const unsigned char* p = row.data();
            for (int x = 0; x < w; ++x, p += 3) out[x] = greyLevel(p[0], p[1], p[2]);
        }
    }
    // Reads up to the end marker, so that damage after the last row is seen too.
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

}  // namespace

cv::Mat decodeSoundJpeg(const std::string& path, int maxSide, long long maxPixels) {
    std::vector<unsigned char> bytes;
    if (!readWholeFile(path, bytes)) return cv::Mat();
    return decodeSoundJpeg(bytes, maxSide, maxPixels);
}

cv::Mat decodeSoundJpeg(const std::vector<unsigned char>& bytes, int maxSide, long long maxPixels) {
    cv::Mat frame;
    std::vector<unsigned char> row;
    if (!decode(bytes, maxSide, maxPixels, frame, row)) return cv::Mat();
    return frame;
}
