#include "calibration/calibration_insight.h"

#include <algorithm>
#include <cmath>

#include "calibration/fixed_format.h"

const char* const UNCERTAINTY_POINT_NAMES[5] = {"centre", "top left", "top right", "bottom left", "bottom right"};

int CalibrationInsight::indexOf(int frame) const {
    const auto it = std::find(frames.begin(), frames.end(), frame);
    return it == frames.end() ? -1 : static_cast<int>(it - frames.begin());
}

const FrameResiduals* CalibrationInsight::residualsOf(int frame) const {
    const int i = indexOf(frame);
    return i >= 0 && static_cast<std::size_t>(i) < residuals.size() ? &residuals[static_cast<std::size_t>(i)] : nullptr;
}

std::shared_ptr<const CalibrationInsight> analyseCalibration(const CalibrationViews& views,
                                                             const CalibrationRecord& record,
                                                             const std::vector<FramePose>& poses, cv::Size imageSize) {
    auto insight = std::make_shared<CalibrationInsight>();
    const CameraModel model(record);
    insight->record = record;
    insight->imageSize = imageSize;
    insight->principalPoint = model.principalPoint();
    const std::size_t count = std::min(poses.size(), views.frames.size());
    insight->frames.assign(views.frames.begin(), views.frames.begin() + static_cast<long>(count));
    insight->poses.assign(poses.begin(), poses.begin() + static_cast<long>(count));
    insight->residuals = calibrationResiduals(views, model, insight->poses);

    bool any = false;
    cv::Point2d low, high;
    for (const auto& object : views.objectPoints)
        for (const cv::Point3f& p : object) {
            if (!any) low = high = cv::Point2d(p.x, p.y);
            low = cv::Point2d(std::min(low.x, double(p.x)), std::min(low.y, double(p.y)));
            high = cv::Point2d(std::max(high.x, double(p.x)), std::max(high.y, double(p.y)));
            any = true;
        }
    if (any) insight->boardExtent = cv::Rect2d(low, high);

    insight->coverage = coverageFigures(views, insight->poses, imageSize);
    insight->verdict = coverageVerdict(insight->coverage);

    insight->uncertaintyAtPoints.fill(std::nan(""));
    ParameterCovariance covariance;
    if (count == static_cast<std::size_t>(views.viewCount()) && insight->coverage.typicalDepth > 0 &&
        covariance.compute(model, views, insight->poses)) {
        const ProjectionUncertainty uncertainty(model, covariance, insight->poses, insight->coverage.typicalDepth);
        insight->uncertainty = sampleUncertainty(uncertainty, imageSize, insight->coverage.typicalDepth);
        const double right = imageSize.width - 1, bottom = imageSize.height - 1;
        const cv::Point2d points[5] = {{right / 2, bottom / 2}, {0, 0}, {right, 0}, {0, bottom}, {right, bottom}};
        for (int i = 0; i < 5; ++i) insight->uncertaintyAtPoints[static_cast<std::size_t>(i)] = uncertainty.at(points[i]);
    }
    return insight;
}

std::vector<std::string> insightLines(const CalibrationInsight& insight) {
    std::vector<std::string> lines = coverageLines(insight.coverage);
    if (!insight.uncertainty.empty()) {
        const auto& at = insight.uncertaintyAtPoints;
        double corner = 0;
        for (int i = 1; i < 5; ++i)
            if (std::isfinite(at[static_cast<std::size_t>(i)])) corner = std::max(corner, at[static_cast<std::size_t>(i)]);
        lines.push_back("projection uncertainty at " + vexel::formatDecimals(insight.uncertainty.depth, 1) +
                        " cells: " + vexel::formatDecimals(at[0], 3) + " px at the centre, " +
                        vexel::formatDecimals(corner, 3) + " px at the worst corner");
    }
    lines.push_back("verdict: " + insight.verdict.line);
    return lines;
}
