#include "document/frame_decoder.h"
#include "document/jpeg_decoder.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

class FrameDecoderTest : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    std::string writeBytes(const std::string& name, const std::string& bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
        return path(name);
    }

    std::string writeImage(const std::string& name, const cv::Mat& image) const {
        EXPECT_TRUE(cv::imwrite(path(name), image));
        return path(name);
    }

    TempDir dir_{"vexel_decoder"};
};

// A grey ramp whose every row differs, so a sheared copy would show.
cv::Mat rampImage(int width, int height) {
    cv::Mat image(height, width, CV_8UC1);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) image.at<uint8_t>(y, x) = static_cast<uint8_t>((x * 7 + y * 3) % 256);
    return image;
}

void expectFrameImage(const cv::Mat& frame, int width, int height) {
    ASSERT_FALSE(frame.empty());
    EXPECT_EQ(frame.type(), CV_8UC1);
    EXPECT_EQ(frame.cols, width);
    EXPECT_EQ(frame.rows, height);
    EXPECT_EQ(frame.step[0] % 4, 0u);
    EXPECT_EQ(frame.step[0], static_cast<size_t>((width + 3) / 4 * 4));
}

TEST_F(FrameDecoderTest, PgmIsCopiedExactlyIncludingOddWidths) {
    // 641 wide: every row of the frame starts at a padded stride of 644.
    const cv::Mat ramp = rampImage(641, 480);
    const cv::Mat frame = decodeFrameFile(writeImage("odd.pgm", ramp));
    expectFrameImage(frame, 641, 480);
    EXPECT_EQ(cv::norm(frame, ramp, cv::NORM_INF), 0.0);
    EXPECT_EQ(frame.at<uint8_t>(479, 640), ramp.at<uint8_t>(479, 640));
    EXPECT_EQ(frame.at<uint8_t>(479, 0), ramp.at<uint8_t>(479, 0));
}

TEST_F(FrameDecoderTest, GreyJpegKeepsItsLevels) {
    const cv::Mat ramp = rampImage(320, 240);
    const std::string file = writeImage("grey.jpg", ramp);
    const cv::Mat frame = decodeFrameFile(file);
    expectFrameImage(frame, 320, 240);
    // The same decoder library underneath: the grey levels as stored in the file.
    const cv::Mat stored = cv::imread(file, cv::IMREAD_UNCHANGED);
    ASSERT_EQ(stored.type(), CV_8UC1);
    EXPECT_LE(cv::norm(frame, stored, cv::NORM_INF), 1.0);
}

TEST_F(FrameDecoderTest, ColourImagesAreConvertedToLuminance) {
    // BGR order: blue 50, green 100, red 200.
    const cv::Mat colour(60, 90, CV_8UC3, cv::Scalar(50, 100, 200));
    for (const std::string name : {"colour.jpg", "colour.png"}) {
        SCOPED_TRACE(name);
        const cv::Mat frame = decodeFrameFile(writeImage(name, colour));
        expectFrameImage(frame, 90, 60);
        double lowest = 0, highest = 0;
        cv::minMaxLoc(frame, &lowest, &highest);
        // A weighted mean of the channels: between the darkest and the
        // brightest channel, and dominated by green.
        EXPECT_GT(lowest, 90.0);
        EXPECT_LT(highest, 140.0);
    }
    // Grey colour pixels stay what they are.
    const cv::Mat grey(20, 30, CV_8UC3, cv::Scalar(77, 77, 77));
    const cv::Mat frame = decodeFrameFile(writeImage("grey3.png", grey));
    expectFrameImage(frame, 30, 20);
    EXPECT_EQ(cv::countNonZero(frame != 77), 0);
}

// Big-endian 16-bit samples.
std::string samples16(std::initializer_list<unsigned> values) {
    std::string out;
    for (unsigned v : values) out += {static_cast<char>(v >> 8), static_cast<char>(v & 255)};
    return out;
}

TEST_F(FrameDecoderTest, NetpbmOfAnyRangeIsScaledToEightBits) {
    // Each picture is 4 x 1 and should read 0, 128, 255, 64 (within rounding).
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"p5_16.pgm", "P5\n4 1\n65535\n" + samples16({0, 32896, 65535, 16448})},
        {"p5_10.pgm", "P5 4 1 1023 " + samples16({0, 514, 1023, 257})},
        {"p5_254.pgm", "P5\n4 1\n254\n" + std::string{0, 127, char(254), 64}},
        {"p2_16.pgm", "P2\n# plain\n4 1\n65535\n0 32896\n65535 16448\n"},
        {"p2_over.pgm", "P2 4 1 100 0 50 120 25"},  // above the maximum counts as the maximum
        // Grey colour pixels stay grey.
        {"p6_16.ppm", "P6\n4 1\n65535\n" + samples16({0, 0, 0, 32896, 32896, 32896, 65535, 65535, 65535, 16448,
                                                           16448, 16448})},
        {"p3_16.ppm", "P3 4 1 65535 0 0 0 32896 32896 32896 65535 65535 65535 16448 16448 16448"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        const cv::Mat frame = decodeFrameFile(writeBytes(c.name, c.bytes), &error);
        expectFrameImage(frame, 4, 1);
        if (frame.empty()) continue;
        EXPECT_EQ(frame.at<uint8_t>(0, 0), 0);
        EXPECT_NEAR(frame.at<uint8_t>(0, 1), 128, 1);
        EXPECT_NEAR(frame.at<uint8_t>(0, 2), 255, 1);
        EXPECT_NEAR(frame.at<uint8_t>(0, 3), 64, 1);
    }
    // Few levels are spread over the whole range.
    const cv::Mat levels = decodeFrameFile(writeBytes("p5_15.pgm", "P5 3 1 15 " + std::string{1, 8, 15}));
    expectFrameImage(levels, 3, 1);
    if (!levels.empty()) {
        EXPECT_EQ(levels.at<uint8_t>(0, 0), 17);
        EXPECT_EQ(levels.at<uint8_t>(0, 1), 136);
        EXPECT_EQ(levels.at<uint8_t>(0, 2), 255);
    }
    // Colour netpbm reads as the same picture does through the library.
    cv::Mat noise(40, 50, CV_8UC3);
    cv::randu(noise, 0, 256);
    const cv::Mat fromPpm = decodeFrameFile(writeImage("noise.ppm", noise));
    const cv::Mat fromPng = decodeFrameFile(writeImage("noise.png", noise));
    ASSERT_FALSE(fromPpm.empty());
    ASSERT_FALSE(fromPng.empty());
    EXPECT_EQ(cv::norm(fromPpm, fromPng, cv::NORM_INF), 0.0);
    // 16-bit colour reads as its 8-bit form.
    const cv::Mat red8 = decodeFrameFile(writeBytes("red8.ppm", "P6\n1 1\n255\n" + std::string{char(200), 40, 90}));
    const cv::Mat red16 = decodeFrameFile(writeBytes("red16.ppm", "P6 1 1 65535 " + samples16({51400, 10280, 23130})));
    ASSERT_FALSE(red8.empty());
    ASSERT_FALSE(red16.empty());
    EXPECT_EQ(red16.at<uint8_t>(0, 0), red8.at<uint8_t>(0, 0));

    // A bitmap's 1 is black.
    const std::string bits[] = {writeBytes("plain.pbm", "P1\n4 1\n1 0\n10\n"),
                                writeBytes("raw.pbm", "P4\n4 1\n" + std::string{char(0xa0)})};
    for (const std::string& file : bits) {
        SCOPED_TRACE(file);
        const cv::Mat frame = decodeFrameFile(file);
        expectFrameImage(frame, 4, 1);
        if (frame.empty()) continue;
        EXPECT_EQ(frame.at<uint8_t>(0, 0), 0);
        EXPECT_EQ(frame.at<uint8_t>(0, 1), 255);
        EXPECT_EQ(frame.at<uint8_t>(0, 2), 0);
        EXPECT_EQ(frame.at<uint8_t>(0, 3), 255);
    }

    // Cut short or damaged, with a reason.
    for (const std::string& bytes : {"P5\n4 1\n65535\n" + samples16({1, 2, 3}), std::string("P2 4 1 1023 1 2 3"),
                                     std::string("P2 4 1 1023 1 2 x 4"), std::string("P5 4 1 1023"),
                                     std::string("P1 4 1 1 0 1"), std::string("P4 9 2 \xff\xff\xff"),
                                     "P5 4 1 1023x" + samples16({1, 2, 3, 4})}) {
        SCOPED_TRACE(bytes);
        std::string error;
        EXPECT_TRUE(decodeFrameFile(writeBytes("bad.pgm", bytes), &error).empty());
        EXPECT_NE(error.find("bad.pgm: "), std::string::npos) << error;
    }
}

// A 4 x 2 BMP with 8-bit indices into a palette whose grey levels differ
// from the indices.
std::string palettedBmp() {
    auto le32 = [](uint32_t v) {
        return std::string{char(v & 255), char((v >> 8) & 255), char((v >> 16) & 255), char((v >> 24) & 255)};
    };
    auto le16 = [](uint16_t v) { return std::string{char(v & 255), char((v >> 8) & 255)}; };
    std::string palette;
    for (int i = 0; i < 256; ++i) {
        const char level = static_cast<char>(255 - i);
        palette += std::string{level, level, level, 0};
    }
    const std::string pixels{0, 1, 2, 3, 4, 5, 6, 7};  // bottom row first
    const uint32_t offset = 14 + 40 + 1024;
    std::string file = "BM" + le32(offset + pixels.size()) + le32(0) + le32(offset);
    file += le32(40) + le32(4) + le32(2) + le16(1) + le16(8) + le32(0) + le32(pixels.size()) + le32(2835) +
            le32(2835) + le32(256) + le32(0);
    return file + palette + pixels;
}

TEST_F(FrameDecoderTest, PaletteIndicesBecomeTheirGreyLevels) {
    // A palette larger than 256 entries or than the file, and rows the file
    // does not hold, are refused before the library allocates them.
    std::string huge = palettedBmp();
    huge.replace(46, 4, "\xff\xff\xff\xff");
    const std::string cut = palettedBmp().substr(0, 1082);
    for (const std::string& bytes : {huge, cut, palettedBmp().substr(0, 500)}) {
        std::string error;
        EXPECT_TRUE(decodeFrameFile(writeBytes("bad.bmp", bytes), &error).empty());
        EXPECT_NE(error.find("bad.bmp: "), std::string::npos) << error;
    }

    const cv::Mat frame = decodeFrameFile(writeBytes("palette.bmp", palettedBmp()));
    expectFrameImage(frame, 4, 2);
    // Top row first: the file's second row holds indices 4 to 7.
    EXPECT_EQ(frame.at<uint8_t>(0, 0), 255 - 4);
    EXPECT_EQ(frame.at<uint8_t>(0, 3), 255 - 7);
    EXPECT_EQ(frame.at<uint8_t>(1, 0), 255);
    EXPECT_EQ(frame.at<uint8_t>(1, 3), 255 - 3);
}

TEST_F(FrameDecoderTest, UnreadableFilesGiveAnEmptyFrameAndAReason) {
    const cv::Mat ramp = rampImage(64, 48);
    std::vector<uint8_t> jpeg;
    ASSERT_TRUE(cv::imencode(".jpg", ramp, jpeg));
    const std::string jpegBytes(jpeg.begin(), jpeg.end());
    std::vector<uint8_t> png;
    ASSERT_TRUE(cv::imencode(".png", ramp, png));
    std::string damagedPng(png.begin(), png.end());
    damagedPng[png.size() / 2] = static_cast<char>(damagedPng[png.size() / 2] ^ 0x21);

    fs::create_directories(path("folder.jpg"));
    const std::vector<std::string> files{
        path("missing.pgm"),
        path("folder.jpg"),
        writeBytes("empty.jpg", ""),
        writeBytes("text.jpg", "this is no picture at all\n"),
        writeBytes("truncated.jpg", jpegBytes.substr(0, jpegBytes.size() / 3)),
        writeBytes("truncated.png", std::string(png.begin(), png.end() - 20)),
        writeBytes("damaged.png", damagedPng),
        // A binary netpbm file shorter than its header announces.
        writeBytes("short.pgm", "P5\n64 48\n255\n" + std::string(1000, '\x80')),
        writeBytes("short.ppm", "P6\n64 48\n255\n" + std::string(1000, '\x80')),
        // The header's last line is read to its end, so the body starts after
        // the line break, and what follows it is too short.
        writeBytes("oddheader.pgm", "P5\n64 48\n255;" + std::string(100, '\x80') + "\n" + std::string(3000, 'x')),
        // Sizes that no frame has; the pixel count would overflow 32 bits.
        writeBytes("huge.pgm", "P5\n100000 100000\n255\n" + std::string(100, '\0')),
        writeBytes("wrap.pgm", "P5\n65536 65537\n255\n" + std::string(100, '\0')),
        writeBytes("zero.pgm", "P5\n0 0\n255\n"),
        writeBytes("badmax.pgm", "P5\n4 4\n0\n" + std::string(16, '\0')),
        // No netpbm signature under a netpbm name: the library's reader
        // would never return.
        writeBytes("garbage.ppm", std::string("\xbaP5\n655s6\xde" "65537\n\n") + std::string(10, '\0') + " "),
        writeBytes("text.PGM", "this is no picture at all\n"),
        // A header the library's netpbm reader took differently, and then
        // freed its pixels twice.
        // A JPEG segment running past the end: the library's reader would
        // never return.
        writeBytes("segment.jpg", std::string("\xff\xd8\xff\xe0\x62\x0f\xc2\x97\xc1\x19\x89\xfa", 12)),
        writeBytes("signature.png", std::string("\x89PNG\r\n\x1a\nv\0s\x10tEAU\x01g\0\0\x0f\xa8", 22)),
        writeBytes("odd.ppm", "P6\n1\x1c" "1\n255ppm3\n11111111\x87" "4\n"),
    };
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        std::string error;
        EXPECT_TRUE(decodeFrameFile(file, &error).empty());
        EXPECT_NE(error.find(file), std::string::npos) << error;
        EXPECT_GT(error.size(), file.size() + 2);
    }

    // A damaged but decodable JPEG still yields a frame of the right size.
    std::string damaged = jpegBytes;
    damaged[damaged.size() / 2] = static_cast<char>(damaged[damaged.size() / 2] ^ 0x5a);
    expectFrameImage(decodeFrameFile(writeBytes("damaged.jpg", damaged)), 64, 48);
    // So does one with stray bytes between its segments.
    const std::size_t second = 4 + ((uint8_t(jpegBytes[4]) << 8) | uint8_t(jpegBytes[5]));
    const std::string padded = jpegBytes.substr(0, second) + std::string(3, '\0') + jpegBytes.substr(second);
    expectFrameImage(decodeFrameFile(writeBytes("padded.jpg", padded)), 64, 48);

    // A failure leaves nothing behind for the next decode.
    const cv::Mat after = decodeFrameFile(writeImage("after.pgm", ramp));
    expectFrameImage(after, 64, 48);
    EXPECT_EQ(cv::norm(after, ramp, cv::NORM_INF), 0.0);
}

// Headers of formats the image library has readers for but that are not
// decoded, each claiming a picture whose byte count wraps in 32 bits.
std::vector<std::pair<std::string, std::string>> otherFormatHeaders() {
    auto le16 = [](unsigned v) { return std::string{char(v & 255), char(v >> 8)}; };
    auto be16 = [](unsigned v) { return std::string{char(v >> 8), char(v & 255)}; };
    auto be32 = [](uint32_t v) { return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; };
    const std::string body(2000, '\x80');
    return {
        {"tga", std::string{0, 0, 2} + std::string(9, '\0') + le16(32768) + le16(32769) + "\x20\x08" + body},
        {"tga 64k", std::string{0, 0, 2} + std::string(9, '\0') + le16(65535) + le16(65535) + "\x20\x08" + body},
        {"sgi", be16(474) + "\x00\x01" + be16(3) + be16(65535) + be16(65535) + be16(4) + body},
        {"psd", "8BPS" + be16(1) + std::string(6, '\0') + be16(4) + be32(65535) + be32(65535) + be16(8) + be16(3) + body},
        {"pcx", std::string{10, 5, 1, 8, 0, 0, 0, 0} + le16(65534) + le16(65534) + body},
    };
}

TEST_F(FrameDecoderTest, OnlyCheckedFormatsAreDecodedWhateverTheName) {
    for (const auto& [format, bytes] : otherFormatHeaders()) {
        for (const std::string name : {"frame0001", "shot.tga", "shot.TGA", "shot.sgi", "shot.psd", "shot.pcx",
                                       "shot.jpg", "shot.png", "shot.pgm"}) {
            SCOPED_TRACE(format + " as " + name);
            std::string error;
            EXPECT_TRUE(decodeFrameFile(writeBytes(name, bytes), &error).empty());
            EXPECT_EQ(error, path(name) + ": unsupported image format");
        }
    }
    // A picture of an accepted format is decoded as what its bytes are.
    const cv::Mat ramp = rampImage(40, 30);
    std::vector<uint8_t> encoded;
    ASSERT_TRUE(cv::imencode(".png", ramp, encoded));
    for (const std::string name : {"frame0001", "shot.tga", "shot.jpg", "shot.pgm"}) {
        SCOPED_TRACE(name);
        const cv::Mat frame = decodeFrameFile(writeBytes(name, std::string(encoded.begin(), encoded.end())));
        expectFrameImage(frame, 40, 30);
        if (!frame.empty()) EXPECT_EQ(cv::norm(frame, ramp, cv::NORM_INF), 0.0);
    }
}

TEST_F(FrameDecoderTest, DecodedBytesAboveTheBudgetAndCutJpegsAreRefusedFirst) {
    auto be32 = [](uint32_t v) { return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; };
    // A 16-bit RGBA PNG of 10000 x 10000 (800 MB decoded): refused on its
    // header, before its data is inflated.
    const std::string deep = std::string("\x89PNG\r\n\x1a\n", 8) + be32(13) + "IHDR" + be32(10000) + be32(10000) +
                             std::string{16, 6, 0, 0, 0} + be32(0);
    std::string error;
    EXPECT_TRUE(decodeFrameFile(writeBytes("deep.png", deep), &error).empty());
    EXPECT_NE(error.find("image too large (10000 x 10000 pixels of 8 bytes, 800 MB decoded"), std::string::npos)
        << error;

    // A JPEG without its end: cut short, not a frame with rows made up.
    std::vector<uint8_t> encoded;
    ASSERT_TRUE(cv::imencode(".jpg", rampImage(64, 48), encoded));
    const std::string cut(encoded.begin(), encoded.end() - 40);
    EXPECT_TRUE(decodeFrameFile(writeBytes("cut.jpg", cut), &error).empty());
    EXPECT_EQ(error, path("cut.jpg") + ": truncated JPEG");
}

// A picture with edges, gradients and noise in every channel, so that every
// stage of the JPEG decoding (sampling, colour conversion, rounding) shows.
cv::Mat photoLike(int width, int height, int channels) {
    cv::Mat image(height, width, CV_8UC(channels));
    cv::RNG rng(3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c) {
                const double v = 128 + 90 * std::sin(0.02 * (c + 1) * x + 0.013 * y) +
                                 ((x / 13 + y / 11) % 2 ? 30 : -30) + rng.gaussian(8);
                image.ptr<uint8_t>(y)[x * channels + c] = cv::saturate_cast<uint8_t>(v);
            }
    return image;
}

TEST_F(FrameDecoderTest, JpegsDecodeToTheImageLibrarysPixelsSoundOrDamaged) {
    // Sound JPEGs are decoded without the image library; every one must give
    // exactly the library's pixels, and every damaged one the library's
    // verdict, whichever way it ends up decoded.
    struct Kind {
        int width, height, channels;
        std::vector<int> params;
    };
    const std::vector<Kind> kinds = {
        {320, 240, 1, {}},
        {641, 479, 3, {}},
        {333, 257, 3, {cv::IMWRITE_JPEG_QUALITY, 100, cv::IMWRITE_JPEG_PROGRESSIVE, 1}},
        {97, 61, 3, {cv::IMWRITE_JPEG_QUALITY, 60, cv::IMWRITE_JPEG_RST_INTERVAL, 3, cv::IMWRITE_JPEG_OPTIMIZE, 1}},
        {250, 131, 1, {cv::IMWRITE_JPEG_PROGRESSIVE, 1}},
    };
    int decodedDirectly = 0;
    for (std::size_t k = 0; k < kinds.size(); ++k) {
        const Kind& kind = kinds[k];
        std::vector<uint8_t> encoded;
        ASSERT_TRUE(cv::imencode(".jpg", photoLike(kind.width, kind.height, kind.channels), encoded, kind.params));
        const std::string sound(encoded.begin(), encoded.end());
        std::string flipped = sound, cut = sound, tail = sound;
        flipped[sound.size() / 2] = static_cast<char>(flipped[sound.size() / 2] ^ 0x5a);
        cut.resize(sound.size() * 2 / 3);
        tail += "bytes after the end";
        for (const auto& [name, bytes] : std::vector<std::pair<std::string, std::string>>{
                 {"sound", sound}, {"flipped", flipped}, {"cut", cut}, {"tail", tail}}) {
            SCOPED_TRACE(std::to_string(k) + " " + name);
            const std::string file = writeBytes("kind" + std::to_string(k) + name + ".jpg", bytes);
            std::string error, libraryError;
            const cv::Mat frame = decodeFrameFile(file, &error);
            const cv::Mat library = decodeFrameFileWithImageLibrary(file, &libraryError);
            EXPECT_EQ(error, libraryError);
            ASSERT_EQ(frame.empty(), library.empty());
            if (name == "sound") {
                expectFrameImage(frame, kind.width, kind.height);
                if (!decodeSoundJpeg(file, FRAME_MAX_SIDE, FRAME_MAX_PIXELS).empty()) ++decodedDirectly;
            }
            if (!frame.empty()) {
                ASSERT_EQ(frame.size(), library.size());
                EXPECT_EQ(frame.step[0], library.step[0]);
                EXPECT_EQ(cv::countNonZero(frame != library), 0);
            }
        }
    }
    EXPECT_EQ(decodedDirectly, static_cast<int>(kinds.size()));
}

TEST_F(FrameDecoderTest, ConcurrentDecodesGiveTheSameFrames) {
    const cv::Mat ramp = rampImage(161, 120);
    const std::string grey = writeImage("ramp.pgm", ramp);
    const cv::Mat colourSource(120, 161, CV_8UC3, cv::Scalar(10, 120, 240));
    const std::string colour = writeImage("colour.png", colourSource);
    const cv::Mat colourOnce = decodeFrameFile(colour);
    ASSERT_FALSE(colourOnce.empty());
    const std::string jpeg = writeImage("photo.jpg", photoLike(161, 120, 3));
    const cv::Mat jpegOnce = decodeFrameFileWithImageLibrary(jpeg);
    ASSERT_FALSE(jpegOnce.empty());

    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i) {
                const cv::Mat a = decodeFrameFile(grey);
                const cv::Mat b = decodeFrameFile(colour);
                const cv::Mat c = decodeFrameFile(jpeg);
                if (a.empty() || cv::norm(a, ramp, cv::NORM_INF) != 0.0) ++mismatches[t];
                if (b.empty() || cv::norm(b, colourOnce, cv::NORM_INF) != 0.0) ++mismatches[t];
                if (c.empty() || cv::norm(c, jpegOnce, cv::NORM_INF) != 0.0) ++mismatches[t];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int m : mismatches) EXPECT_EQ(m, 0);
}

}  // namespace
