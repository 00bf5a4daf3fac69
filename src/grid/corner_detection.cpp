#include "grid/corner_detection.h"

#include <opencv2/imgproc.hpp>

#include <new>
#include <vector>

#include "grid/grid_set.h"

namespace {

constexpr double QUALITY_LEVEL = 0.25;
constexpr double MIN_DISTANCE = 8.0;  // half-resolution pixels
constexpr int BLOCK_SIZE = 3;
constexpr int REFINE_HALF_WINDOW = 4;
constexpr int RETRY_HALF_WINDOW = 6;
constexpr int REFINE_ITERATIONS = 10;

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

}  // namespace

void detectCorners(GridSet& set, int frame, const cv::Mat& image) {
    if (image.empty() || image.type() != CV_8UC1 || !set.hasFrame(frame)) return;
    FrameGrid& record = set.frames[static_cast<size_t>(frame)];
    if (record.pointCount != set.maxPoints) return;

    if (image.cols < 2 || image.rows < 2) {
        record.pointCount = 0;
        return;
    }

    std::vector<cv::Point2f> corners;
    try {
        cv::Mat half;
        cv::pyrDown(image, half, cv::Size(image.cols / 2, image.rows / 2));
        cv::goodFeaturesToTrack(half, corners, set.maxPoints, QUALITY_LEVEL, MIN_DISTANCE, cv::noArray(), BLOCK_SIZE,
                                false);
        if (corners.size() > static_cast<size_t>(set.maxPoints)) corners.resize(static_cast<size_t>(set.maxPoints));
        for (cv::Point2f& c : corners) {
            c.x = c.x + c.x;
            c.y = c.y + c.y;
        }
        refineCorners(image, corners);
    } catch (const cv::Exception&) {
        return;  // no detection happened; the frame still reads as not searched
    } catch (const std::bad_alloc&) {
        return;
    }

    for (size_t k = 0; k < corners.size(); ++k) record.imagePoints[k] = GridPoint{corners[k].x, corners[k].y};
    record.pointCount = static_cast<int>(corners.size());
}
