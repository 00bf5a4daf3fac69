#pragma once
// Calibration views as the calibration receives them: rendered through a
// known camera and searched by the grid pipeline (the lens model tests and
// the survey bench/lens_models.cpp), or read from a correspondence file.

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "calibration/calibration_views.h"
#include "calibration/points_file.h"
#include "grid/extract_frame.h"
#include "grid/grid_set.h"
#include "pattern/renderer.h"

namespace vexel::test {

// Every pose rendered with `options` and searched; the views with 4 or more
// points, their frame numbers the poses' indices.
inline CalibrationViews renderedCalibrationViews(const pattern::Camera& camera,
                                                 const std::vector<pattern::ViewPose>& poses,
                                                 const pattern::RenderOptions& options) {
    CalibrationViews views;
    for (int v = 0; v < static_cast<int>(poses.size()); ++v) {
        pattern::RenderOptions viewOptions = options;
        viewOptions.noiseSeed = options.noiseSeed + static_cast<uint32_t>(v);
        const pattern::RenderedView view = pattern::renderView(camera, poses[v], viewOptions);
        GridSet set;
        set.allocate(1, 200);
        extractFrame(set, 0, view.image, nullptr, nullptr, nullptr);
        if (set.getPointCount(0) < MIN_FRAME_POINTS) continue;
        views.frames.push_back(v);
        views.imagePoints.emplace_back();
        views.objectPoints.emplace_back();
        gatherFramePoints(set, 0, views.imagePoints.back(), views.objectPoints.back());
    }
    return views;
}

// The first `limit` frames with 4 or more points of a correspondence file,
// with the point lists as the calibration receives them from a grid set.
inline CalibrationViews pointsFileViews(const std::string& path, int limit) {
    CalibrationViews views;
    std::ifstream in(path);
    int frame = -1;
    std::vector<cv::Point2f> image;
    std::vector<cv::Point3f> object;
    auto endFrame = [&] {
        if (image.size() >= 4 && views.viewCount() < limit) {
            views.frames.push_back(frame);
            views.imagePoints.push_back(image);
            views.objectPoints.push_back(object);
        }
        image.clear();
        object.clear();
    };
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("frame", 0) == 0) {
            endFrame();
            frame = std::stoi(line.substr(5));
            continue;
        }
        std::istringstream values(line);
        float px, py, ix, iy;
        if (values >> px >> py >> ix >> iy) {
            image.emplace_back(ix, iy);
            object.emplace_back(px, py, 0.0f);
        }
    }
    endFrame();
    return views;
}

// The default render options of these views: some blur and sensor noise.
inline pattern::RenderOptions cameraLikeOptions() {
    pattern::RenderOptions options;
    options.samples = 4;
    options.blurSigma = 0.6;
    options.noiseSigma = 1.5;
    return options;
}

}  // namespace vexel::test
