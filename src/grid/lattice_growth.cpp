#include "grid/lattice_growth.h"

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <optional>
#include <set>
#include <utility>

#include "grid/corner_refinement.h"
#include "grid/grid_labelling.h"
#include "grid/marker_cells.h"

namespace {

// The board's corners: those of the labelled window's cells (cell (X, Y)
// spans pattern [X - 1, X] x [Y - 1, Y]).
constexpr int kFirstX = kWindowMinX - 1;
constexpr int kLastX = kWindowMaxX;
constexpr int kFirstY = kWindowMinY - 1;
constexpr int kLastY = kWindowMaxY;

using Label = std::pair<int, int>;

bool besideBlock(const std::set<Label>& labelled, int x, int y) {
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            if ((dx != 0 || dy != 0) && labelled.count({x + dx, y + dy}) > 0) return true;
    return false;
}

// Where the labelled neighbours within kNeighbourReach put corner (x, y)
// through the plane's perspective map fitted to them: beyond the edge of
// the labelled block the polynomial fits extrapolate the cells'
// foreshortening poorly (pixels off, a cell further out), the map follows
// it. Invalid with fewer than kMinHomographyNeighbours or with the
// neighbours in one row or column.
struct Prediction {
    bool valid = false;
    cv::Point2d at;
    double tolerance = 0.0;
};

Prediction perspectivePrediction(const std::vector<LabelledPoint>& block, int x, int y) {
    Prediction result;
    std::vector<cv::Point2f> pattern, image;
    std::set<int> columns, rows;
    for (const LabelledPoint& q : block) {
        if (std::abs(q.x - x) > kNeighbourReach || std::abs(q.y - y) > kNeighbourReach) continue;
        pattern.emplace_back(static_cast<float>(q.x - x), static_cast<float>(q.y - y));
        image.push_back(q.at);
        columns.insert(q.x);
        rows.insert(q.y);
    }
    if (pattern.size() < static_cast<size_t>(kMinHomographyNeighbours) || columns.size() < 2 || rows.size() < 2)
        return result;
    const cv::Mat h = cv::findHomography(pattern, image, 0);
    if (h.empty()) return result;
    auto map = [&](const cv::Point2f& p) {
        const double w = h.at<double>(2, 0) * p.x + h.at<double>(2, 1) * p.y + h.at<double>(2, 2);
        return cv::Point2d((h.at<double>(0, 0) * p.x + h.at<double>(0, 1) * p.y + h.at<double>(0, 2)) / w,
                           (h.at<double>(1, 0) * p.x + h.at<double>(1, 1) * p.y + h.at<double>(1, 2)) / w);
    };
    double squares = 0.0;
    cv::Matx33d normal = cv::Matx33d::zeros();
    for (size_t k = 0; k < pattern.size(); ++k) {
        const cv::Point2d d = map(pattern[k]) - cv::Point2d(image[k]);
        squares += d.dot(d);
        const cv::Vec3d t(1.0, pattern[k].x, pattern[k].y);
        normal += t * t.t();
    }
    // The spread about the map, widened as point_check widens an
    // extrapolated prediction (the leverage of an affine map at the corner).
    const double spread = std::sqrt(squares / static_cast<double>(pattern.size() - 4));
    const cv::Vec3d solved = normal.solve(cv::Vec3d(1.0, 0.0, 0.0), cv::DECOMP_SVD);
    const double leverage = std::max(solved[0], 0.0);
    result.at = map({0.0f, 0.0f});
    result.tolerance = std::min(kMaxTolerancePixels,
                                std::max(kFitTolerancePixels, kFitSpread * spread) * std::sqrt(1.0 + leverage));
    result.valid = std::isfinite(result.at.x) && std::isfinite(result.at.y);
    return result;
}

// The light on the labelled block: the median levels of its saddles. A
// corner in the same light was seen by the corner search as well as the
// block's, and what the search made of it stands.
struct BlockLight {
    double margin = 0.0;
    double mean = 0.0;
};

BlockLight blockLight(const cv::Mat& image, const std::vector<LabelledPoint>& points) {
    std::vector<double> margins, means;
    const std::vector<bool> all(points.size(), true);
    for (size_t k = 0; k < points.size(); ++k) {
        const LatticeFit fit = fitFromNeighbours(points, all, k);
        if (!fit.valid) continue;
        const SaddleLevels levels = saddleLevels(image, points[k], fit.jacobian);
        if (!std::isfinite(levels.margin) || !std::isfinite(levels.mean)) continue;
        margins.push_back(levels.margin);
        means.push_back(levels.mean);
    }
    if (margins.empty()) return {};
    auto median = [](std::vector<double>& v) {
        std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
        return v[v.size() / 2];
    };
    return {median(margins), median(means)};
}

}  // namespace

std::vector<LabelledPoint> grownPoints(const cv::Mat& image, const std::vector<LabelledPoint>& points) {
    std::vector<LabelledPoint> grown = points;
    if (image.empty() || image.type() != CV_8UC1 || points.size() < static_cast<size_t>(kMinGrowthSeed))
        return grown;
    std::set<Label> labelled, refused;
    for (const LabelledPoint& p : points) labelled.insert({p.x, p.y});
    bool open = false;
    for (int y = kFirstY; y <= kLastY && !open; ++y)
        for (int x = kFirstX; x <= kLastX && !open; ++x)
            open = labelled.count({x, y}) == 0 && besideBlock(labelled, x, y);
    if (!open) return grown;  // the whole board, or nothing beside the block
    const BlockLight light = blockLight(image, points);
    if (!(light.margin > 0.0 && light.mean > 0.0)) return grown;

    for (;;) {
        const size_t block = grown.size();
        std::vector<LabelledPoint> trial = grown;
        for (int y = kFirstY; y <= kLastY; ++y) {
            for (int x = kFirstX; x <= kLastX; ++x) {
                if (labelled.count({x, y}) > 0 || refused.count({x, y}) > 0 || !besideBlock(labelled, x, y)) continue;
                std::vector<LabelledPoint> with = grown;
                with.push_back({x, y, {}});
                const LatticeFit fit = fitFromNeighbours(with, std::vector<bool>(with.size(), true), block);
                const Prediction perspective = perspectivePrediction(grown, x, y);
                if (!fit.valid || !perspective.valid || !(fit.cellPixels < image.cols + image.rows)) continue;
                const int wide = refinementHalfWindow(x, y, fit.cellPixels);
                const int narrow = std::max(kMinHalfWindow, static_cast<int>(std::lround(kNarrowShare * wide)));
                // A prediction off the image (or far off, where a map
                // nearly degenerate sends it) is not sought.
                if (!refinementWindowInside(perspective.at.x, perspective.at.y, image.cols, image.rows, wide)) continue;
                const cv::Point2f start(static_cast<float>(perspective.at.x), static_cast<float>(perspective.at.y));
                const SaddleLevels there = saddleLevels(image, {x, y, start}, fit.jacobian);
                const bool otherLight = !(std::abs(there.margin / light.margin - 1.0) <= kLightChange &&
                                          std::abs(there.mean / light.mean - 1.0) <= kLightChange);
                if (!otherLight) continue;
                // The corner is sought only where the windows roughly agree.
                // Beside a glare (brighter than the block) its position is
                // the narrowed one: the glare's slope of light pulls it in a
                // wide window. In a shadow the noise, twice as strong against
                // the halved contrast, would drive the narrowing instead.
                const cv::Point2f wideAt = refinedCorner(image, start, wide);
                const double agreement = cv::norm(wideAt - refinedCorner(image, start, narrow));
                const std::optional<cv::Point2f> at =
                    there.mean > light.mean ? narrowedCorner(image, start, wide) : std::optional(wideAt);
                if (!at) continue;
                const LabelledPoint p{x, y, *at};
                const double fromMap = std::hypot(p.at.x - perspective.at.x, p.at.y - perspective.at.y);
                const bool saddle = isLabelledSaddle(image, p, fit.jacobian);
                const bool inside = refinementWindowInside(p.at.x, p.at.y, image.cols, image.rows, wide);
                const bool ok = inside && saddle && agreement <= kWindowAgreement && fromMap <= perspective.tolerance;
                if (ok) trial.push_back(p);
            }
        }
        if (trial.size() == block) break;

        // The new corners are checked with the block: a new corner that
        // fails, or near which a point of the block now fails, is refused.
        const std::vector<bool> keep = soundPoints(image, trial);
        std::vector<Label> failing;
        for (size_t k = 0; k < block; ++k)
            if (!keep[k]) failing.push_back({trial[k].x, trial[k].y});
        for (size_t k = block; k < trial.size(); ++k) {
            const LabelledPoint& p = trial[k];
            bool spoils = false;
            for (const Label& f : failing)
                spoils = spoils || (std::abs(f.first - p.x) <= kNeighbourReach && std::abs(f.second - p.y) <= kNeighbourReach);
            if (!keep[k] || spoils) {
                refused.insert({p.x, p.y});
                continue;
            }
            grown.push_back(p);
            labelled.insert({p.x, p.y});
        }
        if (grown.size() == block) break;
    }
    return grown;
}
