// Video files as a frame source: which frames are kept whatever count the
// container announces, a rendered video imported and calibrated, and files
// that are no video refused without touching the working set.

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "document/vexel_doc.h"
#include "document/video_file.h"
#include "support/rendered_video.h"
#include "support/scripted_ui.h"
#include "support/search_grids.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using vexel::FrameStream;
using vexel::VideoImportInfo;
using vexel::VideoImportOptions;

namespace {

// `total` frames of 3 x 2 pixels whose first two pixels hold the frame's
// number (low byte, high byte), announcing `announced` frames.
class CountingStream : public FrameStream {
public:
    CountingStream(int total, int announced) : m_total(total), m_announced(announced) {}

    int announcedFrames() override { return m_announced; }
    bool next(cv::Mat& frame, bool keep) override {
        if (m_index >= m_total) return false;
        if (keep) {
            ++converted;
            frame = cv::Mat(2, 3, CV_8UC1, cv::Scalar(0));
            frame.at<uint8_t>(0, 0) = static_cast<uint8_t>(m_index & 0xff);
            frame.at<uint8_t>(0, 1) = static_cast<uint8_t>(m_index >> 8);
        }
        ++m_index;
        return true;
    }
    bool restart() override {
        m_index = 0;
        ++restarts;
        return true;
    }

    int converted = 0;
    int restarts = 0;

private:
    int m_total;
    int m_announced;
    int m_index = 0;
};

int numberInFrame(const VideoSequence& sequence, int i) {
    const uint8_t* frame = sequence.Frame(i);
    return frame[0] | (frame[1] << 8);
}

// The frames `sequence` holds are the video's frames 0, step, 2 step, ...,
// each with its own pixels and its number as its source number.
void expectEvenlySpaced(const VideoSequence& sequence, int step, int count) {
    ASSERT_EQ(sequence.FrameCount(), count);
    ASSERT_EQ(sequence.SourceFrameNumbers().size(), static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        ASSERT_EQ(sequence.SourceFrameNumbers()[static_cast<std::size_t>(i)], i * step) << "frame " << i;
        ASSERT_EQ(numberInFrame(sequence, i), i * step) << "frame " << i;
    }
}

struct CountCase {
    const char* what;
    int announced;
    int passes;
};

TEST(VideoFrameSelection, KeptFramesAreEvenlySpacedWhateverCountIsAnnounced) {
    // 1000 frames, at most 300 kept: one in 4, 250 frames, by every road.
    for (const CountCase& c : {CountCase{"exact count", 1000, 1}, CountCase{"no count", 0, 1},
                               CountCase{"count far too low", 100, 1}, CountCase{"count one too low", 999, 1},
                               CountCase{"count far too high", 5000, 2}}) {
        SCOPED_TRACE(c.what);
        CountingStream stream(1000, c.announced);
        VideoImportInfo info;
        std::string error;
        auto sequence = vexel::readFrameStream(stream, VideoImportOptions{1, 300}, info, error);
        ASSERT_TRUE(sequence) << error;
        expectEvenlySpaced(*sequence, 4, 250);
        EXPECT_EQ(info.framesInVideo, 1000);
        EXPECT_EQ(info.framesKept, 250);
        EXPECT_EQ(info.step, 4);
        EXPECT_EQ(info.passes, c.passes);
        EXPECT_EQ(stream.restarts, c.passes - 1);
        EXPECT_EQ(sequence->Width(), 3);
        EXPECT_EQ(sequence->BitsPerPixel(), 8);
    }
    // With the count right, only the kept frames are converted.
    CountingStream exact(1000, 1000);
    VideoImportInfo info;
    std::string error;
    ASSERT_TRUE(vexel::readFrameStream(exact, VideoImportOptions{1, 300}, info, error));
    EXPECT_EQ(exact.converted, 250);
}

TEST(VideoFrameSelection, EveryAndMaxFramesTogetherTakeTheLargerStep) {
    struct Case {
        int every, maxFrames, step, count;
    };
    // 60 frames.
    for (const Case& c : {Case{7, 300, 7, 9}, Case{1, 25, 3, 20}, Case{4, 10, 6, 10}, Case{1, 60, 1, 60},
                          Case{1, 1, 60, 1}, Case{100, 300, 100, 1}}) {
        SCOPED_TRACE("every " + std::to_string(c.every) + ", at most " + std::to_string(c.maxFrames));
        for (int announced : {60, 0}) {
            CountingStream stream(60, announced);
            VideoImportInfo info;
            std::string error;
            auto sequence = vexel::readFrameStream(stream, VideoImportOptions{c.every, c.maxFrames}, info, error);
            ASSERT_TRUE(sequence) << error;
            EXPECT_LE(sequence->FrameCount(), c.maxFrames);
            if (announced > 0) {
                expectEvenlySpaced(*sequence, c.step, c.count);
            } else {
                // Without a count the step is found by halving: still evenly
                // spaced, a multiple of `every`, at most maxFrames frames.
                ASSERT_GE(sequence->FrameCount(), 1);
                EXPECT_EQ(info.step % c.every, 0);
                expectEvenlySpaced(*sequence, info.step, sequence->FrameCount());
            }
        }
    }
}

// Frames that are not grey, of the wrong size, or never come.
class ScriptedStream : public FrameStream {
public:
    explicit ScriptedStream(std::vector<cv::Mat> frames) : m_frames(std::move(frames)) {}
    int announcedFrames() override { return 0; }
    bool next(cv::Mat& frame, bool) override {
        if (m_index >= m_frames.size()) return false;
        frame = m_frames[m_index++];
        return true;
    }
    bool restart() override {
        m_index = 0;
        return true;
    }

private:
    std::vector<cv::Mat> m_frames;
    std::size_t m_index = 0;
};

TEST(VideoFrameSelection, ColourBecomesGreyAndBrokenStreamsAreRefused) {
    VideoImportInfo info;
    std::string error;
    // Blue, green and red pixels, and one with alpha.
    cv::Mat bgr(1, 3, CV_8UC3);
    bgr.at<cv::Vec3b>(0, 0) = {255, 0, 0};
    bgr.at<cv::Vec3b>(0, 1) = {0, 255, 0};
    bgr.at<cv::Vec3b>(0, 2) = {0, 0, 255};
    cv::Mat bgra(1, 3, CV_8UC4, cv::Scalar(0, 255, 0, 7));
    ScriptedStream colour({bgr, bgra});
    auto sequence = vexel::readFrameStream(colour, {}, info, error);
    ASSERT_TRUE(sequence) << error;
    ASSERT_EQ(sequence->FrameCount(), 2);
    EXPECT_EQ(sequence->BytesPerPixel(), 1);
    EXPECT_EQ(sequence->Frame(0)[0], 29);
    EXPECT_EQ(sequence->Frame(0)[1], 150);
    EXPECT_EQ(sequence->Frame(0)[2], 76);
    EXPECT_EQ(sequence->Frame(1)[0], 150);

    ScriptedStream none(std::vector<cv::Mat>{});
    EXPECT_FALSE(vexel::readFrameStream(none, {}, info, error));
    EXPECT_EQ(error, "it holds no frame that can be decoded");

    ScriptedStream resized({cv::Mat(4, 6, CV_8UC1, cv::Scalar(1)), cv::Mat(4, 5, CV_8UC1, cv::Scalar(1))});
    EXPECT_FALSE(vexel::readFrameStream(resized, {}, info, error));
    EXPECT_EQ(error, "frame 1 is 5 x 4 pixels, the first frame 6 x 4");

    // Cancelling on the third frame gives nothing.
    CountingStream counting(60, 60);
    EXPECT_FALSE(vexel::readFrameStream(counting, {}, info, error, [](int decoded, int) { return decoded < 3; }));
    EXPECT_EQ(error, "cancelled");
}

// --- real files -----------------------------------------------------------

class VideoFileTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Removed with everything in it when the test program ends.
        static const TempDir scratch("vexel_video");
        dir = scratch.path();
        std::string error;
        ASSERT_TRUE(vexel::test::writeTestVideos(dir, error)) << error;
        std::ofstream(dir / "notes.mp4") << "not a video at all\n";
        // A real header, then nothing that decodes.
        std::ifstream clip(dir / "clip.avi", std::ios::binary);
        std::vector<char> head(4096);
        clip.read(head.data(), static_cast<std::streamsize>(head.size()));
        std::ofstream(dir / "cut.avi", std::ios::binary).write(head.data(), static_cast<std::streamsize>(head.size()));
        fs::create_directories(dir / "folder.mkv");
    }

    void TearDown() override { doc.WaitForLoader(); }

    static std::string path(const char* name) { return (dir / name).string(); }

    static fs::path dir;
    ScriptedUi ui;
    CVexelDoc doc{&ui};
};

fs::path VideoFileTest::dir;

TEST_F(VideoFileTest, RenderedVideoImportsAndCalibratesToTheRenderingCamera) {
    const std::string clip = path("clip.avi");
    ui.openAnswers.push_back({clip});
    const auto start = std::chrono::steady_clock::now();
    doc.OnImportVideo();
    const double importSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(ui.calls.front(), "open|Video Files (*.mp4 *.avi *.mov *.mkv)|*.mp4;*.avi;*.mov;*.mkv|||.mp4|single");
    ASSERT_TRUE(doc.InSequenceMode()) << ui.lastStatus();
    ASSERT_EQ(doc.FrameCount(), 60);
    EXPECT_EQ(ui.lastStatus(), "Imported 60 of 60 frames from " + clip);
    EXPECT_EQ(doc.FrameName(59), clip + " Frame 59");
    EXPECT_EQ(ui.lastTitle(), "Vexel: " + clip + " Frame 0, 640 x 480");
    EXPECT_EQ(doc.GetFrameChannels(), 1);
    EXPECT_EQ(ui.callsStartingWith("busy|"), (std::vector<std::string>{"busy|1", "busy|0"}));

    searchAll(doc, 2);
    doc.OnIntrinsicCalibration();
    ASSERT_TRUE(doc.Calibration()) << ui.lastStatus();
    const vexel::pattern::Camera truth = vexel::test::videoCamera();
    const CalibrationRecord& r = *doc.Calibration();
    // The detector misses a board now and then; the rest is plenty.
    EXPECT_GE(doc.Stats().frames.size(), 50u);
    EXPECT_NEAR(r.fx(), truth.fx, truth.fx * 1e-3);
    EXPECT_NEAR(r.fy(), truth.fy, truth.fy * 1e-3);
    EXPECT_NEAR(r.cx(), truth.cx, 0.5);
    EXPECT_NEAR(r.cy(), truth.cy, 0.5);
    std::cout << "video round trip: fx " << r.fx() << " fy " << r.fy() << " cx " << r.cx() << " cy " << r.cy()
              << ", rms " << doc.Stats().rms << ", solver " << doc.Stats().solver
              << ", import " << importSeconds << " s\n";
}

TEST_F(VideoFileTest, EveryAndMaxFramesKeepTheVideosOwnFrames) {
    const std::string clip = path("clip.avi");
    VideoImportInfo info;
    std::string error;
    auto all = vexel::readVideoFile(clip, {}, info, error);
    ASSERT_TRUE(all) << error;
    ASSERT_EQ(all->FrameCount(), 60);

    ASSERT_TRUE(doc.ImportVideoFile(clip, VideoImportOptions{7, 300}));
    EXPECT_EQ(ui.lastStatus(), "Imported 9 of 60 frames from " + clip + " (one in 7)");
    ASSERT_EQ(doc.FrameCount(), 9);
    EXPECT_EQ(doc.FrameName(1), clip + " Frame 7");
    EXPECT_EQ(doc.FrameName(8), clip + " Frame 56");
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(std::memcmp(doc.Sequence()->Frame(i), all->Frame(7 * i), all->FrameSize()), 0) << "frame " << i;

    // The letter case of the extension does not matter.
    const fs::path upper = dir / "CLIP.AVI";
    fs::copy_file(clip, upper, fs::copy_options::overwrite_existing);
    EXPECT_TRUE(vexel::isVideoFileName(upper.string()));
    EXPECT_TRUE(doc.ImportVideoFile(upper.string(), VideoImportOptions{1, 2}));
    EXPECT_EQ(doc.FrameNames(), (std::vector<std::string>{upper.string() + " Frame 0", upper.string() + " Frame 30"}));
}

TEST_F(VideoFileTest, WhatIsNoVideoIsRefusedAndTheWorkingSetStays) {
    // A working set worth keeping: a few frames, one of them searched.
    ASSERT_TRUE(doc.ImportVideoFile(path("clip.avi"), VideoImportOptions{20, 300}));
    doc.OnFrameForward();
    ASSERT_EQ(doc.ExtractMissingGrids(1), 1);
    const std::vector<std::string> names = doc.FrameNames();
    const VideoSequence* sequence = doc.Sequence();
    const int points = doc.Grids().getPointCount(1);
    ASSERT_GT(points, 4);

    struct Refusal {
        const char* file;
        const char* reason;
    };
    for (const Refusal& r : {Refusal{"notes.mp4", "it is not an MP4, QuickTime, AVI or Matroska video"},
                             Refusal{"empty.avi", ""}, Refusal{"cut.avi", ""}, Refusal{"missing.mov", ""},
                             Refusal{"folder.mkv", "it is a folder"}}) {
        SCOPED_TRACE(r.file);
        const std::string file = path(r.file);
        ui.calls.clear();
        ui.openAnswers.push_back({file});
        doc.OnImportVideo();
        const std::string status = ui.lastStatus();
        EXPECT_EQ(status.rfind("Cannot import video " + file + ": ", 0), 0u) << status;
        EXPECT_NE(status.find(r.reason), std::string::npos) << status;
        EXPECT_EQ(doc.Sequence(), sequence);
        EXPECT_EQ(doc.FrameNames(), names);
        EXPECT_EQ(doc.CurrentFrame(), 1);
        EXPECT_EQ(doc.Grids().getPointCount(1), points);
        EXPECT_EQ(ui.callsStartingWith("busy|"), (std::vector<std::string>{"busy|1", "busy|0"}));
    }
    // A cancelled import changes nothing either.
    EXPECT_FALSE(doc.ImportVideoFile(path("clip.avi"), {}, [](int decoded, int) { return decoded < 10; }));
    EXPECT_EQ(doc.Sequence(), sequence);
    EXPECT_EQ(doc.Grids().getPointCount(1), points);
}

}  // namespace
