#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "geomlib/g_element.h"
#include "geomlib/g_node.h"
#include "geomlib/g_part.h"
#include "grid/triangle_pairing.h"

// meanInPolygon sums pixels in integers where that is exact and in doubles
// otherwise; these tests hold both routes to a plain per-pixel double sum
// over axis-aligned rectangles, whose scanned rows and columns are known.
namespace {

struct Image {
    int width, height, bytesPerPixel;
    int64_t stride;
    std::vector<uint8_t> pixels;

    Image(int w, int h, int bpp)
        : width(w), height(h), bytesPerPixel(bpp), stride((int64_t{bpp} * w + 3) / 4 * 4),
          pixels(static_cast<size_t>(stride * h), 0) {}

    void set(int x, int y, uint64_t value) {
        for (int j = 0; j < bytesPerPixel; ++j) pixels[static_cast<size_t>(y * stride + x * bytesPerPixel + j)] =
                                                    static_cast<uint8_t>(value >> (8 * j));
    }
    double value(int x, int y) const {
        double v = 0.0, weight = 1.0;
        for (int j = 0; j < bytesPerPixel; ++j) {
            v += pixels[static_cast<size_t>(y * stride + x * bytesPerPixel + j)] * weight;
            weight *= 256.0;
        }
        return v;
    }
};

uint32_t meanOfRectangle(const Image& image, double left, double top, double right, double bottom) {
    g_part part;
    auto* element = new g_element();
    for (const auto& [x, y] : {std::pair{left, top}, {right, top}, {right, bottom}, {left, bottom}}) {
        auto* n = new g_node(g_vector(x, y, 0.0));
        part.addNode(n);
        element->addNode(n);
    }
    part.addElement(element);
    return meanInPolygon(image.pixels.data(), image.width, image.height, image.bytesPerPixel * 8, element);
}

// The rectangle's interior two pixels in from every side, clamped to the
// image, averaged by adding one double at a time.
uint32_t expectedMean(const Image& image, double left, double top, double right, double bottom) {
    const int y0 = std::max(0, static_cast<int>(std::trunc(top)) + 2);
    const int y1 = std::min(image.height - 1, static_cast<int>(std::trunc(bottom)) - 2);
    const int x0 = std::max(0, static_cast<int>(std::trunc(left)) + 2);
    const int x1 = std::min(image.width - 1, static_cast<int>(std::trunc(right)) - 2);
    double sum = 0.0;
    int64_t count = 0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            sum += image.value(x, y);
            ++count;
        }
    if (count == 0) return 0;
    const double mean = std::trunc(sum / static_cast<double>(count));
    return mean >= 4294967295.0 ? UINT32_MAX : static_cast<uint32_t>(mean);
}

TEST(MeanInPolygonSum, MatchesPerPixelDoubleSumForEveryPixelWidth) {
    std::mt19937_64 random(11);
    for (int bpp = 1; bpp <= 5; ++bpp) {
        Image image(37, 23, bpp);
        const uint64_t limit = bpp >= 8 ? UINT64_MAX : (uint64_t{1} << (8 * bpp)) - 1;
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x) image.set(x, y, random() & limit);
        std::uniform_real_distribution<double> coordinate(-8.0, 45.0);
        for (int trial = 0; trial < 200; ++trial) {
            double a = coordinate(random), b = coordinate(random);
            double c = coordinate(random), d = coordinate(random);
            if (a > b) std::swap(a, b);
            if (c > d) std::swap(c, d);
            ASSERT_EQ(meanOfRectangle(image, a, c, b, d), expectedMean(image, a, c, b, d))
                << "bytes per pixel " << bpp << ", rectangle " << a << " " << c << " " << b << " " << d;
        }
    }
}

TEST(MeanInPolygonSum, TotalsPastExactDoubleRangeRoundAsBefore) {
    // About 2.2 million 4-byte pixels of 2^32 - 3 add up to more than 2^53,
    // where the double sum rounds down far enough to lower the mean by one.
    Image image(1500, 1500, 4);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) image.set(x, y, 0xFFFFFFFDull);
    EXPECT_EQ(expectedMean(image, 0, 0, 1499, 1499), 0xFFFFFFFCu);
    EXPECT_EQ(meanOfRectangle(image, 0, 0, 1499, 1499), 0xFFFFFFFCu);
    // A smaller rectangle stays exact.
    EXPECT_EQ(meanOfRectangle(image, 100, 100, 300, 200), 0xFFFFFFFDu);
}

}  // namespace
