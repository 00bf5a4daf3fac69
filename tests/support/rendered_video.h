#pragma once
// Videos for the tests: rendered views of the board written as Motion JPEG
// in an AVI file, and a video file without frames.

#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include "pattern/renderer.h"

namespace vexel::test {

// The camera, poses and rendering the video tests share: 60 views at
// 640 x 480 with a little blur and noise.
inline vexel::pattern::Camera videoCamera() { return {}; }

inline vexel::pattern::RenderOptions videoRenderOptions() {
    vexel::pattern::RenderOptions options;
    options.samples = 4;
    options.blurSigma = 0.6;
    options.noiseSigma = 1.5;
    return options;
}

// Writes one grey frame per pose; false with `error` set when the writer
// cannot be opened.
inline bool writeRenderedVideo(const std::string& path, const vexel::pattern::Camera& camera,
                               const std::vector<vexel::pattern::ViewPose>& poses,
                               const vexel::pattern::RenderOptions& options, std::string& error) {
    cv::VideoWriter writer(path, cv::CAP_FFMPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 25.0,
                           cv::Size(camera.width, camera.height), false);
    if (!writer.isOpened()) {
        error = "cannot open a Motion JPEG writer for " + path;
        return false;
    }
    // The views are rendered on this thread alone: the vision library's
    // worker pool synchronises in code ThreadSanitizer cannot see, and the
    // document tests run under it.
    const int threads = cv::getNumThreads();
    cv::setNumThreads(0);
    for (std::size_t i = 0; i < poses.size(); ++i) {
        vexel::pattern::RenderOptions view = options;
        view.noiseSeed = options.noiseSeed + static_cast<uint32_t>(i);
        writer.write(vexel::pattern::renderView(camera, poses[i], view).image);
    }
    cv::setNumThreads(threads);
    writer.release();
    return true;
}

// An AVI file whose writer was closed before any frame was written.
inline bool writeEmptyVideo(const std::string& path, std::string& error) {
    cv::VideoWriter writer(path, cv::CAP_FFMPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 25.0,
                           cv::Size(64, 48), false);
    if (!writer.isOpened()) {
        error = "cannot open a Motion JPEG writer for " + path;
        return false;
    }
    writer.release();
    return true;
}

// The video tests' folder: "clip.avi", the board seen from 60 random poses,
// and "empty.avi", a video without frames.
inline bool writeTestVideos(const std::filesystem::path& dir, std::string& error) {
    const vexel::pattern::Camera camera = videoCamera();
    return writeRenderedVideo((dir / "clip.avi").string(), camera, vexel::pattern::randomPoses(camera, 60, 20261209),
                              videoRenderOptions(), error) &&
           writeEmptyVideo((dir / "empty.avi").string(), error);
}

}  // namespace vexel::test
