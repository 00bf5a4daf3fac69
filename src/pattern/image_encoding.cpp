#include "pattern/image_encoding.h"

#include <csetjmp>
#include <cmath>
#include <cstdio>
#include <vector>

#include <jpeglib.h>
#include <png.h>

namespace vexel::pattern {

namespace {

bool supported(const cv::Mat& image) {
    return !image.empty() && image.depth() == CV_8U && (image.channels() == 1 || image.channels() == 3);
}

void appendPng(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::string*>(png_get_io_ptr(png));
    out->append(reinterpret_cast<const char*>(data), length);
}

void flushPng(png_structp) {}

// The libraries report fatal errors through longjmp; everything the jump
// crosses is plain data, set up before the jump target.
struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void jpegFailed(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1); }

}  // namespace

std::string encodePng(const cv::Mat& image, double dotsPerInch) {
    if (!supported(image)) return {};
    std::string out;
    std::vector<png_bytep> rows(static_cast<std::size_t>(image.rows));
    for (int r = 0; r < image.rows; ++r) rows[r] = const_cast<png_bytep>(image.ptr<png_byte>(r));
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, appendPng, flushPng);
    png_set_compression_level(png, 3);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.cols), static_cast<png_uint_32>(image.rows), 8,
                 image.channels() == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (dotsPerInch > 0.0) {
        const auto perMetre = static_cast<png_uint_32>(std::lround(dotsPerInch / 0.0254));
        png_set_pHYs(png, info, perMetre, perMetre, PNG_RESOLUTION_METER);
    }
    png_write_info(png, info);
    if (image.channels() == 3) png_set_bgr(png);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::string encodeJpeg(const cv::Mat& image, int quality) {
    if (!supported(image) || quality < 1 || quality > 100) return {};
    jpeg_compress_struct info{};
    JpegError error{};
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = jpegFailed;
    if (setjmp(error.jump)) {
        jpeg_destroy_compress(&info);
        std::free(buffer);
        return {};
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(image.cols);
    info.image_height = static_cast<JDIMENSION>(image.rows);
    info.input_components = image.channels();
    info.in_color_space = image.channels() == 1 ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(image.ptr<JSAMPLE>(static_cast<int>(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    std::string out(reinterpret_cast<const char*>(buffer), size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return out;
}

cv::Mat decodeJpegGrey(const std::string& bytes) {
    if (bytes.empty()) return {};
    jpeg_decompress_struct info{};
    JpegError error{};
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = jpegFailed;
    cv::Mat image;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        return {};
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_GRAYSCALE;
    jpeg_start_decompress(&info);
    image.create(static_cast<int>(info.output_height), static_cast<int>(info.output_width), CV_8UC1);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image.ptr<JSAMPLE>(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return image;
}

std::string encodePgm(const cv::Mat& image) {
    if (image.empty() || image.type() != CV_8UC1) return {};
    std::string out = "P5\n" + std::to_string(image.cols) + " " + std::to_string(image.rows) + "\n255\n";
    for (int r = 0; r < image.rows; ++r) out.append(image.ptr<char>(r), static_cast<std::size_t>(image.cols));
    return out;
}

}  // namespace vexel::pattern
