// Triangulation time for a frame-sized corner set: random points in a
// 640 x 480 image, the same points on every iteration. Single-threaded.

#include <benchmark/benchmark.h>

#include <ostream>
#include <random>
#include <streambuf>

#include "geomlib/g_node.h"
#include "geomlib/g_part.h"
#include "grid/nnsort.h"

namespace {

// Swallows the triangulation's diagnostic lines.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
};

void BM_nnsort(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    std::mt19937 gen(42);
    std::vector<g_vector> points;
    for (int i = 0; i < n; ++i)
        points.emplace_back(static_cast<float>(gen() % 640000u / 1000.0), static_cast<float>(gen() % 480000u / 1000.0),
                            0.0);
    NullBuffer buffer;
    std::ostream sink(&buffer);
    for (auto _ : state) {
        g_part part;
        for (const g_vector& p : points) part.addNode(new g_node(p));
        nnsort(part, 2, sink);
        benchmark::DoNotOptimize(part.elements().numberOfItems());
    }
}
BENCHMARK(BM_nnsort)->Arg(50)->Arg(200)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
