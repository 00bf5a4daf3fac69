#include "grid/corner_detection.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <vector>

#include "grid/grid_set.h"

namespace {

constexpr double QUALITY_LEVEL = 0.25;
constexpr int BLOCK_SIZE = 3;
constexpr int REFINE_HALF_WINDOW = 4;
constexpr int RETRY_HALF_WINDOW = 6;
constexpr int REFINE_ITERATIONS = 10;
// Local contrast normalisation: the Gaussian window's deviation as a share
// of the searched image's longer side (several cells at the sizes boards are
// seen at), and the least deviation divided by (grey levels), so that flat
// walls and paper do not turn their noise into corners.
constexpr double kNormalisingShare = 0.02;
constexpr double kMinDeviation = 8.0;
// A checkerboard's pixels lie about one deviation from their mean.
constexpr double kNormalisedClip = 1.5;
// The circle of the test against blobs (keepCorners), in searched pixels.
constexpr double kSaddleRadius = 2.5;

// The refinement needs the frame to be larger than its window plus a margin.
bool fitsWindow(const cv::Mat& image, int halfWindow) {
    return image.cols >= 2 * halfWindow + 5 && image.rows >= 2 * halfWindow + 5;
}

void refine(const cv::Mat& image, std::vector<cv::Point2f>& corners, int halfWindow) {
    if (corners.empty() || !fitsWindow(image, halfWindow)) return;
    cv::cornerSubPix(image, corners, cv::Size(halfWindow, halfWindow), cv::Size(-1, -1),
                     cv::TermCriteria(cv::TermCriteria::MAX_ITER, REFINE_ITERATIONS, 0));
}

// Refines the doubled positions in place. The refinement hands a corner back
// unchanged when its estimate leaves the window, which happens for corners
// found a few pixels off at half resolution (sheared views): those are
// refined again from the same start with a wider window, and the result is
// settled with the normal window.
void refineCorners(const cv::Mat& image, std::vector<cv::Point2f>& corners) {
    const std::vector<cv::Point2f> starts = corners;
    refine(image, corners, REFINE_HALF_WINDOW);
    if (!fitsWindow(image, RETRY_HALF_WINDOW)) return;

    std::vector<size_t> stuck;
    std::vector<cv::Point2f> retry;
    for (size_t k = 0; k < corners.size(); ++k) {
        if (corners[k].x == starts[k].x && corners[k].y == starts[k].y) {
            stuck.push_back(k);
            retry.push_back(starts[k]);
        }
    }
    if (retry.empty()) return;
    refine(image, retry, RETRY_HALF_WINDOW);
    refine(image, retry, REFINE_HALF_WINDOW);
    for (size_t j = 0; j < stuck.size(); ++j) corners[stuck[j]] = retry[j];
}

// The searched image with its contrast normalised locally: each pixel's
// departure from the mean around it over the deviation around it, so that
// corners in a shadow or beside a glare are as strong as in full light.
cv::Mat normalisedContrast(const cv::Mat& searched) {
    cv::Mat f;
    searched.convertTo(f, CV_32F);
    const double sigma = kNormalisingShare * std::max(searched.cols, searched.rows);
    const cv::Mat mean = wideGaussianBlur(f, sigma);
    const cv::Mat square = wideGaussianBlur(f.mul(f), sigma);
    cv::Mat variance = square - mean.mul(mean);
    cv::max(variance, kMinDeviation * kMinDeviation, variance);
    cv::Mat deviation;
    cv::sqrt(variance, deviation);
    // Clipped, so that a thin sharp line on a flat wall (a large departure
    // over a small deviation) does not outshine every corner of the board.
    cv::Mat normalised = (f - mean) / deviation;
    cv::min(normalised, kNormalisedClip, normalised);
    cv::max(normalised, -kNormalisedClip, normalised);
    return normalised;
}

// Keeps the corners around which the searched image is not all of one
// side: on a circle of kSaddleRadius pixels (twice the smoothing, when that
// is more) the samples cross the middle of their range at least twice. A
// board's corner crosses it four times, the corner where a dark cell meets
// the board's margin twice (those corners close the board's outer cells);
// a round spot (a marker's, blurred into a blob the smoothed search takes
// for a corner) not at all.
void keepCorners(const cv::Mat& searched, double smoothing, std::vector<cv::Point2f>& corners) {
    cv::Mat smooth;
    searched.convertTo(smooth, CV_32F);
    cv::GaussianBlur(smooth, smooth, cv::Size(0, 0), 1.0, 1.0, cv::BORDER_REFLECT);
    const double radius = std::max(kSaddleRadius, 2.0 * smoothing);
    constexpr int kSamples = 16;
    size_t kept = 0;
    for (const cv::Point2f& c : corners) {
        float samples[kSamples];
        float low = std::numeric_limits<float>::max(), high = std::numeric_limits<float>::lowest();
        for (int k = 0; k < kSamples; ++k) {
            const double a = 2.0 * CV_PI * k / kSamples;
            const float x = std::clamp(static_cast<float>(c.x + radius * std::cos(a)), 0.0f, smooth.cols - 1.0f);
            const float y = std::clamp(static_cast<float>(c.y + radius * std::sin(a)), 0.0f, smooth.rows - 1.0f);
            cv::Mat one;
            cv::getRectSubPix(smooth, cv::Size(1, 1), cv::Point2f(x, y), one);
            samples[k] = one.at<float>(0, 0);
            low = std::min(low, samples[k]);
            high = std::max(high, samples[k]);
        }
        const float middle = 0.5f * (low + high);
        int crossings = 0;
        for (int k = 0; k < kSamples; ++k)
            crossings += (samples[k] > middle) != (samples[(k + 1) % kSamples] > middle) ? 1 : 0;
        if (crossings >= 2) corners[kept++] = c;
    }
    corners.resize(kept);
}

}  // namespace

cv::Mat wideGaussianBlur(const cv::Mat& image, double sigma) {
    int shrink = 1;
    while (2.0 * shrink * kShrunkSigma <= sigma) shrink *= 2;
    cv::Mat blurred;
    if (shrink == 1) {
        cv::GaussianBlur(image, blurred, cv::Size(0, 0), sigma, sigma, cv::BORDER_REFLECT);
        return blurred;
    }
    // Averaging over shrink x shrink pixels is itself a blur of variance
    // shrink^2 / 12; the Gaussian on the small image adds the rest.
    const double rest = std::sqrt(std::max(sigma * sigma - shrink * shrink / 12.0, 1.0)) / shrink;
    cv::Mat small;
    cv::resize(image, small, cv::Size((image.cols + shrink - 1) / shrink, (image.rows + shrink - 1) / shrink), 0, 0,
               cv::INTER_AREA);
    cv::GaussianBlur(small, small, cv::Size(0, 0), rest, rest, cv::BORDER_REFLECT);
    cv::resize(small, blurred, image.size(), 0, 0, cv::INTER_LINEAR);
    return blurred;
}

void detectCorners(GridSet& set, int frame, const cv::Mat& image) { detectCornersWith(set, frame, image, {}); }

void detectCornersWith(GridSet& set, int frame, const cv::Mat& image, const CornerSearch& search) {
    if (image.empty() || image.type() != CV_8UC1 || !set.hasFrame(frame)) return;
    FrameGrid& record = set.frames[static_cast<size_t>(frame)];
    if (record.pointCount != set.maxPoints) return;

    if (image.cols < 2 || image.rows < 2) {
        record.pointCount = 0;
        return;
    }

    const bool firstSearch = !search.fullResolution && !search.normalised && search.smoothingShare == 0.0 &&
                             search.minDistance == kFirstSearchDistance && search.refineHalfWindow == REFINE_HALF_WINDOW &&
                             search.region.empty();
    const cv::Rect region = search.region.empty() ? cv::Rect(0, 0, image.cols, image.rows)
                                                  : search.region & cv::Rect(0, 0, image.cols, image.rows);
    if (region.width < 2 || region.height < 2) {
        record.pointCount = 0;
        return;
    }
    std::vector<cv::Point2f> corners;
    {
        cv::Mat searched;
        const cv::Mat part = image(region);
        if (search.fullResolution) searched = part;
        else cv::pyrDown(part, searched, cv::Size(part.cols / 2, part.rows / 2));
        if (search.normalised) searched = normalisedContrast(searched);
        const double smoothing = search.smoothingShare * std::max(searched.cols, searched.rows);
        if (smoothing > 0.0) {
            // Into a new image: `searched` may still be the caller's frame.
            cv::Mat smoothed;
            cv::GaussianBlur(searched, smoothed, cv::Size(0, 0), smoothing, smoothing, cv::BORDER_REFLECT);
            searched = smoothed;
        }
        cv::goodFeaturesToTrack(searched, corners, set.maxPoints, QUALITY_LEVEL, search.minDistance, cv::noArray(),
                                BLOCK_SIZE, false);
        if (corners.size() > static_cast<size_t>(set.maxPoints)) corners.resize(static_cast<size_t>(set.maxPoints));
        if (!firstSearch) keepCorners(searched, smoothing, corners);

        if (!search.fullResolution) {
            for (cv::Point2f& c : corners) {
                c.x = c.x + c.x;
                c.y = c.y + c.y;
            }
        }
        for (cv::Point2f& c : corners) c += cv::Point2f(static_cast<float>(region.x), static_cast<float>(region.y));
        const std::vector<cv::Point2f> starts = corners;
        if (search.refineHalfWindow == REFINE_HALF_WINDOW) refineCorners(image, corners);
        else refine(image, corners, search.refineHalfWindow);
        if (!firstSearch) {
            // The later searches drop the corners the refinement gave up on
            // (still where the search put them) here and now; the smoothed
            // search also those it took to a corner already kept: smoothing
            // shows the search two peaks of one blurred corner, both refined
            // to the same point, and twin corners leave slivers in the mesh
            // where cells should be. The stronger one, found first, stays.
            // (The other searches keep their twins: on a glare view the
            // full-resolution search labels the board only with them.)
            const double scale = search.fullResolution ? 1.0 : 2.0;
            const double twin = 0.5 * search.minDistance * scale;
            size_t kept = 0;
            for (size_t k = 0; k < corners.size(); ++k) {
                if (corners[k] == starts[k]) continue;
                bool reached = false;
                for (size_t j = 0; j < kept && !reached && smoothing > 0.0; ++j)
                    reached = cv::norm(corners[j] - corners[k]) < twin;
                if (!reached) corners[kept++] = corners[k];
            }
            corners.resize(kept);
        }
    }

    for (size_t k = 0; k < corners.size(); ++k) record.imagePoints[k] = GridPoint{corners[k].x, corners[k].y};
    record.pointCount = static_cast<int>(corners.size());
}
