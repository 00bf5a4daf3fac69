// Corner detection time on synthetic checkerboard frames (a slightly rotated
// board with anti-aliased edges) of 640 x 480 and 1600 x 1200 pixels, one
// detection per iteration on a freshly allocated record. OpenCV runs
// single-threaded here (cv::setNumThreads(1)) so the figures are comparable.

#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>

#include <cmath>

#include "grid/corner_detection.h"
#include "grid/frame_image.h"
#include "grid/grid_set.h"

namespace {

// A board of `square`-pixel squares turned by 10 degrees, each pixel the mean
// of 4 x 4 samples.
cv::Mat checkerboardFrame(int width, int height, double square) {
    cv::Mat image = makeFrameImage(width, height);
    const double c = std::cos(10.0 * CV_PI / 180.0), s = std::sin(10.0 * CV_PI / 180.0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int bright = 0;
            for (int sy = 0; sy < 4; ++sy) {
                for (int sx = 0; sx < 4; ++sx) {
                    const double u = x - 0.5 + (sx + 0.5) / 4 - width / 2.0;
                    const double v = y - 0.5 + (sy + 0.5) / 4 - height / 2.0;
                    const long long i = static_cast<long long>(std::floor((c * u + s * v) / square));
                    const long long j = static_cast<long long>(std::floor((-s * u + c * v) / square));
                    bright += ((i + j) & 1) == 0 ? 1 : 0;
                }
            }
            image.at<unsigned char>(y, x) = static_cast<unsigned char>(30 + 195 * bright / 16);
        }
    }
    return image;
}

void BM_detectCorners(benchmark::State& state) {
    cv::setNumThreads(1);
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const cv::Mat frame = checkerboardFrame(width, height, width / 16.0);
    int found = 0;
    for (auto _ : state) {
        GridSet set;
        set.allocate(1, 200);
        detectCorners(set, 0, frame);
        found = set.getPointCount(0);
        benchmark::DoNotOptimize(found);
    }
    state.counters["corners"] = found;
}
BENCHMARK(BM_detectCorners)->Args({640, 480})->Args({1600, 1200})->Unit(benchmark::kMillisecond);

}  // namespace
BENCHMARK_MAIN();
