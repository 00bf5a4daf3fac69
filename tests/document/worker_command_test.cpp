// Extract Grid(s) on a worker thread, as the desktop program runs it, while
// another thread asks for the current frame the way the view draws it: a
// stopped and a completed run, over image files and over a sequence. Run
// under ThreadSanitizer, this checks the lock discipline of the queries.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "document/vexel_doc.h"
#include "document/video_sequence.h"
#include "grid/frame_image.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr int FRAMES = 12;

class WorkerCommandTest : public ::testing::Test {
protected:
    ScriptedUi ui;
    CVexelDoc doc{&ui};

    void importImages() {
        doc.SetFrameDecoder([](const std::string& name) {
            cv::Mat image = makeFrameImage(40 + 2 * (std::stoi(name) % 3), 30);
            image.setTo(cv::Scalar(20 * (std::stoi(name) % 10)));
            return image;
        });
        std::vector<std::string> names;
        for (int f = 0; f < FRAMES; ++f) names.push_back(std::to_string(f));
        ASSERT_TRUE(doc.ImportImageFiles(names));
    }

    void importSequence() {
        const TempDir dir("vexel_worker");
        const fs::path path = dir / "frames.vsq";
        {
            VideoSequence sequence;
            ASSERT_TRUE(sequence.Allocate(FRAMES, 40, 30, 24));
            for (int f = 0; f < FRAMES; ++f)
                for (std::size_t i = 0; i < sequence.FrameSize(); ++i)
                    sequence.Frame(f)[i] = static_cast<std::uint8_t>(f * 13 + i % 7);
            std::FILE* file = std::fopen(path.c_str(), "wb");
            ASSERT_NE(file, nullptr);
            ASSERT_TRUE(sequence.Write(file));
            std::fclose(file);
        }
        ASSERT_TRUE(doc.ImportVsqFile(path.string()));
    }

    // Runs Extract Grid(s) on a worker while this thread queries the current
    // frame until the worker is done. Returns how many queries saw a frame.
    int extractWhileQuerying() {
        std::atomic<bool> done{false};
        std::thread worker([&] {
            doc.OnExtractGrids();
            done = true;
        });
        int seen = 0;
        std::vector<std::uint8_t> pixels(64 * 64 * 4);
        do {
            const int width = doc.GetFrameWidth();
            const int height = doc.GetFrameHeight();
            const int channels = doc.GetFrameChannels();
            CVexelDoc::FrameShape shape;
            const std::size_t copied = doc.CopyFrameBytes(pixels.data(), pixels.size(), &shape);
            const int frame = doc.CurrentFrameLocked();
            EXPECT_GE(frame, 0);
            EXPECT_LT(frame, FRAMES);
            if (copied > 0) {
                ++seen;
                // The copy and its shape belong to one frame.
                EXPECT_EQ(copied, static_cast<std::size_t>(shape.width * shape.height * shape.channels));
                EXPECT_GE(shape.frame, 0);
            }
            (void)width, (void)height, (void)channels;
        } while (!done);
        worker.join();
        return seen;
    }

    void stoppedThenCompleted() {
        doc.GoToFrame(3);
        // Stop once the fifth frame has been reported: that frame is
        // finished, the next is not begun.
        ui.cancelAfterProgress = 5;
        extractWhileQuerying();
        EXPECT_EQ(ui.progressCalls.size(), 5u);
        EXPECT_EQ(doc.FramesNotExtracted(), FRAMES - 5);
        for (int f = 0; f < FRAMES; ++f) EXPECT_EQ(doc.GridOf(f).searched, f >= 3 && f < 8) << f;
        EXPECT_EQ(doc.CurrentFrame(), 3);
        EXPECT_NE(ui.lastStatus().find("stopped, 7 frames not searched"), std::string::npos) << ui.lastStatus();
        EXPECT_EQ(ui.endProgressCalls, 1);

        ui.cancel = false;
        ui.cancelAfterProgress = -1;
        ui.progressCalls.clear();
        EXPECT_GT(extractWhileQuerying(), 0);
        // One report before each frame and one when all are done.
        EXPECT_EQ(ui.progressCalls.size(), static_cast<std::size_t>(FRAMES) + 1);
        EXPECT_EQ(ui.progressCalls.front(), "Extracting frame 1 of 12|0|12");
        EXPECT_EQ(ui.progressCalls.back(), "Extracting frame 12 of 12|12|12");
        EXPECT_EQ(doc.FramesNotExtracted(), 0);
        EXPECT_EQ(doc.CurrentFrame(), 3);
        EXPECT_EQ(ui.lastStatus().find("stopped"), std::string::npos) << ui.lastStatus();
    }
};

TEST_F(WorkerCommandTest, ImageFramesStoppedAndCompletedWhileTheViewQueries) {
    importImages();
    stoppedThenCompleted();
}

TEST_F(WorkerCommandTest, FramesSearchedOnThreeThreadsStopAndCompleteAlike) {
    doc.SetExtractionThreads(3);
    importImages();
    stoppedThenCompleted();
}

TEST_F(WorkerCommandTest, SequenceFramesStoppedAndCompletedWhileTheViewQueries) {
    importSequence();
    stoppedThenCompleted();
}

}  // namespace
