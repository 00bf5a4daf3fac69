#include "document/frame_decoder.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

class FrameDecoderTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vexel_decoder_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    std::string writeBytes(const std::string& name, const std::string& bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
        return path(name);
    }

    std::string writeImage(const std::string& name, const cv::Mat& image) const {
        EXPECT_TRUE(cv::imwrite(path(name), image));
        return path(name);
    }

    fs::path dir_;
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

    // A failure leaves nothing behind for the next decode.
    const cv::Mat after = decodeFrameFile(writeImage("after.pgm", ramp));
    expectFrameImage(after, 64, 48);
    EXPECT_EQ(cv::norm(after, ramp, cv::NORM_INF), 0.0);
}

TEST_F(FrameDecoderTest, ConcurrentDecodesGiveTheSameFrames) {
    const cv::Mat ramp = rampImage(161, 120);
    const std::string grey = writeImage("ramp.pgm", ramp);
    const cv::Mat colourSource(120, 161, CV_8UC3, cv::Scalar(10, 120, 240));
    const std::string colour = writeImage("colour.png", colourSource);
    const cv::Mat colourOnce = decodeFrameFile(colour);
    ASSERT_FALSE(colourOnce.empty());

    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i) {
                const cv::Mat a = decodeFrameFile(grey);
                const cv::Mat b = decodeFrameFile(colour);
                if (a.empty() || cv::norm(a, ramp, cv::NORM_INF) != 0.0) ++mismatches[t];
                if (b.empty() || cv::norm(b, colourOnce, cv::NORM_INF) != 0.0) ++mismatches[t];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int m : mismatches) EXPECT_EQ(m, 0);
}

}  // namespace
