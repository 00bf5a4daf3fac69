#include "calibration/calibration_views.h"

#include "grid/grid_set.h"

bool frameHasView(const GridSet& set, int frame) { return set.getPointCount(frame) >= MIN_FRAME_POINTS; }

void gatherFramePoints(const GridSet& set, int frame, std::vector<cv::Point2f>& imagePoints,
                       std::vector<cv::Point3f>& objectPoints) {
    imagePoints.clear();
    objectPoints.clear();
    int count = set.getPointCount(frame);
    for (int j = 0; j < count; ++j) {
        GridPoint image{}, pattern{};
        if (!set.getImagePoint(frame, j, image) || !set.getPatternPoint(frame, j, pattern)) break;
        imagePoints.emplace_back(image.x, image.y);
        objectPoints.emplace_back(pattern.x, pattern.y, 0.0f);
    }
}

CalibrationViews gatherCalibrationViews(const GridSet& set, int frameCount,
                                        const std::function<bool(int frame)>& accept) {
    CalibrationViews views;
    for (int frame = 0; frame < frameCount; ++frame) {
        if (!frameHasView(set, frame)) continue;
        if (accept && !accept(frame)) continue;
        views.frames.push_back(frame);
        views.imagePoints.emplace_back();
        views.objectPoints.emplace_back();
        gatherFramePoints(set, frame, views.imagePoints.back(), views.objectPoints.back());
    }
    return views;
}
