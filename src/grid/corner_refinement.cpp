#include "grid/corner_refinement.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <utility>
#include <vector>

#include "grid/marker_cells.h"
#include "grid/point_check.h"

namespace {

constexpr int kIterations = 40;

// How a refinement sizes its windows and when it stops.
struct Refinement {
    double cellShare;  // window half-size over the corner's shortest side
    double epsilon;    // a step shorter than this (pixels) ends it
    bool narrowing = false;  // narrowed while windows disagree (narrowedCorner)
    int maxHalfWindow = kMaxHalfWindow;
};
constexpr Refinement kFullRefinement{kRefineCellShare, kRefineEpsilon};
constexpr Refinement kRoughRefinement{kRoughCellShare, kRoughEpsilon};
constexpr Refinement kDefaultRefinement{kRefineCellShare, kDefaultEpsilon, false, kDefaultMaxHalfWindow};

// Which of the points marked in `which` lie in light brighter by more than
// kBrighterLight than the median of those points (the mean grey of the
// saddle samples, with the jacobians of `fits`).
std::vector<bool> brighterPoints(const cv::Mat& image, const std::vector<LabelledPoint>& points,
                                 const std::vector<bool>& which, const std::vector<LatticeFit>& fits) {
    std::vector<bool> brighter(points.size(), false);
    if (fits.size() != points.size()) return brighter;
    std::vector<double> means(points.size(), std::numeric_limits<double>::quiet_NaN());
    std::vector<double> sorted;
    for (size_t k = 0; k < points.size(); ++k) {
        if (!which[k] || !fits[k].valid) continue;
        means[k] = saddleLevels(image, points[k], fits[k].jacobian).mean;
        if (std::isfinite(means[k])) sorted.push_back(means[k]);
    }
    if (sorted.empty()) return brighter;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(sorted.size() / 2), sorted.end());
    const double median = sorted[sorted.size() / 2];
    for (size_t k = 0; k < points.size(); ++k) brighter[k] = means[k] > (1.0 + kBrighterLight) * median;
    return brighter;
}

// The largest half-size whose window (and the pixel beyond it) stays inside
// the image with the border margin; below kMinHalfWindow when none does.
int halfWindowInside(double x, double y, int width, int height, int wanted) {
    int h = wanted;
    while (h >= kMinHalfWindow && !refinementWindowInside(x, y, width, height, h)) --h;
    return h;
}

// The shortest distance from each point to its labelled neighbours in rows
// and columns: the side of its cells (0 for a point with none).
std::vector<double> cellSides(const std::vector<LabelledPoint>& points) {
    std::map<std::pair<int, int>, cv::Point2f> at;
    for (const LabelledPoint& p : points) at[{p.x, p.y}] = p.at;
    const int steps[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
    std::vector<double> sides(points.size(), 0.0);
    for (size_t k = 0; k < points.size(); ++k) {
        for (const auto& step : steps) {
            const auto near = at.find({points[k].x + step[0], points[k].y + step[1]});
            if (near == at.end()) continue;
            const double d = cv::norm(near->second - points[k].at);
            if (sides[k] == 0.0 || d < sides[k]) sides[k] = d;
        }
    }
    return sides;
}

// The half-size of the window each point marked in `which` is refined in
// with `how` (0 for a point left as it is: no labelled neighbour, or no
// window of at least kMinHalfWindow inside the image).
std::vector<int> refinementWindows(const cv::Mat& image, const std::vector<LabelledPoint>& points,
                                   const std::vector<double>& sides, const std::vector<bool>& which,
                                   const Refinement& how) {
    std::vector<int> windows(points.size(), 0);
    for (size_t k = 0; k < points.size(); ++k) {
        if (k < which.size() && !which[k]) continue;
        const LabelledPoint& p = points[k];
        if (sides[k] <= 0.0) continue;
        const int wanted = refinementHalfWindow(p.x, p.y, sides[k], how.cellShare, how.maxHalfWindow);
        const int h = halfWindowInside(p.at.x, p.at.y, image.cols, image.rows, wanted);
        if (h >= kMinHalfWindow) windows[k] = h;
    }
    return windows;
}

// Every point of `at` refined on `image` in a window of half-size
// `halfWindow`; a step under `epsilon` pixels ends a point's refinement.
void refineCorners(const cv::Mat& image, std::vector<cv::Point2f>& at, int halfWindow, double epsilon) {
    if (at.empty()) return;
    cv::cornerSubPix(image, at, cv::Size(halfWindow, halfWindow), cv::Size(-1, -1),
                     cv::TermCriteria(cv::TermCriteria::EPS | cv::TermCriteria::COUNT, kIterations, epsilon));
}

// `points` refined in the windows of `windows` (none where it is 0).
std::vector<LabelledPoint> refineIn(const cv::Mat& image, const std::vector<LabelledPoint>& points,
                                    const std::vector<double>& sides, const std::vector<int>& windows,
                                    std::vector<bool>* refined, const Refinement& how) {
    std::vector<LabelledPoint> result = points;
    if (refined != nullptr) refined->assign(points.size(), false);
    if (image.empty() || image.type() != CV_8UC1) return result;
    // The points by window: the refinement of a point does not depend on
    // the others, and one call per window size spares building the
    // window's weights for every point.
    std::map<int, std::vector<size_t>> byWindow;
    for (size_t k = 0; k < points.size(); ++k)
        if (windows[k] > 0) byWindow[windows[k]].push_back(k);
    for (const auto& [h, indices] : byWindow) {
        std::vector<std::optional<cv::Point2f>> found(indices.size());
        if (how.narrowing) {
            for (size_t j = 0; j < indices.size(); ++j)
                found[j] = narrowedCorner(image, points[indices[j]].at, h, how.epsilon);
        } else {
            std::vector<cv::Point2f> at(indices.size());
            for (size_t j = 0; j < indices.size(); ++j) at[j] = points[indices[j]].at;
            refineCorners(image, at, h, how.epsilon);
            for (size_t j = 0; j < indices.size(); ++j) found[j] = at[j];
        }
        for (size_t j = 0; j < indices.size(); ++j) {
            const size_t k = indices[j];
            if (!found[j]) continue;
            const cv::Point2f at = *found[j];
            if (!(cv::norm(at - points[k].at) <= kMaxMoveShare * sides[k])) continue;
            if (!refinementWindowInside(at.x, at.y, image.cols, image.rows)) continue;
            result[k].at = at;
            if (refined != nullptr) (*refined)[k] = true;
        }
    }
    return result;
}

std::vector<LabelledPoint> refineWith(const cv::Mat& image, const std::vector<LabelledPoint>& points,
                                      const std::vector<bool>& which, std::vector<bool>* refined,
                                      const Refinement& how) {
    const std::vector<double> sides = cellSides(points);
    return refineIn(image, points, sides, refinementWindows(image, points, sides, which, how), refined, how);
}

}  // namespace

bool isMarkerCorner(int x, int y) {
    // The cells around corner (x, y) are (x, y) .. (x + 1, y + 1).
    for (int dx = 0; dx <= 1; ++dx)
        for (int dy = 0; dy <= 1; ++dy)
            if (isPrintedMarker(x + dx, y + dy, kMarkerBrightCell) || isPrintedMarker(x + dx, y + dy, kMarkerDarkCell))
                return true;
    return false;
}

int refinementHalfWindow(int x, int y, double side, double cellShare, int maxHalfWindow) {
    const double share = isMarkerCorner(x, y) ? std::min(kMarkerCornerShare, cellShare) : cellShare;
    return std::clamp(static_cast<int>(std::lround(share * side)), kMinHalfWindow, maxHalfWindow);
}

cv::Point2f refinedCorner(const cv::Mat& image, const cv::Point2f& at, int halfWindow, double epsilon) {
    std::vector<cv::Point2f> one{at};
    refineCorners(image, one, halfWindow, epsilon);
    return one[0];
}

std::optional<cv::Point2f> narrowedCorner(const cv::Mat& image, const cv::Point2f& at, int halfWindow,
                                          double epsilon) {
    cv::Point2f wide = refinedCorner(image, at, halfWindow, epsilon);
    for (int h = halfWindow; h > kMinHalfWindow;) {
        h = std::max(kMinHalfWindow, static_cast<int>(std::lround(kNarrowShare * h)));
        const cv::Point2f narrow = refinedCorner(image, at, h, epsilon);
        if (cv::norm(wide - narrow) <= kNarrowAgreement) return wide;
        wide = narrow;
    }
    return std::nullopt;
}

std::vector<LabelledPoint> refinedPoints(const cv::Mat& image, const std::vector<LabelledPoint>& points,
                                         const std::vector<bool>& which, std::vector<bool>* refined) {
    return refineWith(image, points, which, refined, kFullRefinement);
}

std::vector<bool> unstablePoints(const cv::Mat& image, const std::vector<LabelledPoint>& points) {
    std::vector<bool> unstable(points.size(), false);
    if (image.empty() || image.type() != CV_8UC1) return unstable;
    std::vector<cv::Point2f> at;
    std::vector<size_t> which;
    for (size_t k = 0; k < points.size(); ++k) {
        if (!refinementWindowInside(points[k].at.x, points[k].at.y, image.cols, image.rows, kStableHalfWindow)) continue;
        at.push_back(points[k].at);
        which.push_back(k);
    }
    if (at.empty()) return unstable;
    cv::cornerSubPix(image, at, cv::Size(kStableHalfWindow, kStableHalfWindow), cv::Size(-1, -1),
                     cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, kStableIterations, kStableEpsilon));
    for (size_t j = 0; j < which.size(); ++j)
        unstable[which[j]] = !(cv::norm(at[j] - points[which[j]].at) <= kStableShift);
    return unstable;
}

namespace {

// The points marked in `which` refined at half resolution on the part of
// `image` around them; positions in frame pixels.
void refineAtHalfResolution(const cv::Mat& image, const std::vector<bool>& which, std::vector<LabelledPoint>& points) {
    float left = 0.0f, right = 0.0f, top = 0.0f, bottom = 0.0f;
    bool any = false;
    for (size_t k = 0; k < points.size(); ++k) {
        if (!which[k]) continue;
        const cv::Point2f& at = points[k].at;
        if (!any) left = right = at.x, top = bottom = at.y;
        left = std::min(left, at.x), right = std::max(right, at.x);
        top = std::min(top, at.y), bottom = std::max(bottom, at.y);
        any = true;
    }
    if (!any) return;
    // An even corner keeps the half-resolution pixels on the frame's.
    auto even = [](double v) { return 2 * static_cast<int>(std::floor(v / 2.0)); };
    const int x0 = std::max(0, even(left - kRoughMargin)), y0 = std::max(0, even(top - kRoughMargin));
    const int x1 = std::min(image.cols, static_cast<int>(right) + kRoughMargin + 1);
    const int y1 = std::min(image.rows, static_cast<int>(bottom) + kRoughMargin + 1);
    if (x1 - x0 < 8 || y1 - y0 < 8) return;
    cv::Mat half;
    cv::pyrDown(image(cv::Rect(x0, y0, x1 - x0, y1 - y0)), half);
    const cv::Point2f origin(static_cast<float>(x0), static_cast<float>(y0));
    std::vector<LabelledPoint> scaled = points;
    for (LabelledPoint& p : scaled) p.at = (p.at - origin) * 0.5f;
    std::vector<bool> refined;
    const std::vector<LabelledPoint> result = refineWith(half, scaled, which, &refined, kRoughRefinement);
    for (size_t k = 0; k < points.size(); ++k)
        if (refined[k]) points[k].at = result[k].at * 2.0f + origin;
}

// `points` refined on a rough frame. In a flat cell noise is all the
// gradient there is, and a wide window gathers much of it, so the frame is
// smoothed first. A corner whose cells are wide enough is refined at half
// resolution: the pyramid's 5 x 5 smoothing averages the noise, a frame
// blurred wider than a pixel keeps its corners' shape at half the size, and
// a quarter of the pixels costs a quarter of the time. A corner of smaller
// cells would get a window too wide for them there (the least window would
// reach a marker's spot), and is refined on the frame smoothed by
// kRoughSmoothing, as is every corner when `fullResolution` asks for the
// closest positions whatever they cost.
std::vector<LabelledPoint> refinedRough(const cv::Mat& image, const std::vector<LabelledPoint>& points,
                                        bool fullResolution) {
    const std::vector<double> sides = cellSides(points);
    std::vector<bool> halved(points.size()), whole(points.size());
    for (size_t k = 0; k < points.size(); ++k) {
        halved[k] = !fullResolution && 0.5 * sides[k] * kRoughCellShare >= kMinHalfWindow;
        whole[k] = !halved[k];
    }
    std::vector<LabelledPoint> result = points;
    if (std::find(whole.begin(), whole.end(), true) != whole.end()) {
        cv::Mat smoothed;
        cv::GaussianBlur(image, smoothed, cv::Size(0, 0), kRoughSmoothing);
        result = refineWith(smoothed, points, whole, nullptr, kFullRefinement);
    }
    refineAtHalfResolution(image, halved, result);
    return result;
}

// Checks `current`; the points that fail are tried at their `alternative`
// position and everything is checked again. Returns which points to keep.
std::vector<bool> settle(const cv::Mat& image, std::vector<LabelledPoint>& current,
                         const std::vector<LabelledPoint>& alternative) {
    std::vector<bool> keep = soundPoints(image, current);
    if (std::find(keep.begin(), keep.end(), false) == keep.end()) return keep;
    for (size_t k = 0; k < keep.size(); ++k)
        if (!keep[k]) current[k] = alternative[k];
    return soundPoints(image, current);
}

}  // namespace

std::vector<LabelledPoint> finalPoints(const cv::Mat& image, const std::vector<LabelledPoint>& points,
                                       bool refineAll) {
    if (points.empty()) return points;
    const int side = std::max(image.cols, image.rows);
    const bool large = side > kLargeFrameSide;
    const bool roughAtFullResolution = refineAll && !large;
    // Asked for, and on a large frame: windows sized from the cells; on a
    // frame of HD size, the lighter refinement it gets by default.
    const Refinement fine = refineAll || large ? kFullRefinement : kDefaultRefinement;
    refineAll = refineAll || side > kRefinedFrameSide;
    std::vector<LabelledPoint> current = points;
    std::vector<bool> keep;
    // The stability test costs a refinement of every point; a frame whose
    // residuals already call it rough is refined smoothed without it.
    std::vector<LatticeFit> fits;
    const bool roughResidual = medianResidual(points, &fits) > kRoughResidual;
    const std::vector<bool> unstable = roughResidual ? std::vector<bool>() : unstablePoints(image, points);
    const auto unstableCount = std::count(unstable.begin(), unstable.end(), true);
    if (roughResidual ||
        static_cast<double>(unstableCount) > kRoughUnstableShare * static_cast<double>(points.size())) {
        current = refinedRough(image, points, roughAtFullResolution);
        keep = settle(image, current, points);
    } else {
        keep = soundPoints(image, current, {}, &fits);
        // A point that failed is tried refined; an unstable one is refined
        // or dropped, whether it passed or not.
        std::vector<bool> retried(keep.size());
        for (size_t k = 0; k < keep.size(); ++k) retried[k] = !keep[k] || unstable[k];
        if (std::find(retried.begin(), retried.end(), true) != retried.end()) {
            std::vector<bool> refined;
            const std::vector<LabelledPoint> alternative = refinedPoints(image, points, retried, &refined);
            std::vector<bool> candidates(keep.size(), true);
            for (size_t k = 0; k < keep.size(); ++k) {
                if (refined[k]) current[k] = alternative[k];
                else if (unstable[k]) candidates[k] = false;
            }
            keep = soundPoints(image, current, candidates);
        }
        if (refineAll) {
            // A refined corner that moved away from a position that passed
            // has met something else in its wider window (a finger's edge,
            // a glare): the first position stays. One that a narrower
            // window puts elsewhere has met it nearer: the narrow window's
            // position counts; beside a glare (a corner in brighter light
            // than most) the windows are narrowed further while they
            // disagree, against the glare's slope of light.
            const std::vector<bool> glared = brighterPoints(image, current, keep, fits);
            std::vector<bool> plain = keep;
            for (size_t k = 0; k < plain.size(); ++k) plain[k] = keep[k] && !glared[k];
            const std::vector<double> sides = cellSides(current);
            const Refinement narrowly{kNarrowShare * fine.cellShare, fine.epsilon, false, fine.maxHalfWindow};
            const std::vector<int> wideWindows = refinementWindows(image, current, sides, plain, fine);
            std::vector<int> narrowWindows = refinementWindows(image, current, sides, plain, narrowly);
            // Where the cap on the windows makes the narrow one as large as
            // the wide one, their refinements are the same: it is done once.
            std::vector<bool> same(current.size(), false);
            for (size_t k = 0; k < current.size(); ++k) {
                same[k] = narrowWindows[k] > 0 && narrowWindows[k] == wideWindows[k];
                if (same[k]) narrowWindows[k] = 0;
            }
            const std::vector<LabelledPoint> wide = refineIn(image, current, sides, wideWindows, nullptr, fine);
            std::vector<LabelledPoint> narrow = refineIn(image, current, sides, narrowWindows, nullptr, narrowly);
            for (size_t k = 0; k < current.size(); ++k)
                if (same[k]) narrow[k] = wide[k];
            const Refinement narrowing{fine.cellShare, fine.epsilon, true, fine.maxHalfWindow};
            const std::vector<LabelledPoint> narrowed = refineIn(
                image, current, sides, refinementWindows(image, current, sides, glared, narrowing), nullptr, narrowing);
            const std::vector<LabelledPoint> first = current;
            for (size_t k = 0; k < current.size(); ++k) {
                if (!keep[k]) continue;
                const LabelledPoint& refined = glared[k] ? narrowed[k]
                                               : cv::norm(wide[k].at - narrow[k].at) <= kNarrowAgreement ? wide[k]
                                                                                                          : narrow[k];
                if (cv::norm(refined.at - current[k].at) <= kRefineAgreement) current[k] = refined;
            }
            keep = settle(image, current, first);
        }
    }
    std::vector<LabelledPoint> kept;
    for (size_t k = 0; k < current.size(); ++k)
        if (keep[k]) kept.push_back(current[k]);
    return kept;
}
