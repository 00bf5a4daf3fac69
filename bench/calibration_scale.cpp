// The intrinsic calibration's two solvers side by side as the view count
// grows: the vision library's calibrateCamera (one dense system over all
// views) and the sparse solver (poses eliminated per view), on the same
// synthetic correspondences: the board's 110 corners projected by the
// renderer's default 640 x 480 camera from well-spread random poses, with
// Gaussian noise added to every image coordinate.
//
// Per view count it prints both solvers' times, the speed-up, and how far the
// sparse solver's result lies from the library's (intrinsics, per-view RMS
// errors, standard deviations) and from the true camera. The library runs
// only up to --library-max-views views and while its time, extrapolated with
// the cube of the view count from its last run, stays within
// --library-budget seconds.

#include <CLI/CLI.hpp>

#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "calibration/camera_calibration.h"
#include "pattern/renderer.h"

namespace {

namespace vp = vexel::pattern;

struct Options {
    std::vector<int> views{20, 50, 100, 200, 400, 1000};
    double noise = 0.05;
    int libraryMaxViews = 200;
    double libraryBudget = 300.0;
    int repeat = 3;
    int threads = 1;
    unsigned seed = 11;
    bool requireAgreement = false;
};

struct Timed {
    IntrinsicResult result;
    double wall = 0;  // seconds
    double cpu = 0;   // seconds of the whole process
};

double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

Timed timeCalibration(const CalibrationViews& views, cv::Size size, const IntrinsicOptions& options) {
    Timed timed;
    double cpu0 = processCpuSeconds();
    auto wall0 = std::chrono::steady_clock::now();
    timed.result = calibrateIntrinsic(views, size, options);
    timed.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    timed.cpu = processCpuSeconds() - cpu0;
    return timed;
}

// The fastest of `repeat` runs (the result is the same every time).
Timed bestOf(int repeat, const CalibrationViews& views, cv::Size size, const IntrinsicOptions& options) {
    Timed best = timeCalibration(views, size, options);
    for (int i = 1; i < repeat; ++i) {
        Timed next = timeCalibration(views, size, options);
        if (next.cpu < best.cpu) best = next;
    }
    return best;
}

CalibrationViews syntheticViews(const vp::Camera& camera, int count, double noise, unsigned seed) {
    CalibrationViews views;
    vp::PortableRandom random(seed + 1);
    std::vector<vp::ViewPose> poses = vp::randomPoses(camera, count, seed);
    for (int v = 0; v < count; ++v) {
        views.frames.push_back(v);
        views.imagePoints.emplace_back();
        views.objectPoints.emplace_back();
        for (const vp::CornerTruth& c : vp::trueCorners(camera, poses[v])) {
            views.imagePoints.back().emplace_back(static_cast<float>(c.imageX + noise * random.normal()),
                                                  static_cast<float>(c.imageY + noise * random.normal()));
            views.objectPoints.back().emplace_back(static_cast<float>(c.patternX), static_cast<float>(c.patternY),
                                                   0.0f);
        }
    }
    return views;
}

CalibrationViews firstViews(const CalibrationViews& all, int count) {
    CalibrationViews views;
    views.frames.assign(all.frames.begin(), all.frames.begin() + count);
    views.imagePoints.assign(all.imagePoints.begin(), all.imagePoints.begin() + count);
    views.objectPoints.assign(all.objectPoints.begin(), all.objectPoints.begin() + count);
    return views;
}

struct Agreement {
    double focal = 0;      // largest relative difference of fx, fy, cx, cy
    double distortion = 0; // largest absolute difference of k1, k2, p1, p2
    double perView = 0;    // largest difference of a view's RMS error, pixels
    double deviation = 0;  // largest relative difference of a standard deviation

    bool withinTolerances() const {
        return focal <= 1e-6 && distortion <= 1e-7 && perView <= 1e-6 && deviation <= 0.01;
    }
};

Agreement compare(const IntrinsicResult& a, const IntrinsicResult& b) {
    Agreement g;
    for (std::size_t i : {0u, 2u, 4u, 5u})
        g.focal = std::max(g.focal, std::abs(b.record.camera(i) - a.record.camera(i)) / std::abs(a.record.camera(i)));
    for (std::size_t i = 0; i < 4; ++i)
        g.distortion = std::max(g.distortion, std::abs(b.record.distortion(i) - a.record.distortion(i)));
    for (std::size_t v = 0; v < a.perViewErrors.size() && v < b.perViewErrors.size(); ++v)
        g.perView = std::max(g.perView, std::abs(b.perViewErrors[v] - a.perViewErrors[v]));
    for (std::size_t i = 0; i < 8; ++i)
        g.deviation =
            std::max(g.deviation, std::abs(b.stdDeviations[i] - a.stdDeviations[i]) / std::abs(a.stdDeviations[i]));
    return g;
}

// Largest relative error of fx, fy, cx, cy against the true camera.
double truthError(const IntrinsicResult& r, const vp::Camera& camera) {
    const double truth[4] = {camera.fx, camera.cx, camera.fy, camera.cy};
    const std::size_t index[4] = {0, 2, 4, 5};
    double worst = 0;
    for (int i = 0; i < 4; ++i) worst = std::max(worst, std::abs(r.record.camera(index[i]) - truth[i]) / truth[i]);
    return worst;
}

int run(const Options& o) {
    cv::setNumThreads(o.threads);
    vp::Camera camera;
    const cv::Size size(camera.width, camera.height);
    const int largest = *std::max_element(o.views.begin(), o.views.end());
    CalibrationViews all = syntheticViews(camera, largest, o.noise, o.seed);

    std::printf("calibration_scale: %d corners per view, noise %.3g px, %d x %d camera, OpenCV %s with %d thread(s), "
                "sparse solver with %d thread(s); times are process CPU seconds (wall seconds in brackets)\n",
                static_cast<int>(all.imagePoints.front().size()), o.noise, size.width, size.height, CV_VERSION,
                cv::getNumThreads(), o.threads);
    std::printf("%6s %8s | %18s | %18s | %8s | %9s %9s %9s %9s | %9s\n", "views", "points", "library s",
                "sparse s", "speed-up", "d f,c rel", "d k abs", "d view px", "d sd rel", "truth rel");

    IntrinsicOptions library;
    library.solver = IntrinsicSolver::Library;
    IntrinsicOptions sparse;
    sparse.solver = IntrinsicSolver::Sparse;
    sparse.sparseThreads = o.threads;

    bool agreed = true;
    double lastLibrary = 0;
    int lastLibraryViews = 0;
    for (int n : o.views) {
        CalibrationViews views = firstViews(all, n);
        Timed s = bestOf(o.repeat, views, size, sparse);
        char libraryText[64] = "-", speedText[32] = "-";
        char agreementText[128];
        std::snprintf(agreementText, sizeof agreementText, "%9s %9s %9s %9s", "-", "-", "-", "-");

        double predicted = lastLibraryViews > 0 ? lastLibrary * std::pow(double(n) / lastLibraryViews, 3) : 0;
        if (n <= o.libraryMaxViews && predicted <= o.libraryBudget) {
            Timed l = timeCalibration(views, size, library);
            lastLibrary = l.cpu;
            lastLibraryViews = n;
            std::snprintf(libraryText, sizeof libraryText, "%8.3f (%7.3f)", l.cpu, l.wall);
            std::snprintf(speedText, sizeof speedText, "%7.1fx", l.cpu / s.cpu);
            Agreement g = compare(l.result, s.result);
            agreed = agreed && g.withinTolerances();
            std::snprintf(agreementText, sizeof agreementText, "%9.2e %9.2e %9.2e %9.2e", g.focal, g.distortion,
                          g.perView, g.deviation);
        }
        char sparseText[64];
        std::snprintf(sparseText, sizeof sparseText, "%8.3f (%7.3f)", s.cpu, s.wall);
        std::printf("%6d %8d | %18s | %18s | %8s | %s | %9.2e\n", n, views.totalPoints(), libraryText, sparseText,
                    speedText, agreementText, truthError(s.result, camera));
        std::fflush(stdout);
    }
    std::printf("agreement within 1e-6 (f, c), 1e-7 (k, p), 1e-6 px (per view), 1 %% (deviations): %s\n",
                agreed ? "yes" : "no");
    return (o.requireAgreement && !agreed) ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    CLI::App app{"Times the library's and the sparse intrinsic solver side by side as the view count grows"};
    app.add_option("--views", o.views, "View counts, comma separated (default 20,50,100,200,400,1000)")
        ->delimiter(',')
        ->check(CLI::Range(3, 100000));
    app.add_option("--noise", o.noise, "Noise of the image coordinates in pixels (default 0.05)")
        ->check(CLI::Range(0.0, 10.0));
    app.add_option("--library-max-views", o.libraryMaxViews, "Run the library's solver up to this many views (200)");
    app.add_option("--library-budget", o.libraryBudget,
                   "Skip the library's solver once its extrapolated time exceeds this many seconds (300)");
    app.add_option("--repeat", o.repeat, "Runs of the sparse solver per count, the fastest counts (3)")
        ->check(CLI::Range(1, 100));
    app.add_option("--threads", o.threads, "Threads of the vision library and the sparse solver (1)")
        ->check(CLI::Range(1, 64));
    app.add_option("--seed", o.seed, "Seed of the poses and the noise (11)");
    app.add_flag("--require-agreement", o.requireAgreement,
                 "Exit with status 1 when the solvers disagree beyond the tolerances");
    CLI11_PARSE(app, argc, argv);
    try {
        return run(o);
    } catch (const cv::Exception& e) {
        std::fprintf(stderr, "calibration_scale: %s\n", e.what());
        return 2;
    }
}
