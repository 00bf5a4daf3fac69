// Rendering one synthetic view of the board (640 x 480, default camera).
// OpenCV's parallel_for_ spreads the rows over its worker threads; the
// thread count is reported as a counter.

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>

#include "pattern/renderer.h"

namespace {

void BM_RenderView(benchmark::State& state) {
    using namespace vexel::pattern;
    const Camera camera;
    const std::vector<ViewPose> poses = randomPoses(camera, 8, 1);
    RenderOptions options;
    options.blurSigma = 0.6;
    options.noiseSigma = 1.5;
    size_t k = 0;
    for (auto _ : state) {
        RenderedView view = renderView(camera, poses[k++ % poses.size()], options);
        benchmark::DoNotOptimize(view.image.data);
    }
    state.counters["threads"] = cv::getNumThreads();
}
BENCHMARK(BM_RenderView)->Unit(benchmark::kMillisecond);

void BM_RandomPoses(benchmark::State& state) {
    const vexel::pattern::Camera camera;
    uint32_t seed = 1;
    for (auto _ : state) benchmark::DoNotOptimize(vexel::pattern::randomPoses(camera, 10, seed++));
}
BENCHMARK(BM_RandomPoses)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
