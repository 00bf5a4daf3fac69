// The video module (vexel-video.so): frames of a video file decoded by the
// vision library's video input. Kept out of the programs because the video
// input pulls in a large set of codec and container libraries that only a
// video import needs.

#include <algorithm>
#include <climits>
#include <exception>
#include <memory>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include "document/video_file.h"

namespace vexel {
namespace {

// A container that announces more frames than this is taken to announce
// none (a broken or missing duration gives absurd counts).
constexpr double MAX_ANNOUNCED_FRAMES = 1e9;

class CaptureStream : public FrameStream {
public:
    explicit CaptureStream(std::string name) : m_name(std::move(name)) {}

    bool open() {
        m_capture.release();
        try {
            return m_capture.open(m_name, cv::CAP_FFMPEG) && m_capture.isOpened();
        } catch (const cv::Exception&) {
            return false;
        }
    }

    int announcedFrames() override {
        const double count = m_capture.get(cv::CAP_PROP_FRAME_COUNT);
        return count >= 1.0 && count < MAX_ANNOUNCED_FRAMES ? static_cast<int>(std::min<double>(count, INT_MAX)) : 0;
    }

    bool next(cv::Mat& frame, bool keep) override {
        try {
            // A frame that is not kept is decoded (later frames may depend on
            // it) but never converted.
            if (!keep) return m_capture.grab();
            return m_capture.read(frame) && !frame.empty();
        } catch (const cv::Exception&) {
            return false;  // a broken stream ends where it breaks
        }
    }

    bool restart() override { return open(); }

private:
    std::string m_name;
    cv::VideoCapture m_capture;
};

}  // namespace
}  // namespace vexel

extern "C" vexel::FrameStream* vexelOpenVideoCapture(const char* name) {
    try {
        auto stream = std::make_unique<vexel::CaptureStream>(name);
        return stream->open() ? stream.release() : nullptr;
    } catch (const std::exception&) {
        return nullptr;
    }
}
