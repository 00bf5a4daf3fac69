#include "document/video_file.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "calibration/regular_file.h"
#include "document/plugin_library.h"

namespace vexel {

namespace {

// The frame buffer grows from this many frames when the count is unknown.
constexpr int FIRST_CAPACITY = 32;

std::string lowerExtension(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

int ceilDiv(long long a, long long b) { return static_cast<int>(std::min<long long>((a + b - 1) / b, INT_MAX)); }

// The step the rule gives for `count` frames: at least `every`, and large
// enough that at most `maxFrames` frames are kept.
int stepFor(long long count, int every, int maxFrames) { return std::max(every, ceilDiv(count, maxFrames)); }

// An 8-bit grey view of a decoded frame; empty for a pixel type the reader
// does not know.
cv::Mat toGrey(const cv::Mat& frame) {
    cv::Mat eight;
    if (frame.depth() == CV_8U)
        eight = frame;
    else if (frame.depth() == CV_16U)
        frame.convertTo(eight, CV_MAKETYPE(CV_8U, frame.channels()), 1.0 / 257.0);
    else
        return {};
    cv::Mat grey;
    switch (eight.channels()) {
        case 1: grey = eight; break;
        case 3: cv::cvtColor(eight, grey, cv::COLOR_BGR2GRAY); break;
        case 4: cv::cvtColor(eight, grey, cv::COLOR_BGRA2GRAY); break;
        default: return {};
    }
    return grey;
}

std::string sizeText(int width, int height) { return std::to_string(width) + " x " + std::to_string(height); }

// The kept frames of one pass, in one buffer that grows up to `maxFrames`
// frames and is thinned out (every second frame dropped, the step doubled)
// when it is full and another frame is to be kept.
class KeptFrames {
public:
    KeptFrames(int step, int maxFrames, int expected)
        : m_step(step), m_maxFrames(maxFrames), m_expected(std::clamp(expected, 1, maxFrames)) {}

    int step() const { return m_step; }
    int count() const { return m_count; }
    bool wants(long long index) const { return index % m_step == 0; }

    // Adds the grey frame that has number `index` in the video, which
    // wants() said is kept. False with `error` set when it cannot be held.
    bool add(const cv::Mat& grey, long long index, std::string& error) {
        if (!m_frames) {
            m_frames = std::make_unique<VideoSequence>();
            if (!m_frames->Allocate(m_expected, grey.cols, grey.rows, 8)) return outOfMemory(m_expected, error);
        } else if (grey.cols != m_frames->Width() || grey.rows != m_frames->Height()) {
            error = "frame " + std::to_string(index) + " is " + sizeText(grey.cols, grey.rows) +
                    " pixels, the first frame " + sizeText(m_frames->Width(), m_frames->Height());
            return false;
        }
        if (m_count == m_maxFrames) {
            thinOut();
            if (!wants(index)) return true;
        }
        if (m_count == m_frames->FrameCount() && !grow(error)) return false;
        std::uint8_t* out = m_frames->Frame(m_count);
        const std::size_t row = static_cast<std::size_t>(grey.cols);
        for (int y = 0; y < grey.rows; ++y) std::memcpy(out + static_cast<std::size_t>(y) * row, grey.ptr(y), row);
        m_numbers.push_back(static_cast<int>(std::min<long long>(index, INT_MAX)));
        ++m_count;
        return true;
    }

    // The kept frames as a sequence (null when none was kept).
    std::unique_ptr<VideoSequence> take() {
        if (!m_frames) return nullptr;
        m_frames->Truncate(m_count);
        m_frames->SetSourceFrameNumbers(std::move(m_numbers));
        return std::move(m_frames);
    }

private:
    bool outOfMemory(int frames, std::string& error) {
        error = "not enough memory for " + std::to_string(frames) + " frames";
        return false;
    }

    // Keeps the frames at even positions, which are the multiples of twice
    // the step, and doubles the step.
    void thinOut() {
        const std::size_t size = m_frames->FrameSize();
        int kept = 0;
        for (int j = 0; j < m_count; j += 2, ++kept) {
            if (j != kept) std::memcpy(m_frames->Frame(kept), m_frames->Frame(j), size);
            m_numbers[static_cast<std::size_t>(kept)] = m_numbers[static_cast<std::size_t>(j)];
        }
        m_count = kept;
        m_numbers.resize(static_cast<std::size_t>(kept));
        m_step *= 2;
    }

    bool grow(std::string& error) {
        const int capacity = static_cast<int>(std::min<long long>(
            m_maxFrames, std::max<long long>(2LL * m_frames->FrameCount(), FIRST_CAPACITY)));
        auto bigger = std::make_unique<VideoSequence>();
        if (!bigger->Allocate(capacity, m_frames->Width(), m_frames->Height(), 8)) return outOfMemory(capacity, error);
        std::memcpy(bigger->Frame(0), m_frames->Frame(0), static_cast<std::size_t>(m_count) * m_frames->FrameSize());
        m_frames = std::move(bigger);
        return true;
    }

    int m_step;
    int m_maxFrames;
    int m_expected;
    int m_count = 0;
    std::unique_ptr<VideoSequence> m_frames;  // FrameCount() is the capacity
    std::vector<int> m_numbers;               // each kept frame's number in the video
};

struct PassResult {
    std::unique_ptr<VideoSequence> frames;
    long long decoded = 0;
    int step = 1;
    bool cancelled = false;
};

// One pass over the stream from its first frame, starting with `step`.
bool runPass(FrameStream& stream, int step, int maxFrames, int announced, PassResult& result, std::string& error,
             const VideoProgress& progress) {
    const int expected = announced > 0 ? ceilDiv(announced, step) : FIRST_CAPACITY;
    KeptFrames kept(step, maxFrames, expected);
    cv::Mat frame;
    long long index = 0;
    for (;; ++index) {
        const bool keep = kept.wants(index);
        if (!stream.next(frame, keep)) break;
        if (keep) {
            const cv::Mat grey = toGrey(frame);
            if (grey.empty() || grey.cols <= 0 || grey.rows <= 0) {
                error = "frame " + std::to_string(index) + " has a pixel format that cannot be converted to grey";
                return false;
            }
            if (!kept.add(grey, index, error)) return false;
        }
        if (progress && !progress(static_cast<int>(std::min<long long>(index + 1, INT_MAX)), announced)) {
            result.cancelled = true;
            error = "cancelled";
            return false;
        }
    }
    result.decoded = index;
    result.step = kept.step();
    result.frames = kept.take();
    return true;
}

// True when `head`, the first 12 bytes of a file, are those of an MP4 or
// QuickTime file (a box size and one of the box types such files start
// with), an AVI file (RIFF) or a Matroska or WebM file (EBML). Other content
// is never handed to the decoder, which would otherwise probe for any format
// it knows, playlists that name further files among them.
bool looksLikeVideoContainer(const std::array<unsigned char, 12>& head) {
    if (std::memcmp(head.data(), "RIFF", 4) == 0 && std::memcmp(head.data() + 8, "AVI ", 4) == 0) return true;
    if (head[0] == 0x1a && head[1] == 0x45 && head[2] == 0xdf && head[3] == 0xa3) return true;
    static const char* const BOXES[] = {"ftyp", "moov", "mdat", "free", "skip", "wide", "pnot", "styp"};
    for (const char* box : BOXES)
        if (std::memcmp(head.data() + 4, box, 4) == 0) return true;
    return false;
}


}  // namespace

bool isVideoFileName(const std::string& path) {
    const std::string ext = lowerExtension(path);
    return ext == ".mp4" || ext == ".avi" || ext == ".mov" || ext == ".mkv";
}

std::unique_ptr<VideoSequence> readFrameStream(FrameStream& stream, const VideoImportOptions& options,
                                               VideoImportInfo& info, std::string& error,
                                               const VideoProgress& progress) {
    info = VideoImportInfo{};
    const int every = std::max(options.every, 1);
    const int maxFrames = std::clamp(options.maxFrames, 1, VideoSequence::MAX_FILE_FRAMES);
    const int announced = std::max(stream.announcedFrames(), 0);

    PassResult pass;
    if (!runPass(stream, announced > 0 ? stepFor(announced, every, maxFrames) : every, maxFrames, announced, pass,
                 error, progress))
        return nullptr;
    info.passes = 1;
    if (!pass.frames) {
        error = "it holds no frame that can be decoded";
        return nullptr;
    }

    // The count was far too high: the step rule allows at least twice the
    // frames kept. Now that the true count is known, decode once more.
    const int rightStep = stepFor(pass.decoded, every, maxFrames);
    if (2LL * pass.frames->FrameCount() < ceilDiv(pass.decoded, rightStep) && stream.restart()) {
        PassResult second;
        std::string secondError;
        if (runPass(stream, rightStep, maxFrames, static_cast<int>(std::min<long long>(pass.decoded, INT_MAX)),
                    second, secondError, progress) &&
            second.frames && second.decoded == pass.decoded) {
            pass = std::move(second);
            info.passes = 2;
        } else if (second.cancelled) {
            error = secondError;
            return nullptr;
        }
        // Otherwise the first pass's frames serve.
    }
    info.framesInVideo = static_cast<int>(std::min<long long>(pass.decoded, INT_MAX));
    info.framesKept = pass.frames->FrameCount();
    info.step = pass.step;
    return std::move(pass.frames);
}

std::unique_ptr<FrameStream> openVideoFile(const std::string& path, std::string& error) {
    std::string why;
    std::FILE* file = openRegularFile(path, &why);
    if (!file) {
        error = why;
        return nullptr;
    }
    std::array<unsigned char, 12> head{};
    const std::size_t got = std::fread(head.data(), 1, head.size(), file);
    std::fclose(file);
    if (got == 0) {
        error = "the file is empty";
        return nullptr;
    }
    if (got < head.size() || !looksLikeVideoContainer(head)) {
        error = "it is not an MP4, QuickTime, AVI or Matroska video";
        return nullptr;
    }
    // The decoder and its libraries are loaded with the first video.
    auto open = pluginFunction<OpenVideoCapture>("video", OPEN_VIDEO_CAPTURE, error);
    if (!open) return nullptr;
    // The "file:" prefix keeps the decoder from reading a name with a colon
    // as a protocol.
    std::unique_ptr<FrameStream> stream(open(("file:" + path).c_str()));
    if (!stream) error = "its video cannot be decoded";
    return stream;
}

std::unique_ptr<VideoSequence> readVideoFile(const std::string& path, const VideoImportOptions& options,
                                             VideoImportInfo& info, std::string& error,
                                             const VideoProgress& progress) {
    info = VideoImportInfo{};
    std::unique_ptr<FrameStream> stream = openVideoFile(path, error);
    if (!stream) return nullptr;
    std::unique_ptr<VideoSequence> sequence = readFrameStream(*stream, options, info, error, progress);
    if (sequence) sequence->SetSourcePath(path);
    return sequence;
}

}  // namespace vexel
