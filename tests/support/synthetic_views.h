#pragma once
// Calibration views made without rendering: the renderer's true corners of
// the board for given poses, with Gaussian noise of a known size added, so
// that calibrations from them are quick and their spread is known.

#include <string>
#include <vector>

#include "calibration/calibration_checks.h"
#include "calibration/calibration_insight.h"
#include "calibration/camera_calibration.h"
#include "document/vexel_doc.h"
#include "support/document_access.h"
#include "pattern/renderer.h"

namespace vexel::test {

// The 110 corners of every pose as one view each (frames 0, 1, ...), image
// positions moved by normal noise of `noise` pixels per coordinate.
inline CalibrationViews syntheticViews(const pattern::Camera& camera, const std::vector<pattern::ViewPose>& poses,
                                       double noise, uint32_t seed = 1) {
    pattern::PortableRandom random(seed);
    CalibrationViews views;
    for (std::size_t v = 0; v < poses.size(); ++v) {
        views.frames.push_back(static_cast<int>(v));
        views.imagePoints.emplace_back();
        views.objectPoints.emplace_back();
        for (const pattern::CornerTruth& c : pattern::trueCorners(camera, poses[v])) {
            views.imagePoints.back().emplace_back(static_cast<float>(c.imageX + noise * random.normal()),
                                                  static_cast<float>(c.imageY + noise * random.normal()));
            views.objectPoints.back().emplace_back(static_cast<float>(c.patternX), static_cast<float>(c.patternY), 0.0f);
        }
    }
    return views;
}

// The frontal set of the renderer's frontal pose range, and the same with
// views tilted in the frame's corners added.
inline std::vector<pattern::ViewPose> frontalPoses(const pattern::Camera& camera, int count, uint32_t seed = 3) {
    return pattern::randomPoses(camera, count, seed, pattern::frontalPoseRange());
}

inline std::vector<pattern::ViewPose> withCornerPoses(const pattern::Camera& camera,
                                                      std::vector<pattern::ViewPose> poses, int count,
                                                      uint32_t seed = 5) {
    for (const pattern::ViewPose& p : pattern::randomPoses(camera, count, seed, pattern::cornerPoseRange()))
        poses.push_back(p);
    return poses;
}

// Gives `doc` the calibration of `views` as Intrinsic Calibration would
// leave it (record, figures and insight), without searching any frame; the
// document's frames 0, 1, ... stand for the views.
inline void installCalibration(CVexelDoc& doc, const CalibrationViews& views, cv::Size size) {
    const IntrinsicResult result = calibrateIntrinsic(views, size);
    DocumentTestAccess::calibration(doc) = std::make_unique<CalibrationRecord>(result.record);
    DocumentTestAccess::stats(doc) = intrinsicStats(views, result, size, 0, {});
}

}  // namespace vexel::test
