// The nine-slot frame cache: placement around the current frame, one release
// and one decode per step, the slot search at the ring's ends, the shorter
// way of GoToFrame, frames that cannot be decoded, and the copies out of it.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "document/vexel_doc.h"
#include "grid/frame_image.h"
#include "support/scripted_ui.h"

namespace {

// Decodes names "f<index>" into 4 x 3 frame images filled with the index;
// names in `failing` do not decode. Records every decode in order.
struct FakeDecoder {
    std::mutex mutex;
    std::vector<std::string> decoded;
    std::set<std::string> failing;
    int width = 4, height = 3;

    cv::Mat operator()(const std::string& name) {
        std::lock_guard<std::mutex> guard(mutex);
        decoded.push_back(name);
        if (failing.count(name)) return {};
        cv::Mat image = makeFrameImage(width, height);
        image.setTo(std::stoi(name.substr(1)));
        return image;
    }
    std::vector<std::string> take() {
        std::lock_guard<std::mutex> guard(mutex);
        return std::exchange(decoded, {});
    }
};

std::vector<std::string> names(int count) {
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) out.push_back(std::string("f").append(std::to_string(i)));
    return out;
}

class FrameCacheTest : public ::testing::Test {
protected:
    ScriptedUi ui;
    FakeDecoder decoder;
    CVexelDoc doc{&ui};

    void SetUp() override {
        doc.SetFrameDecoder([this](const std::string& name) { return decoder(name); });
    }
    void import(int count) {
        ASSERT_TRUE(doc.ImportImageFiles(names(count)));
        doc.WaitForLoader();
    }
    std::vector<int> slots() {
        std::vector<int> out;
        for (int i = 0; i < CVexelDoc::SLOT_COUNT; ++i) out.push_back(doc.SlotFrame(i));
        return out;
    }
    // The value the current frame's pixels carry (its index), or -1.
    int shownFrame() {
        cv::Mat image;
        if (!doc.CopyFrameToImage(image)) return -1;
        return image.at<uint8_t>(0, 0);
    }
};

TEST_F(FrameCacheTest, LongListFillsTheRingNearestFirstAndStepsCostOneDecode) {
    import(20);
    EXPECT_EQ(slots(), (std::vector<int>{16, 17, 18, 19, 0, 1, 2, 3, 4}));
    EXPECT_EQ(decoder.take(), (std::vector<std::string>{"f0", "f1", "f19", "f2", "f18", "f3", "f17", "f4", "f16"}));

    const auto releasesBefore = doc.ReleaseCount();
    doc.OnFrameForward();
    EXPECT_EQ(doc.CurrentFrame(), 1);
    EXPECT_EQ(doc.CurrentSlot(), 5);
    EXPECT_EQ(doc.ReleaseCount() - releasesBefore, 1u);
    doc.WaitForLoader();
    EXPECT_EQ(decoder.take(), std::vector<std::string>{"f5"});
    EXPECT_EQ(slots(), (std::vector<int>{5, 17, 18, 19, 0, 1, 2, 3, 4}));
    EXPECT_EQ(shownFrame(), 1);

    // Backwards across frame 0: still one decode per step, and the ring
    // wraps both in slots and in frames.
    for (int i = 0; i < 3; ++i) doc.OnFrameBack();
    doc.WaitForLoader();
    EXPECT_EQ(doc.CurrentFrame(), 18);
    EXPECT_EQ(decoder.take(), (std::vector<std::string>{"f16", "f15", "f14"}));
    EXPECT_EQ(shownFrame(), 18);
    EXPECT_EQ(slots(), (std::vector<int>{16, 17, 18, 19, 0, 1, 2, 14, 15}));
}

TEST_F(FrameCacheTest, WithoutLookAheadOnlyTheCurrentFrameIsDecoded) {
    doc.SetLookAhead(false);
    import(20);
    EXPECT_EQ(decoder.take(), std::vector<std::string>{"f0"});
    doc.OnFrameForward();
    doc.EnsureCurrentFrameLoaded();
    EXPECT_EQ(decoder.take(), std::vector<std::string>{"f1"});
    EXPECT_EQ(shownFrame(), 1);
    // Turned on again, the next pass fills the ring around the current frame.
    doc.SetLookAhead(true);
    doc.StartLoader();
    doc.WaitForLoader();
    EXPECT_EQ(slots(), (std::vector<int>{17, 18, 19, 0, 1, 2, 3, 4, 5}));
}

TEST_F(FrameCacheTest, ShortListFillsForwardOnlyAndWrapsToTheSlotOfFrameZero) {
    import(5);
    EXPECT_EQ(slots(), (std::vector<int>{-1, -1, -1, -1, 0, 1, 2, 3, 4}));
    for (int i = 0; i < 4; ++i) doc.OnFrameForward();
    EXPECT_EQ(doc.CurrentSlot(), 8);
    EXPECT_EQ(shownFrame(), 4);

    doc.OnFrameForward();
    EXPECT_EQ(doc.CurrentFrame(), 0);
    EXPECT_EQ(doc.CurrentSlot(), 4);
    EXPECT_FALSE(doc.FramePending());
    EXPECT_EQ(shownFrame(), 0);
    // Stepping back from frame 0 wraps to slot 8 holding frame 4.
    doc.OnFrameBack();
    EXPECT_EQ(doc.CurrentFrame(), 4);
    EXPECT_EQ(doc.CurrentSlot(), 8);
    EXPECT_EQ(shownFrame(), 4);
    doc.WaitForLoader();
    // Five decodes in all: moving around a short list never decodes again.
    EXPECT_EQ(decoder.take().size(), 5u);
}

TEST_F(FrameCacheTest, SingleFrameStaysCurrentBothWays) {
    import(1);
    doc.OnFrameForward();
    EXPECT_EQ(doc.CurrentFrame(), 0);
    EXPECT_EQ(shownFrame(), 0);
    doc.OnFrameBack();
    EXPECT_EQ(doc.CurrentFrame(), 0);
    EXPECT_EQ(shownFrame(), 0);
    doc.WaitForLoader();
    EXPECT_EQ(decoder.take().size(), 1u);
}

// With the ring full around frame 2 of 10 (slots 0..8 hold 5 6 8 9 0 1 2 3 4),
// walking forward keeps the frames between start and target and walking back
// frees them, so what survives tells the direction taken.
class GoToFrameTest : public FrameCacheTest {
protected:
    void SetUp() override {
        FrameCacheTest::SetUp();
        import(10);
        doc.GoToFrame(2);
        doc.OnFrameForward();
        doc.OnFrameBack();
        doc.WaitForLoader();
        ASSERT_FALSE(doc.FramePending());
        ASSERT_EQ(slots(), (std::vector<int>{5, 6, 8, 9, 0, 1, 2, 3, 4}));
        decoder.take();
    }
};

TEST_F(GoToFrameTest, TieOfHalfTheListGoesTheDirectWay) {
    doc.GoToFrame(7);
    EXPECT_EQ(doc.CurrentFrame(), 7);
    EXPECT_EQ(doc.SlotFrame(7), 3);
    EXPECT_EQ(doc.SlotFrame(8), 4);
    EXPECT_TRUE(decoder.take().empty());  // GoToFrame itself never decodes
    doc.EnsureCurrentFrameLoaded();
    EXPECT_EQ(shownFrame(), 7);
}

TEST_F(GoToFrameTest, ShorterWayBackwardsAcrossFrameZero) {
    const auto releases = doc.ReleaseCount();
    doc.GoToFrame(8);  // 2, 1, 0, 9, 8: each step frees the frame out of reach ahead
    EXPECT_EQ(doc.ReleaseCount() - releases, 4u);
    EXPECT_EQ(doc.CurrentSlot(), 2);
    EXPECT_FALSE(doc.FramePending());
    EXPECT_EQ(shownFrame(), 8);

    doc.GoToFrame(10);
    doc.GoToFrame(-1);
    EXPECT_EQ(doc.CurrentFrame(), 8);
}

TEST_F(FrameCacheTest, DistantGoToFrameIsReadOnlyAfterItsPass) {
    import(40);
    doc.GoToFrame(20);  // does not start the loader: the slot is still empty
    EXPECT_EQ(shownFrame(), -1);
    doc.EnsureCurrentFrameLoaded();
    EXPECT_EQ(shownFrame(), 20);
    EXPECT_FALSE(doc.FramePending());
}

TEST_F(FrameCacheTest, UndecodableFrameIsEmptyAndRetriedAfterSteppingAwayAndBack) {
    decoder.failing = {"f1"};
    import(3);
    doc.OnFrameForward();
    EXPECT_EQ(doc.GetFrameWidth(), 0);
    EXPECT_EQ(doc.GetFrameHeight(), 0);
    EXPECT_EQ(doc.GetFrameChannels(), 0);
    uint8_t buffer[16] = {};
    EXPECT_EQ(doc.CopyFrameBytes(buffer, sizeof buffer), 0u);
    cv::Mat untouched = makeFrameImage(4, 3);
    untouched.setTo(77);
    EXPECT_FALSE(doc.CopyFrameToImage(untouched));
    EXPECT_EQ(untouched.at<uint8_t>(0, 0), 77);
    EXPECT_EQ(ui.lastTitle(), "Vexel: image 1, f1, 0 x 0");

    decoder.failing.clear();
    doc.OnFrameBack();
    doc.OnFrameForward();
    doc.WaitForLoader();
    EXPECT_EQ(shownFrame(), 1);
    EXPECT_EQ(ui.lastTitle(), "Vexel: image 1, f1, 4 x 3");
    const auto decoded = decoder.take();
    EXPECT_GE(std::count(decoded.begin(), decoded.end(), "f1"), 2);
}

TEST_F(FrameCacheTest, AllFramesFailingKeepsTheSlotSearchInsideTheRing) {
    for (const auto& n : names(12)) decoder.failing.insert(n);
    import(12);
    for (int i = 0; i < 30; ++i) doc.OnFrameForward();
    for (int i = 0; i < 30; ++i) doc.OnFrameBack();
    EXPECT_GE(doc.CurrentSlot(), 0);
    EXPECT_LT(doc.CurrentSlot(), 9);
    EXPECT_EQ(doc.CurrentFrame(), 0);
    EXPECT_EQ(doc.GetFrameWidth(), 0);
}

TEST_F(FrameCacheTest, OddWidthFrameCopiesWithoutShearing) {
    // Every pixel of the frame carries its own column, row by row.
    doc.SetFrameDecoder([](const std::string&) {
        cv::Mat image = makeFrameImage(641, 3);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 641; ++x) image.at<uint8_t>(y, x) = static_cast<uint8_t>((x + 7 * y) & 0xff);
        return image;
    });
    import(1);
    ASSERT_EQ(doc.GetFrameWidth(), 641);
    std::vector<uint8_t> packed(641 * 3);
    ASSERT_EQ(doc.CopyFrameBytes(packed.data(), packed.size()), packed.size());
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 641; ++x) ASSERT_EQ(packed[y * 641 + x], (x + 7 * y) & 0xff) << x << "," << y;
    // A short buffer is never overrun.
    std::vector<uint8_t> small(700, 0xee);
    EXPECT_EQ(doc.CopyFrameBytes(small.data(), 650), 650u);
    EXPECT_EQ(small[650], 0xee);

    cv::Mat image;  // made to size by the copy
    ASSERT_TRUE(doc.CopyFrameToImage(image));
    EXPECT_EQ(image.cols, 641);
    EXPECT_EQ(image.step[0], 644u);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 641; ++x) ASSERT_EQ(image.at<uint8_t>(y, x), (x + 7 * y) & 0xff);
}

TEST_F(FrameCacheTest, DecoderResultsAreNormalisedToPaddedGreyFrames) {
    doc.SetFrameDecoder([](const std::string&) {
        return cv::Mat(2, 5, CV_8UC3, cv::Scalar(10, 200, 30));  // unpadded colour rows
    });
    import(1);
    cv::Mat image;
    ASSERT_TRUE(doc.CopyFrameToImage(image));
    EXPECT_EQ(image.type(), CV_8UC1);
    EXPECT_EQ(image.step[0], 8u);
    EXPECT_EQ(doc.GetFrameChannels(), 1);
}

TEST_F(FrameCacheTest, AppendingKeepsCachedFramesAndNewDocumentEmptiesEverything) {
    import(2);
    ASSERT_EQ(decoder.take().size(), 2u);
    const auto releases = doc.ReleaseCount();
    import(3);  // names f0..f2 again, appended as frames 2..4
    EXPECT_EQ(doc.FrameCount(), 5);
    EXPECT_EQ(doc.FrameNames()[0], "f0");
    EXPECT_EQ(doc.FrameNames()[1], "f1");
    EXPECT_EQ(doc.FrameNames()[4], "f2");
    EXPECT_EQ(doc.ReleaseCount(), releases);
    EXPECT_EQ(decoder.take().size(), 3u);

    doc.OnFrameForward();
    doc.OnFrameForward();
    doc.OnNewDocument();
    EXPECT_EQ(doc.FrameCount(), 0);
    EXPECT_TRUE(doc.FrameNames().empty());
    EXPECT_EQ(slots(), std::vector<int>(9, -1));
    // The current frame is put back into the new, shorter list.
    import(1);
    EXPECT_EQ(doc.CurrentFrame(), 0);
    EXPECT_EQ(shownFrame(), 0);
}

TEST_F(FrameCacheTest, DestroyingTheDocumentWhileAPassRunsIsSafe) {
    std::atomic<int> decodes{0};
    {
        CVexelDoc other(&ui);
        other.SetFrameDecoder([&](const std::string&) {
            ++decodes;
            return makeFrameImage(8, 8);
        });
        other.ImportImageFiles(names(30));
    }
    EXPECT_EQ(decodes.load(), 9);
}

}  // namespace
