#include "calibration/calibration_residuals.h"

#include <algorithm>
#include <cmath>
#include <numeric>

double FrameResiduals::rms() const {
    if (detected.empty()) return 0;
    double sum = 0;
    for (std::size_t i = 0; i < detected.size(); ++i) {
        const cv::Point2f e = error(i);
        sum += static_cast<double>(e.x) * e.x + static_cast<double>(e.y) * e.y;
    }
    return std::sqrt(sum / static_cast<double>(detected.size()));
}

FrameResiduals frameResiduals(int frame, const std::vector<cv::Point2f>& imagePoints,
                              const std::vector<cv::Point3f>& objectPoints, const CameraModel& model,
                              const FramePose& pose) {
    FrameResiduals out;
    out.frame = frame;
    const std::size_t n = std::min(imagePoints.size(), objectPoints.size());
    for (std::size_t i = 0; i < n; ++i) {
        const cv::Point2d q = model.project(pose, cv::Point3d(objectPoints[i].x, objectPoints[i].y, objectPoints[i].z));
        out.detected.push_back(imagePoints[i]);
        out.reprojected.emplace_back(static_cast<float>(q.x), static_cast<float>(q.y));
    }
    std::vector<int> order(out.detected.size());
    std::iota(order.begin(), order.end(), 0);
    auto length = [&](int i) {
        const double l = cv::norm(out.error(static_cast<std::size_t>(i)));
        return std::isfinite(l) ? l : HUGE_VAL;
    };
    const std::size_t worst = std::min<std::size_t>(WORST_CORNERS, order.size());
    std::partial_sort(order.begin(), order.begin() + static_cast<long>(worst), order.end(),
                      [&](int a, int b) { return length(a) > length(b) || (length(a) == length(b) && a < b); });
    out.worst.assign(order.begin(), order.begin() + static_cast<long>(worst));
    return out;
}

std::vector<FrameResiduals> calibrationResiduals(const CalibrationViews& views, const CameraModel& model,
                                                 const std::vector<FramePose>& poses) {
    std::vector<FrameResiduals> out;
    for (std::size_t v = 0; v < poses.size() && v < views.frames.size(); ++v)
        out.push_back(frameResiduals(views.frames[v], views.imagePoints[v], views.objectPoints[v], model, poses[v]));
    return out;
}

double largestError(const std::vector<FrameResiduals>& residuals) {
    double largest = 0;
    for (const FrameResiduals& frame : residuals)
        for (std::size_t i = 0; i < frame.detected.size(); ++i) {
            const double l = cv::norm(frame.error(i));
            if (std::isfinite(l)) largest = std::max(largest, l);
        }
    return largest;
}

std::vector<RadialBin> radialErrorProfile(const std::vector<FrameResiduals>& residuals, cv::Point2d principalPoint,
                                          int rings) {
    std::vector<std::pair<double, double>> samples;  // radius, error length
    double farthest = 0;
    for (const FrameResiduals& frame : residuals)
        for (std::size_t i = 0; i < frame.detected.size(); ++i) {
            const double radius = cv::norm(cv::Point2d(frame.detected[i]) - principalPoint);
            const double length = cv::norm(frame.error(i));
            if (!std::isfinite(radius) || !std::isfinite(length)) continue;
            samples.emplace_back(radius, length);
            farthest = std::max(farthest, radius);
        }
    std::vector<RadialBin> bins;
    if (samples.empty() || rings < 1 || !(farthest > 0)) return bins;
    const double width = farthest / rings;
    std::vector<double> sums(static_cast<std::size_t>(rings), 0.0);
    std::vector<int> counts(static_cast<std::size_t>(rings), 0);
    for (const auto& [radius, length] : samples) {
        const std::size_t ring = std::min(static_cast<std::size_t>(radius / width), static_cast<std::size_t>(rings - 1));
        sums[ring] += length;
        ++counts[ring];
    }
    for (int r = 0; r < rings; ++r)
        if (counts[static_cast<std::size_t>(r)] > 0)
            bins.push_back({(r + 0.5) * width, sums[static_cast<std::size_t>(r)] / counts[static_cast<std::size_t>(r)],
                            counts[static_cast<std::size_t>(r)]});
    return bins;
}

double typicalLargeError(const std::vector<FrameResiduals>& residuals) {
    std::vector<double> lengths;
    for (const FrameResiduals& frame : residuals)
        for (std::size_t i = 0; i < frame.detected.size(); ++i) {
            const double l = cv::norm(frame.error(i));
            if (std::isfinite(l)) lengths.push_back(l);
        }
    if (lengths.empty()) return 0;
    const std::size_t at = std::min(lengths.size() - 1, lengths.size() * 95 / 100);
    std::nth_element(lengths.begin(), lengths.begin() + static_cast<long>(at), lengths.end());
    return lengths[at];
}

double residualDrawingScale(const std::vector<FrameResiduals>& residuals, cv::Size imageSize) {
    const double typical = typicalLargeError(residuals);
    const double diagonal = std::hypot(imageSize.width, imageSize.height);
    if (!(typical > 0) || !(diagonal > 0)) return 1;
    const double wanted = 0.03 * diagonal / typical;
    // The largest round scale not above the one wanted.
    const double power = std::pow(10.0, std::floor(std::log10(wanted)));
    double scale = power;
    for (double f : {2.0, 5.0})
        if (f * power <= wanted) scale = f * power;
    return scale;
}

std::array<unsigned char, 3> residualColour(double length, double top) {
    const double t = top > 0 && std::isfinite(length) ? std::clamp(length / top, 0.0, 1.0) : 1.0;
    if (t < 0.5) return {static_cast<unsigned char>(std::lround(40 + 430 * t)), 200, 40};
    return {255, static_cast<unsigned char>(std::lround(200 - 380 * (t - 0.5))), 40};
}
