#include "calibration/calibration_coverage.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "calibration/fixed_format.h"

namespace {

// The image is judged on a mask at most this wide.
constexpr int MASK_WIDTH = 240;

const char* const ZONE_NAMES[9] = {"top left corner",    "top edge",    "top right corner",
                                   "left edge",          "centre",      "right edge",
                                   "bottom left corner", "bottom edge", "bottom right corner"};

std::string percent(double share) { return std::to_string(static_cast<int>(std::lround(share * 100))) + " %"; }

std::string oneDecimal(double value) { return vexel::formatDecimals(value, 1); }

// "a", "a and b", "a, b and c"
std::string listed(const std::vector<std::string>& items) {
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out += i + 1 == items.size() ? " and " : ", ";
        out += items[i];
    }
    return out;
}

}  // namespace

CoverageFigures coverageFigures(const CalibrationViews& views, const std::vector<FramePose>& poses,
                                cv::Size imageSize) {
    CoverageFigures figures;
    if (imageSize.width <= 0 || imageSize.height <= 0) return figures;

    const double scale = std::min(1.0, static_cast<double>(MASK_WIDTH) / imageSize.width);
    const cv::Size maskSize(std::max(1, static_cast<int>(std::lround(imageSize.width * scale))),
                            std::max(1, static_cast<int>(std::lround(imageSize.height * scale))));
    cv::Mat mask = cv::Mat::zeros(maskSize, CV_8UC1);
    for (const auto& points : views.imagePoints) {
        if (points.size() < 3) continue;
        std::vector<cv::Point2f> hull;
        cv::convexHull(points, hull);
        std::vector<cv::Point> scaled;
        for (const cv::Point2f& p : hull)
            scaled.emplace_back(static_cast<int>(std::lround(p.x * scale)), static_cast<int>(std::lround(p.y * scale)));
        cv::fillConvexPoly(mask, scaled, cv::Scalar(255));
    }
    figures.imageShare = static_cast<double>(cv::countNonZero(mask)) / static_cast<double>(mask.total());
    for (int zone = 0; zone < 9; ++zone) {
        const int c = zone % 3, r = zone / 3;
        const cv::Rect area(cv::Point(maskSize.width * c / 3, maskSize.height * r / 3),
                            cv::Point(maskSize.width * (c + 1) / 3, maskSize.height * (r + 1) / 3));
        if (area.area() > 0)
            figures.zoneShares[static_cast<std::size_t>(zone)] =
                static_cast<double>(cv::countNonZero(mask(area))) / static_cast<double>(area.area());
    }

    std::vector<double> tilts, distances, depths;
    for (std::size_t v = 0; v < poses.size() && v < views.objectPoints.size(); ++v) {
        const auto& object = views.objectPoints[v];
        if (object.empty()) continue;
        cv::Point3d centre;
        for (const cv::Point3f& p : object) centre += cv::Point3d(p.x, p.y, p.z);
        centre *= 1.0 / static_cast<double>(object.size());
        const cv::Point3d inCamera = poses[v].toCamera(centre);
        const cv::Matx33d r = poses[v].rotationMatrix();
        tilts.push_back(std::acos(std::min(1.0, std::abs(r(2, 2)))) * 180.0 / CV_PI);
        distances.push_back(cv::norm(inCamera));
        depths.push_back(inCamera.z);
    }
    if (!tilts.empty()) {
        figures.smallestTilt = *std::min_element(tilts.begin(), tilts.end());
        figures.largestTilt = *std::max_element(tilts.begin(), tilts.end());
        figures.nearest = *std::min_element(distances.begin(), distances.end());
        figures.farthest = *std::max_element(distances.begin(), distances.end());
        std::sort(depths.begin(), depths.end());
        const std::size_t m = depths.size();
        figures.typicalDepth = m % 2 == 1 ? depths[m / 2] : (depths[m / 2 - 1] + depths[m / 2]) / 2;
    }
    return figures;
}

CoverageVerdict coverageVerdict(const CoverageFigures& f) {
    CoverageVerdict verdict;
    std::vector<std::string> emptyZones;
    int emptyCorners = 0;
    for (int zone = 0; zone < 9; ++zone) {
        if (f.zoneShares[static_cast<std::size_t>(zone)] >= GOOD_ZONE_SHARE) continue;
        emptyZones.push_back(ZONE_NAMES[zone]);
        if (zone % 2 == 0 && zone != 4) ++emptyCorners;
    }
    verdict.imageGood = f.imageShare >= GOOD_IMAGE_SHARE && emptyZones.empty();
    verdict.tiltGood = f.largestTilt >= GOOD_LARGEST_TILT;
    verdict.distanceGood = f.nearest > 0 && f.farthest >= GOOD_DISTANCE_RATIO * f.nearest;

    std::string& line = verdict.line;
    if (verdict.imageGood) {
        line = "coverage good";
    } else {
        std::string where;
        if (emptyCorners >= 2)
            where = "in the image corners";
        else if (!emptyZones.empty())
            where = "in the " + listed(emptyZones);
        else
            where = "nearer the edges of the image";
        line = "coverage small (" + percent(f.imageShare) + " of the image): add views that put the board " + where;
    }
    line += verdict.tiltGood ? "; tilt range good" : "; tilt range small: add views tilted by 30-50 degrees";
    line += verdict.distanceGood ? "; distance range good" : "; distance range small: add views from nearer and farther";
    return verdict;
}

std::vector<std::string> coverageLines(const CoverageFigures& f) {
    return {"image covered: " + percent(f.imageShare) + " (good enough: " + percent(GOOD_IMAGE_SHARE) +
                " and a quarter of every ninth)",
            "tilts: " + oneDecimal(f.smallestTilt) + " to " + oneDecimal(f.largestTilt) + " degrees (good enough: " +
                oneDecimal(GOOD_LARGEST_TILT) + " degrees or more)",
            "distances: " + oneDecimal(f.nearest) + " to " + oneDecimal(f.farthest) +
                " cells (good enough: farthest " + oneDecimal(GOOD_DISTANCE_RATIO) + " x nearest)"};
}
