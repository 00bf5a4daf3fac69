// Video sequence files: reading, writing back byte for byte, the frame-size
// rule, the document's sequence mode, and damaged files that must be refused
// without touching the working set.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

#include "document/vexel_doc.h"
#include "document/video_sequence.h"
#include "grid/frame_image.h"
#include "support/document_access.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

struct Header {
    int32_t width, height, bits, count;
};

std::vector<uint8_t> vsqBytes(const Header& h, std::size_t dataBytes, uint8_t seed = 1) {
    std::vector<uint8_t> bytes;
    for (int32_t v : {h.width, h.height, h.bits, h.count})
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
    for (uint8_t b : {0xde, 0xad, 0xbe, 0xef, 0x01, 0x02, 0x03, 0x04}) bytes.push_back(b);
    for (std::size_t i = 0; i < dataBytes; ++i) bytes.push_back(static_cast<uint8_t>(i * 31 + seed + i / 977));
    return bytes;
}

class VideoSequenceTest : public ::testing::Test {
protected:
    TempDir dir{"vexel_vsq"};
    ScriptedUi ui;
    CVexelDoc doc{&ui};

    void SetUp() override {
        doc.SetFrameDecoder([](const std::string&) {
            cv::Mat image = makeFrameImage(6, 4);
            image.setTo(9);
            return image;
        });
    }

    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const fs::path path = dir / name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }
};

TEST_F(VideoSequenceTest, ImportGivesNamedFramesAndWritesBackByteIdentical) {
    const auto bytes = vsqBytes({320, 240, 8, 3}, 3 * 76800);
    ASSERT_EQ(bytes.size(), 24u + 3 * 76800);
    const std::string path = write("clip.vsq", bytes);

    ui.openAnswers.push_back({path});
    doc.OnImportVsq();
    EXPECT_EQ(ui.calls.front(), "open|Video Sequence File (*.vsq)|*.vsq|||.vsq|single");
    ASSERT_TRUE(doc.InSequenceMode());
    EXPECT_EQ(doc.FrameCount(), 3);
    EXPECT_EQ(doc.FrameNames(), (std::vector<std::string>{path + " Frame 0", path + " Frame 1", path + " Frame 2"}));
    EXPECT_EQ(ui.lastTitle(), "Vexel: " + path + " Frame 0, 320 x 240");
    EXPECT_EQ(doc.GetFrameChannels(), 1);

    // Frames are served straight from memory, stepping wraps both ways.
    doc.OnFrameBack();
    EXPECT_EQ(doc.CurrentFrame(), 2);
    std::vector<uint8_t> frame(76800);
    ASSERT_EQ(doc.CopyFrameBytes(frame.data(), frame.size()), frame.size());
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), bytes.begin() + 24 + 2 * 76800));
    cv::Mat image;
    ASSERT_TRUE(doc.CopyFrameToImage(image));
    EXPECT_EQ(image.step[0], 320u);
    EXPECT_EQ(image.at<uint8_t>(239, 319), bytes[24 + 3 * 76800 - 1]);
    doc.OnFrameForward();
    EXPECT_EQ(doc.CurrentFrame(), 0);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(doc.SlotFrame(i), -1);

    const fs::path copy = dir / "copy.vsq";
    std::FILE* out = std::fopen(copy.c_str(), "wb");
    ASSERT_TRUE(out);
    EXPECT_TRUE(doc.Sequence()->Write(out));
    std::fclose(out);
    EXPECT_EQ(readFile(copy), std::string(bytes.begin(), bytes.end()));
}

TEST_F(VideoSequenceTest, ColourSequenceHasThreeChannelsAndExtractsAsGrey) {
    // 2 x 2 pixels, blue-green-red order.
    std::vector<uint8_t> bytes = vsqBytes({2, 2, 24, 1}, 0);
    for (uint8_t b : {255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 10, 10}) bytes.push_back(b);
    ASSERT_TRUE(doc.ImportVsqFile(write("colour.vsq", bytes)));
    EXPECT_EQ(doc.GetFrameChannels(), 3);
    EXPECT_EQ(doc.Sequence()->FrameSize(), 12u);
    std::vector<uint8_t> packed(12);
    EXPECT_EQ(doc.CopyFrameBytes(packed.data(), packed.size()), 12u);
    EXPECT_TRUE(std::equal(packed.begin(), packed.end(), bytes.begin() + 24));

    cv::Mat grey;
    ASSERT_TRUE(doc.CopyFrameToImage(grey));
    ASSERT_EQ(grey.type(), CV_8UC1);
    EXPECT_EQ(grey.at<uint8_t>(0, 0), 29);   // blue
    EXPECT_EQ(grey.at<uint8_t>(0, 1), 150);  // green
    EXPECT_EQ(grey.at<uint8_t>(1, 0), 76);   // red
    EXPECT_EQ(grey.at<uint8_t>(1, 1), 10);
}

TEST_F(VideoSequenceTest, CutShortFileGivesItsWholeFramesAndEmptyFileNoFrames) {
    // Three 4 x 4 frames announced, two and a half present.
    const auto bytes = vsqBytes({4, 4, 8, 3}, 40);
    ASSERT_TRUE(doc.ImportVsqFile(write("short.vsq", bytes)));
    EXPECT_EQ(doc.FrameCount(), 2);
    EXPECT_EQ(doc.Sequence()->MissingFrames(), 1);
    EXPECT_NE(ui.lastStatus().find("loaded 2 frames, 1 frame is missing"), std::string::npos) << ui.lastStatus();
    doc.OnFrameBack();
    std::vector<uint8_t> frame(16);
    ASSERT_EQ(doc.CopyFrameBytes(frame.data(), frame.size()), 16u);
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), bytes.begin() + 24 + 16));
    // Written back, the file holds what was loaded, with its count.
    const fs::path copy = dir / "copy.vsq";
    std::FILE* out = std::fopen(copy.c_str(), "wb");
    ASSERT_TRUE(doc.Sequence()->Write(out));
    std::fclose(out);
    std::vector<uint8_t> expected(bytes.begin(), bytes.begin() + 24 + 32);
    expected[12] = 2;
    EXPECT_EQ(readFile(copy), std::string(expected.begin(), expected.end()));

    // No frames: an empty list in sequence mode, reported, and nothing to show.
    ui.calls.clear();
    const std::string empty = write("empty.vsq", vsqBytes({640, 480, 8, 0}, 0));
    ASSERT_TRUE(doc.ImportVsqFile(empty));
    EXPECT_TRUE(doc.InSequenceMode());
    EXPECT_EQ(doc.FrameCount(), 0);
    EXPECT_TRUE(doc.FrameNames().empty());
    EXPECT_EQ(ui.lastStatus(), "Video sequence " + empty + " holds no frames");
    EXPECT_EQ(doc.GetFrameWidth(), 0);
    EXPECT_EQ(doc.GetFrameHeight(), 0);
    EXPECT_EQ(doc.CopyFrameBytes(frame.data(), frame.size()), 0u);
    cv::Mat image;
    EXPECT_FALSE(doc.CopyFrameToImage(image));
    doc.OnFrameForward();
    EXPECT_EQ(doc.CurrentFrame(), 0);
}

TEST_F(VideoSequenceTest, ManyTinyFramesLiveInOneBufferWithNamesMadeOnDemand) {
    const int count = VideoSequence::MAX_FILE_FRAMES;
    const std::string path = write("tiny.vsq", vsqBytes({1, 1, 8, count}, count));
    ASSERT_TRUE(doc.ImportVsqFile(path));
    ASSERT_EQ(doc.FrameCount(), count);
    const VideoSequence& sequence = *doc.Sequence();
    EXPECT_EQ(sequence.Frame(count - 1) - sequence.Frame(0), count - 1);
    EXPECT_TRUE(frameNamesOf(doc).empty());
    EXPECT_EQ(doc.FrameName(count - 1), path + " Frame 99999");
    EXPECT_EQ(doc.FrameName(count), "");
    doc.OnFrameBack();
    EXPECT_EQ(ui.lastTitle(), "Vexel: " + path + " Frame 99999, 1 x 1");
    EXPECT_EQ(doc.FrameNames().size(), static_cast<std::size_t>(count));

    // One frame more is taken for a damaged header.
    EXPECT_FALSE(doc.ImportVsqFile(write("toomany.vsq", vsqBytes({1, 1, 8, count + 1}, count + 1))));
    EXPECT_NE(ui.lastStatus().find("between 0 and 100000"), std::string::npos) << ui.lastStatus();
    EXPECT_EQ(doc.FrameCount(), count);
}

struct DamagedFile {
    const char* what;
    std::vector<uint8_t> bytes;
};

TEST_F(VideoSequenceTest, DamagedFilesAreRefusedAndTheWorkingSetStays) {
    const std::vector<DamagedFile> damaged = {
        {"empty file", {}},
        {"short header", std::vector<uint8_t>(21, 1)},
        {"zero width", vsqBytes({0, 4, 8, 1}, 16)},
        {"negative height", vsqBytes({4, -4, 8, 1}, 16)},
        {"bits below 8", vsqBytes({4, 4, 4, 1}, 16)},
        {"negative bits", vsqBytes({4, 4, -8, 1}, 16)},
        {"12 bits", vsqBytes({4, 4, 12, 1}, 16)},
        {"16 bits", vsqBytes({4, 4, 16, 1}, 32)},
        {"negative frames", vsqBytes({4, 4, 8, -2}, 16)},
        {"huge count", vsqBytes({4, 4, 8, 0x7fffffff}, 32)},
        {"huge frames", vsqBytes({0x7fffffff, 0x7fffffff, 0x7fffffff, 0x7fffffff}, 64)},
        {"first frame cut short", vsqBytes({4, 4, 8, 3}, 15)},
    };

    ASSERT_TRUE(doc.ImportImageFiles({"a.pgm", "b.pgm"}));
    doc.OnFrameForward();
    gridsOf(doc).allocate(2, 200);
    for (const DamagedFile& d : damaged) {
        SCOPED_TRACE(d.what);
        const std::string path = write("damaged.vsq", d.bytes);
        ui.calls.clear();
        ui.openAnswers.push_back({path});
        doc.OnImportVsq();
        EXPECT_FALSE(doc.InSequenceMode());
        EXPECT_EQ(doc.FrameNames(), (std::vector<std::string>{"a.pgm", "b.pgm"}));
        EXPECT_EQ(doc.CurrentFrame(), 1);
        EXPECT_EQ(doc.Grids().frameCount(), 2);
        EXPECT_EQ(ui.lastTitle(), "Vexel: image 1, b.pgm, 6 x 4");
        EXPECT_NE(ui.lastStatus().find(path), std::string::npos) << ui.lastStatus();
        EXPECT_TRUE(ui.callsStartingWith("message|").empty());
    }

    ui.calls.clear();
    EXPECT_FALSE(doc.ImportVsqFile((dir / "missing.vsq").string()));
    EXPECT_NE(ui.lastStatus().find("missing.vsq"), std::string::npos);
    EXPECT_EQ(doc.FrameCount(), 2);
}

TEST_F(VideoSequenceTest, SequenceReplacesImagesAndImagesReplaceTheSequence) {
    ASSERT_TRUE(doc.ImportImageFiles({"a.pgm", "b.pgm", "c.pgm", "d.pgm"}));
    for (int i = 0; i < 3; ++i) doc.StepForward();
    gridsOf(doc).allocate(4, 200);
    const std::string path = write("two.vsq", vsqBytes({3, 2, 8, 2}, 12));
    ASSERT_TRUE(doc.ImportVsqFile(path));
    EXPECT_EQ(doc.FrameCount(), 2);
    EXPECT_EQ(doc.CurrentFrame(), 0);  // frame 3 is not in the new list
    EXPECT_FALSE(doc.Grids().hasFrame(0));
    EXPECT_EQ(doc.GetFrameWidth(), 3);

    // Image files after a sequence: the sequence and its names go.
    ASSERT_TRUE(doc.ImportImageFiles({"e.pgm"}));
    EXPECT_FALSE(doc.InSequenceMode());
    EXPECT_EQ(doc.FrameNames(), std::vector<std::string>{"e.pgm"});
    doc.UpdateTitleAndViews();
    EXPECT_EQ(ui.lastTitle(), "Vexel: image 0, e.pgm, 6 x 4");
}

TEST(VideoSequenceObject, AllocateZeroFillsAndClearForgetsEverything) {
    VideoSequence sequence;
    EXPECT_EQ(sequence.FrameCount(), 0);
    EXPECT_EQ(sequence.Frame(0), nullptr);
    ASSERT_TRUE(sequence.Allocate(2, 3, 2, 24));
    EXPECT_EQ(sequence.FrameSize(), 18u);
    for (int i = 0; i < 18; ++i) EXPECT_EQ(sequence.Frame(1)[i], 0);
    EXPECT_EQ(sequence.Frame(2), nullptr);
    sequence.SetReservedField({1, 2, 3, 4, 5, 6, 7, 8});
    sequence.Clear();
    EXPECT_EQ(sequence.FrameCount(), 0);
    EXPECT_EQ(sequence.Width(), 0);
    EXPECT_EQ(sequence.ReservedField(), VideoSequence::Reserved{});
    EXPECT_FALSE(sequence.Allocate(-1, 3, 2, 8));
    EXPECT_FALSE(sequence.Read(nullptr));
    EXPECT_FALSE(sequence.Write(nullptr));
}

}  // namespace
