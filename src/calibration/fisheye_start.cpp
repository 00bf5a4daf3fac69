#include "calibration/fisheye_start.h"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

namespace {

// Views fitted per candidate: enough to judge, few enough to stay quick.
constexpr int MAX_VIEWS = 20;
// Points this close to 90 degrees off the axis say little about a plane.
constexpr double MAX_ANGLE = 1.45;  // radians

// The RMS pixel error of the homographies that best map the board onto the
// points taken back through an equidistant lens of focal length f; infinite
// when no view can be fitted.
double homographyError(const CalibrationViews& views, cv::Point2d centre, double f) {
    double sum = 0;
    int count = 0;
    const int step = std::max(1, views.viewCount() / MAX_VIEWS);
    for (int v = 0; v < views.viewCount(); v += step) {
        std::vector<cv::Point2f> board, plane, seen;
        for (std::size_t i = 0; i < views.imagePoints[v].size(); ++i) {
            const cv::Point2d d = cv::Point2d(views.imagePoints[v][i]) - centre;
            const double radius = std::hypot(d.x, d.y);
            const double theta = radius / f;
            if (theta >= MAX_ANGLE) continue;
            const double scale = radius > 0 ? std::tan(theta) / radius : 1.0 / f;
            board.emplace_back(views.objectPoints[v][i].x, views.objectPoints[v][i].y);
            plane.emplace_back(static_cast<float>(d.x * scale), static_cast<float>(d.y * scale));
            seen.push_back(views.imagePoints[v][i]);
        }
        if (board.size() < 8) continue;
        const cv::Mat h = cv::findHomography(board, plane, 0);
        if (h.empty()) continue;
        std::vector<cv::Point2f> mapped;
        cv::perspectiveTransform(board, mapped, h);
        for (std::size_t i = 0; i < mapped.size(); ++i) {
            const double r = std::hypot(mapped[i].x, mapped[i].y);
            const double scale = r > 0 ? f * std::atan(r) / r : f;
            const cv::Point2d image = centre + cv::Point2d(mapped[i].x * scale, mapped[i].y * scale);
            const cv::Point2d e = image - cv::Point2d(seen[i]);
            sum += e.dot(e);
            ++count;
        }
    }
    return count > 0 ? std::sqrt(sum / count) : std::numeric_limits<double>::infinity();
}

}  // namespace

cv::Matx33d fisheyeStartingCamera(const CalibrationViews& views, cv::Size imageSize) {
    const cv::Point2d centre(imageSize.width / 2.0 - 0.5, imageSize.height / 2.0 - 0.5);
    // From 60 to 270 degrees across the frame's width, in steps of a few per cent.
    const double half = imageSize.width / 2.0;
    const double fMin = half / (270.0 / 360.0 * CV_PI), fMax = half / (60.0 / 360.0 * CV_PI);
    const int steps = 40;
    double best = std::numeric_limits<double>::infinity(), bestF = 0;
    int bestStep = -1;
    std::vector<double> candidates;
    for (int s = 0; s <= steps; ++s) candidates.push_back(fMin * std::pow(fMax / fMin, static_cast<double>(s) / steps));
    for (int s = 0; s <= steps; ++s) {
        const double error = homographyError(views, centre, candidates[s]);
        if (error < best) best = error, bestF = candidates[s], bestStep = s;
    }
    if (bestStep < 0) CV_Error(cv::Error::StsBadArg, "no view has enough points for a fisheye starting point");
    // Golden-section search between the neighbours of the best step.
    double a = candidates[std::max(0, bestStep - 1)], b = candidates[std::min(steps, bestStep + 1)];
    const double g = (std::sqrt(5.0) - 1) / 2;
    double c = b - g * (b - a), d = a + g * (b - a);
    double fc = homographyError(views, centre, c), fd = homographyError(views, centre, d);
    for (int i = 0; i < 30; ++i) {
        if (fc < fd) {
            b = d, d = c, fd = fc;
            c = b - g * (b - a), fc = homographyError(views, centre, c);
        } else {
            a = c, c = d, fc = fd;
            d = a + g * (b - a), fd = homographyError(views, centre, d);
        }
    }
    const double f = fc < fd ? c : d;
    if (std::min(fc, fd) < best) bestF = f;
    return cv::Matx33d(bestF, 0, centre.x, 0, bestF, centre.y, 0, 0, 1);
}

CalibrationViews withinFisheyeReach(const CalibrationViews& views, const LensCamera& camera, int& leftOut) {
    CalibrationViews kept;
    kept.frames = views.frames;
    leftOut = 0;
    for (int v = 0; v < views.viewCount(); ++v) {
        kept.imagePoints.emplace_back();
        kept.objectPoints.emplace_back();
        for (std::size_t i = 0; i < views.imagePoints[v].size() && i < views.objectPoints[v].size(); ++i) {
            if (fisheyeRayAngle(camera, views.imagePoints[v][i]) < FISHEYE_MAX_ANGLE) {
                kept.imagePoints.back().push_back(views.imagePoints[v][i]);
                kept.objectPoints.back().push_back(views.objectPoints[v][i]);
            } else {
                ++leftOut;
            }
        }
        if (kept.imagePoints.back().size() < 4)
            CV_Error(cv::Error::StsBadArg,
                     "frame " + std::to_string(views.frames.empty() ? v : views.frames[v]) +
                         " has fewer than 4 points within 88 degrees of the optical axis, where the fisheye model "
                         "reaches; leave it out");
    }
    return kept;
}
