#pragma once
// Video files (.mp4, .avi, .mov, .mkv) as a frame source: the frames are
// decoded with the vision library's video input, converted to 8-bit grey and
// a chosen subset of them is kept as a VideoSequence in one buffer.
//
// Which frames are kept: every `step`-th frame counted from the first
// (frames 0, step, 2 step, ...), where the step is the larger of `every` and
// the smallest step that keeps at most `maxFrames` frames. The step is chosen
// from the frame count the container announces. That count is only a hint:
//   - when it is missing or too low, decoding starts with the smaller step
//     and, once `maxFrames` frames are held, drops every second one and
//     doubles the step, so memory never exceeds `maxFrames` frames and the
//     kept frames stay evenly spaced (between half and all of `maxFrames`);
//   - when it was more than twice too high, so that fewer than half the
//     frames the step rule allows were kept, the file is decoded a second
//     time with the step the true count gives.
// Only the kept frames are held; a decoded frame that is not kept is dropped
// at once.

#include <functional>
#include <memory>
#include <string>

#include <opencv2/core/mat.hpp>

#include "document/video_sequence.h"

namespace vexel {

struct VideoImportOptions {
    int every = 1;        // keep at most every Nth frame (1: every frame)
    int maxFrames = 300;  // keep at most this many frames
};

// What an import found and kept.
struct VideoImportInfo {
    int framesInVideo = 0;  // frames decoded (the video's true length)
    int framesKept = 0;
    int step = 1;           // kept frames are 0, step, 2 step, ...
    int passes = 0;         // times the file was decoded
};

// Called after every decoded frame with the frames decoded so far and the
// count the file announces (0 when it announces none); a second pass counts
// from 1 again. Returning false cancels the import.
using VideoProgress = std::function<bool(int decoded, int expected)>;

// True for names ending in .mp4, .avi, .mov or .mkv, in any letter case.
bool isVideoFileName(const std::string& path);

// A source of decoded frames, one after the other. Implemented on the video
// input for files; tests feed made-up frames through it.
class FrameStream {
public:
    virtual ~FrameStream() = default;
    // The frame count the source announces (0: unknown). May be wrong.
    virtual int announcedFrames() = 0;
    // The next frame in any of 8-bit grey, colour (blue-green-red) or
    // colour with alpha; false at the end. Frames that are not kept are only
    // asked for with `keep` false, so a source may skip their conversion.
    virtual bool next(cv::Mat& frame, bool keep) = 0;
    // Back to the first frame for another pass; false when that fails.
    virtual bool restart() = 0;
};

// Reads the kept frames of `stream` into a new 8-bit sequence, with the
// video's frame numbers as the frames' source numbers. Null, with the
// problem in `error`, when no frame could be decoded, a frame differs in
// size from the first, memory runs out or `progress` cancelled.
std::unique_ptr<VideoSequence> readFrameStream(FrameStream& stream, const VideoImportOptions& options,
                                               VideoImportInfo& info, std::string& error,
                                               const VideoProgress& progress = {});

// Opens `path` with the video input; null with the problem (without the
// file's name) in `error` when it is not a readable regular file, does not
// start like an MP4, QuickTime, AVI or Matroska file, or cannot be decoded.
std::unique_ptr<FrameStream> openVideoFile(const std::string& path, std::string& error);

// The video module's entry point (vexel-video.so, opened on the first
// video): a stream over the video input for `name`, or null when the input
// cannot open it. The caller owns the stream.
using OpenVideoCapture = FrameStream*(const char* name);
constexpr const char* OPEN_VIDEO_CAPTURE = "vexelOpenVideoCapture";

// openVideoFile, then readFrameStream; the sequence's source path is `path`.
std::unique_ptr<VideoSequence> readVideoFile(const std::string& path, const VideoImportOptions& options,
                                             VideoImportInfo& info, std::string& error,
                                             const VideoProgress& progress = {});

}  // namespace vexel
