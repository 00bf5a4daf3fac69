#include "calibration/calibration_checks.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <utility>

#include "calibration/calibration_insight.h"
#include "calibration/fixed_format.h"
#include "calibration/lens_fit.h"
#include "calibration/plural.h"

namespace {

// A view's image points by their pattern points.
using ViewPoints = std::map<std::pair<float, float>, cv::Point2f>;

ViewPoints pointsOf(const CalibrationViews& views, std::size_t v) {
    ViewPoints points;
    const auto& image = views.imagePoints[v];
    const auto& object = views.objectPoints[v];
    for (std::size_t i = 0; i < image.size() && i < object.size(); ++i)
        points.emplace(std::make_pair(object[i].x, object[i].y), image[i]);
    return points;
}

bool sameView(const ViewPoints& a, const ViewPoints& b) {
    // Once the sum is above this, the RMS over any number of shared points
    // is above the limit: most pairs of views part after their first point.
    const double limit = SAME_VIEW_DISTANCE * SAME_VIEW_DISTANCE * static_cast<double>(std::min(a.size(), b.size()));
    double sum = 0;
    int shared = 0;
    for (const auto& [pattern, image] : a) {
        const auto other = b.find(pattern);
        if (other == b.end()) continue;
        const cv::Point2f d = image - other->second;
        sum += static_cast<double>(d.x) * d.x + static_cast<double>(d.y) * d.y;
        ++shared;
        if (sum > limit) return false;
    }
    return shared >= 4 && std::sqrt(sum / shared) < SAME_VIEW_DISTANCE;
}

// The shortest text that reads back as `value`, whatever the locale.
std::string shortNumber(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

const char* const CAMERA_NAMES[9] = {"fx", "", "cx", "", "fy", "cy", "", "", ""};
const char* const TRANSLATION_NAMES[3] = {"translation x", "translation y", "translation z"};
const char* const DISTORTION_NAMES[4] = {"k1", "k2", "p1", "p2"};
// The parameters every lens model shares, first of its deviations.
const char* const DEVIATION_NAMES[4] = {"fx", "fy", "cx", "cy"};

}  // namespace

cv::Size mostCommonSize(const std::vector<cv::Size>& sizes, cv::Size preferred) {
    std::vector<std::pair<cv::Size, int>> counts;  // in the order first seen
    for (const cv::Size& size : sizes) {
        if (size.empty()) continue;
        auto it = std::find_if(counts.begin(), counts.end(), [&](const auto& c) { return c.first == size; });
        if (it == counts.end())
            counts.emplace_back(size, 1);
        else
            ++it->second;
    }
    cv::Size best;
    int bestCount = 0;
    for (const auto& [size, count] : counts) {
        if (count > bestCount || (count == bestCount && size == preferred)) {
            best = size;
            bestCount = count;
        }
    }
    return best;
}

int distinctViewCount(const CalibrationViews& views) {
    std::vector<ViewPoints> distinct;
    const std::size_t count = std::min(views.imagePoints.size(), views.objectPoints.size());
    for (std::size_t v = 0; v < count; ++v) {
        ViewPoints points = pointsOf(views, v);
        const bool seen = std::any_of(distinct.begin(), distinct.end(),
                                      [&](const ViewPoints& earlier) { return sameView(points, earlier); });
        if (!seen) distinct.push_back(std::move(points));
    }
    return static_cast<int>(distinct.size());
}

std::vector<std::string> calibrationWarnings(const CalibrationStats& stats, double fx) {
    std::vector<std::string> warnings;
    if (stats.distinctViews < MIN_DISTINCT_VIEWS) {
        std::string warning = "only " + vexel::plural(stats.distinctViews, "distinct view", "distinct views") + " (";
        warning += std::to_string(MIN_DISTINCT_VIEWS) + " or more are needed for a reliable calibration)";
        warnings.push_back(std::move(warning));
    }
    std::string uncertain;
    const double limit = MAX_DEVIATION_SHARE * std::abs(fx);
    for (std::size_t i = 0; i < 4; ++i) {
        const double deviation = stats.stdDeviations[i];
        // Not a number counts as unknown, so as doubtful.
        if (deviation <= limit) continue;
        if (!uncertain.empty()) uncertain += ", ";
        uncertain += DEVIATION_NAMES[i];
        if (std::isfinite(deviation)) {
            uncertain += ' ';
            vexel::appendFixed(uncertain, deviation);
            uncertain += " px";
        } else {
            uncertain += " not known";
        }
    }
    if (!uncertain.empty()) warnings.push_back("uncertain result: standard deviation of " + uncertain + " (over 1 % of fx)");
    if (stats.framesOtherSize > 0) {
        std::string warning = vexel::plural(stats.framesOtherSize, "frame", "frames");
        warning += " of another size left out (calibrated at " + std::to_string(stats.imageSize.width) + " x " +
                   std::to_string(stats.imageSize.height) + ")";
        warnings.push_back(std::move(warning));
    }
    return warnings;
}

std::string calibrationFieldName(std::size_t index) {
    using R = CalibrationRecord;
    if (index < R::ROTATION) {
        const char* name = CAMERA_NAMES[index];
        return *name ? std::string(name) : "camera matrix element " + std::to_string(index);
    }
    if (index < R::TRANSLATION) return "rotation matrix element " + std::to_string(index - R::ROTATION);
    if (index < R::DISTORTION) return TRANSLATION_NAMES[index - R::TRANSLATION];
    if (index < R::SIZE) return DISTORTION_NAMES[index - R::DISTORTION];
    return {};
}

std::string calibrationFileField(char form, int position, LensModel model) {
    if (position < 0) return {};
    if (form == 'm') {
        // fx, fy, cx, cy, the model's coefficients, then as the labelled form.
        const int count = lensCoefficientCount(model);
        if (position >= 4 && position < 4 + count) return lensCoefficientName(model, position - 4);
        return calibrationFileField('c', position < 4 ? position : position - count + 4);
    }
    if (form == 'c') {
        // fx, fy, cx, cy, the distortion, the translation, the rotation.
        static const std::size_t order[20] = {0,  4,  2,  5,  21, 22, 23, 24, 18, 19,
                                              20, 9,  10, 11, 12, 13, 14, 15, 16, 17};
        return position < 20 ? calibrationFieldName(order[position]) : std::string();
    }
    return calibrationFieldName(static_cast<std::size_t>(position));
}

std::string calibrationValueProblem(const CalibrationRecord& record) {
    for (std::size_t i = 0; i < CalibrationRecord::SIZE; ++i)
        if (!std::isfinite(record.values[i])) {
            // The first four coefficients of another model have its names.
            if (i >= CalibrationRecord::DISTORTION && record.model != LensModel::OpenCv4) {
                const int coefficient = static_cast<int>(i - CalibrationRecord::DISTORTION);
                return std::string(lensCoefficientName(record.model, coefficient)) + " is not a finite number";
            }
            return calibrationFieldName(i) + " is not a finite number";
        }
    for (int i = 4; i < lensCoefficientCount(record.model); ++i)
        if (!std::isfinite(record.distortion(static_cast<std::size_t>(i))))
            return std::string(lensCoefficientName(record.model, i)) + " is not a finite number";
    if (record.fx() <= 0) return "fx is " + shortNumber(record.fx()) + " (it must be above 0)";
    if (record.fy() <= 0) return "fy is " + shortNumber(record.fy()) + " (it must be above 0)";
    return {};
}

std::string calibrationSizeProblem(const CalibrationRecord& record, const CalibrationStats& stats,
                                   cv::Size frameSize) {
    const auto sizeText = [](cv::Size size) {
        return std::to_string(size.width) + " x " + std::to_string(size.height);
    };
    if (frameSize.empty()) return {};
    if (!stats.imageSize.empty()) {
        if (stats.imageSize == frameSize) return {};
        return "the calibration is for " + sizeText(stats.imageSize) + " frames, this frame is " +
               sizeText(frameSize);
    }
    if (record.cx() >= 0 && record.cx() < frameSize.width && record.cy() >= 0 && record.cy() < frameSize.height)
        return {};
    return "the calibration's principal point (" + vexel::formatDecimals(record.cx(), 1) + ", " +
           vexel::formatDecimals(record.cy(), 1) + ") lies outside this " + sizeText(frameSize) +
           " frame: it is for frames of another size";
}

CalibrationStats intrinsicStats(const CalibrationViews& views, const IntrinsicResult& result, cv::Size imageSize,
                                int framesOtherSize, const IntrinsicOptions& options) {
    CalibrationStats stats;
    stats.valid = true;
    stats.frames = views.frames;
    stats.pointCounts = views.pointCounts();
    stats.perViewErrors = result.perViewErrors;
    stats.rms = result.rms;
    stats.framesOtherSize = framesOtherSize;
    stats.imageSize = imageSize;
    stats.stdDeviations = result.stdDeviations;
    stats.covariance = result.covariance;
    stats.solver = solverName(result.solver);
    stats.modelChoice = result.modelChoice;
    stats.modelCandidates = result.candidates;
    stats.flex = result.flex;
    stats.distinctViews = distinctViewCount(views);
    stats.warnings = calibrationWarnings(stats, result.record.fx());
    for (std::string& warning : lensFitWarnings(views, result, imageSize, options))
        stats.warnings.push_back(std::move(warning));
    stats.poseFrame = views.frames.empty() ? -1 : views.frames.front();
    stats.insight = analyseCalibration(views, result.record, result.poses, imageSize);
    return stats;
}
