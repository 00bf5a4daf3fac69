// PNG files are read through only when the image library will read them to
// the end: hand-made files, sound ones (interlaced too) and ones whose
// checksums are right but whose image data is not what the header says.

#include "document/png_check.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "document/frame_decoder.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

std::string be32(uint32_t v) {
    return {char(v >> 24), char((v >> 16) & 255), char((v >> 8) & 255), char(v & 255)};
}

std::string chunk(const std::string& type, const std::string& data) {
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type.data()), 4);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
    return be32(static_cast<uint32_t>(data.size())) + type + data + be32(static_cast<uint32_t>(crc));
}

std::string deflated(const std::string& raw) {
    uLongf size = compressBound(raw.size());
    std::string out(size, '\0');
    compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(raw.data()), raw.size());
    out.resize(size);
    return out;
}

// A width x height PNG of the given depth, colour type and interlacing whose
// image data is `raw` (filter bytes included), checksums all correct.
std::string png(uint32_t width, uint32_t height, int depth, int type, int interlace, const std::string& raw,
                const std::string& before = "") {
    const std::string header = be32(width) + be32(height) + char(depth) + char(type) + '\0' + '\0' + char(interlace);
    return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + before + chunk("IDAT", deflated(raw)) +
           chunk("IEND", "");
}

std::string check(const std::string& bytes) {
    std::istringstream in(bytes);
    return checkPngFile(in);
}

TEST(PngCheck, SoundFilesPassAndDecode) {
    const TempDir dir("vexel_png");
    // 3 x 2 grey, rows filtered with 0 (none) and 1 (difference to the left).
    const std::string plain = png(3, 2, 8, 0, 0, std::string{0, 10, 20, 30, 1, 40, 1, 1});
    // The same picture interlaced: passes 1, 4, 6 and 7 hold pixels
    // (0,0), (2,0), (1,0) and the second row.
    const std::string interlaced = png(3, 2, 8, 0, 1, std::string{0, 10, 0, 30, 0, 20, 0, 40, 41, 42});
    for (const std::string& file : {plain, interlaced}) {
        EXPECT_EQ(check(file), "");
        const fs::path path = dir / "sound.png";
        std::ofstream(path, std::ios::binary) << file;
        const cv::Mat frame = decodeFrameFile(path.string());
        ASSERT_FALSE(frame.empty());
        EXPECT_EQ(frame.at<uint8_t>(0, 0), 10);
        EXPECT_EQ(frame.at<uint8_t>(0, 1), 20);
        EXPECT_EQ(frame.at<uint8_t>(0, 2), 30);
        EXPECT_EQ(frame.at<uint8_t>(1, 0), 40);
        EXPECT_EQ(frame.at<uint8_t>(1, 2), 42);
    }
    // A palette picture with its palette.
    EXPECT_EQ(check(png(2, 1, 8, 3, 0, std::string{0, 0, 1}, chunk("PLTE", std::string(6, 'p')))), "");
}

TEST(PngCheck, RightChecksumsAroundWrongImageDataAreRefused) {
    const std::string rows{0, 10, 20, 30, 0, 40, 41, 42};
    const struct {
        const char* what;
        std::string file;
    } damaged[] = {
        {"unknown filter", png(3, 2, 8, 0, 0, std::string{0, 10, 20, 30, 5, 40, 41, 42})},
        {"a byte short", png(3, 2, 8, 0, 0, rows.substr(0, 7))},
        {"a byte over", png(3, 2, 8, 0, 0, rows + '\0')},
        {"rows of a wider picture", png(2, 2, 8, 0, 0, rows)},
        {"not deflated", std::string("\x89PNG\r\n\x1a\n", 8) +
                             chunk("IHDR", be32(3) + be32(2) + std::string{8, 0, 0, 0, 0}) + chunk("IDAT", rows) +
                             chunk("IEND", "")},
        {"depth the colour type does not allow", png(3, 2, 4, 2, 0, rows)},
        {"palette picture without palette", png(3, 2, 8, 3, 0, rows)},
        {"unknown interlacing", png(3, 2, 8, 0, 2, rows)},
        {"zero width", png(0, 2, 8, 0, 0, rows)},
        {"no end", png(3, 2, 8, 0, 0, rows).substr(0, 57)},
        {"chunk longer than the file", std::string("\x89PNG\r\n\x1a\n", 8) + be32(0x7ffffff0) + "IHDR"},
    };
    for (const auto& d : damaged) {
        SCOPED_TRACE(d.what);
        EXPECT_NE(check(d.file), "");
    }
}

}  // namespace
