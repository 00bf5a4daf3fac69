// Checks the projection uncertainty against what it predicts: the spread of
// the projection over many calibrations of re-noised correspondences of the
// same views.
//
// For each set of views (the board's true corners projected by the
// renderer's default 640 x 480 camera, with Gaussian noise added) it
// calibrates once and predicts the uncertainty at a few image points (the
// centre, the corners, the middles of the edges and points between). Then,
// --runs times, it takes the first calibration's reprojections, adds fresh
// noise of the residual deviation that calibration estimated, calibrates
// again and projects the same points as the prediction does: each point
// sits on its pixel's ray at the boards' typical depth, held fixed relative
// to the boards (carried into every view's pattern frame with the first
// calibration's pose and back with the new one, the results averaged). The
// standard deviation of those projections in their worst direction is set
// beside the prediction.

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "calibration/calibration_coverage.h"
#include "calibration/projection_uncertainty.h"
#include "support/synthetic_views.h"

namespace {

namespace vp = vexel::pattern;

struct Options {
    int runs = 50;
    double noise = 0.3;
    double tolerance = 0.2;
    std::vector<unsigned> seeds{1};
    bool require = false;
};

struct Set {
    const char* name;
    std::vector<vp::ViewPose> poses;
};

double worstDeviation(const std::vector<cv::Point2d>& points) {
    cv::Point2d mean;
    for (const cv::Point2d& p : points) mean += p;
    mean *= 1.0 / static_cast<double>(points.size());
    double xx = 0, xy = 0, yy = 0;
    for (const cv::Point2d& p : points) {
        const cv::Point2d d = p - mean;
        xx += d.x * d.x;
        xy += d.x * d.y;
        yy += d.y * d.y;
    }
    const double n = static_cast<double>(points.size() - 1);
    xx /= n, xy /= n, yy /= n;
    const double half = (xx - yy) / 2;
    return std::sqrt((xx + yy) / 2 + std::sqrt(half * half + xy * xy));
}

struct Tally {
    int points = 0;
    int within = 0;
    double worst = 0;  // the largest |predicted / measured - 1|
};

// Adds the set's points, re-noised with `seed`, to the tally.
void checkSet(const Set& set, const Options& options, unsigned seed, Tally& tally) {
    const vp::Camera camera;
    const cv::Size size(camera.width, camera.height);
    const CalibrationViews views = vexel::test::syntheticViews(camera, set.poses, options.noise, 17);
    const IntrinsicResult first = calibrateIntrinsic(views, size);
    const CameraModel model(first.record);
    ParameterCovariance covariance;
    if (!covariance.compute(model, views, first.poses)) {
        std::printf("%s: the covariance could not be computed\n", set.name);
        tally.worst = HUGE_VAL;
        return;
    }
    const double depth = coverageFigures(views, first.poses, size).typicalDepth;
    const ProjectionUncertainty uncertainty(model, covariance, first.poses, depth);

    std::vector<cv::Point2d> pixels;
    for (double fy : {0.0, 0.25, 0.5, 0.75, 1.0})
        for (double fx : {0.0, 0.25, 0.5, 0.75, 1.0}) pixels.emplace_back(fx * (size.width - 1), fy * (size.height - 1));
    std::vector<cv::Point3d> points;  // on each pixel's ray at the typical depth, camera frame
    for (const cv::Point2d& q : pixels) {
        cv::Point2d ray;
        model.unproject(q, ray);
        points.emplace_back(ray.x * depth, ray.y * depth, depth);
    }

    // The first calibration's reprojections, to be re-noised.
    CalibrationViews exact = views;
    for (std::size_t v = 0; v < views.imagePoints.size(); ++v)
        for (std::size_t i = 0; i < views.imagePoints[v].size(); ++i) {
            const cv::Point3f& o = views.objectPoints[v][i];
            const cv::Point2d q = model.project(first.poses[v], cv::Point3d(o.x, o.y, o.z));
            exact.imagePoints[v][i] = cv::Point2f(static_cast<float>(q.x), static_cast<float>(q.y));
        }
    const double sigma = std::sqrt(covariance.residualVariance());
    vp::PortableRandom random(seed);
    std::vector<std::vector<cv::Point2d>> projections(points.size());
    for (int run = 0; run < options.runs; ++run) {
        CalibrationViews noisy = exact;
        for (auto& view : noisy.imagePoints)
            for (cv::Point2f& p : view) {
                p.x += static_cast<float>(sigma * random.normal());
                p.y += static_cast<float>(sigma * random.normal());
            }
        const IntrinsicResult again = calibrateIntrinsic(noisy, size);
        const CameraModel moved(again.record);
        for (std::size_t k = 0; k < points.size(); ++k) {
            cv::Point3d mean;
            for (std::size_t v = 0; v < first.poses.size(); ++v)
                mean += again.poses[v].toCamera(first.poses[v].toPattern(points[k]));
            mean *= 1.0 / static_cast<double>(first.poses.size());
            projections[k].push_back(moved.project(mean));
        }
    }

    std::printf("\n%s: %d views, noise %.2f px (estimated %.3f), depth %.1f cells, %d runs, seed %u\n", set.name,
                views.viewCount(), options.noise, sigma, depth, options.runs, seed);
    std::printf("%8s %8s %12s %12s %8s\n", "x", "y", "predicted", "measured", "ratio");
    std::vector<double> ratios;
    for (std::size_t k = 0; k < pixels.size(); ++k) {
        const double predicted = uncertainty.at(pixels[k]);
        const double measured = worstDeviation(projections[k]);
        const double ratio = predicted / measured;
        ratios.push_back(ratio);
        tally.worst = std::max(tally.worst, std::abs(ratio - 1));
        std::printf("%8.1f %8.1f %12.4f %12.4f %8.3f\n", pixels[k].x, pixels[k].y, predicted, measured, ratio);
    }
    std::sort(ratios.begin(), ratios.end());
    const int within = static_cast<int>(std::count_if(ratios.begin(), ratios.end(), [&](double r) {
        return std::abs(r - 1) <= options.tolerance;
    }));
    std::printf("%s: predicted / measured from %.3f to %.3f, median %.3f; %d of %zu points within %.0f %%\n",
                set.name, ratios.front(), ratios.back(), ratios[ratios.size() / 2], within, ratios.size(),
                100 * options.tolerance);
    tally.points += static_cast<int>(ratios.size());
    tally.within += within;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    CLI::App app("Projection uncertainty against the spread of re-noised calibrations");
    app.add_option("--runs", options.runs, "Calibrations of re-noised correspondences per set")->check(CLI::Range(3, 100000));
    app.add_option("--noise", options.noise, "Noise of the first correspondences, pixels per coordinate");
    app.add_option("--seeds", options.seeds, "Seeds of the re-noising: every set is checked with each")
        ->delimiter(',');
    app.add_option("--tolerance", options.tolerance, "Largest relative difference allowed with --require");
    app.add_flag("--require", options.require, "Exit with status 1 when a point differs by more than --tolerance");
    CLI11_PARSE(app, argc, argv);

    const vp::Camera camera;
    const std::vector<vp::ViewPose> frontal = vexel::test::frontalPoses(camera, 10);
    std::printf("uncertainty_check: %d runs per set, noise %.2f px\n", options.runs, options.noise);
    const Set sets[] = {
        {"frontal, centred", frontal},
        {"frontal with tilted corner views", vexel::test::withCornerPoses(camera, frontal, 8)},
        {"well spread", vp::randomPoses(camera, 15, 7)},
    };
    Tally tally;
    for (unsigned seed : options.seeds)
        for (const Set& set : sets) checkSet(set, options, seed, tally);
    std::printf("\n%d of %d points within %.0f %% (%.1f %%); the largest deviation %.1f %%\n", tally.within, tally.points,
                100 * options.tolerance, 100.0 * tally.within / std::max(1, tally.points), 100 * tally.worst);
    return options.require && tally.worst > options.tolerance ? 1 : 0;
}
