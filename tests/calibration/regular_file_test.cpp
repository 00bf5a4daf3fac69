// Readers open only regular files: a FIFO, a device or a folder given as a
// list, a sequence or a listed image is refused at once with a reason,
// never read until it ends (it may never end).

#include "calibration/regular_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "document/vexel_doc.h"
#include "support/fifo.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using vexel::test::makeFifo;
using vexel::test::neededUnblocking;

namespace {

class RegularFileTest : public ::testing::Test {
protected:
    TempDir dir{"vexel_regular"};
    ScriptedUi ui;
    CVexelDoc doc{&ui};

    void SetUp() override {
        doc.SetFrameDecoder([](const std::string&) { return cv::Mat(); });
    }

    std::string textFile(const std::string& name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
        return (dir / name).string();
    }
};

TEST_F(RegularFileTest, ListsAndSequencesThatAreNoRegularFileAreRefusedAtOnce) {
    const std::string fifo = (dir / "pipe.iml").string();
    ASSERT_TRUE(makeFifo(fifo));
    ASSERT_TRUE(doc.ImportImageFiles({"kept.pgm"}));
    for (const std::string& path : {fifo, std::string("/dev/zero"), dir.string()}) {
        SCOPED_TRACE(path);
        ui.calls.clear();
        EXPECT_FALSE(neededUnblocking(fifo, [&] { EXPECT_FALSE(doc.ImportImageList(path)); }));
        EXPECT_NE(ui.lastStatus().find(path), std::string::npos) << ui.lastStatus();
        EXPECT_FALSE(neededUnblocking(fifo, [&] { EXPECT_FALSE(doc.ImportVsqFile(path)); }));
        EXPECT_NE(ui.lastStatus().find(path + ": it is "), std::string::npos) << ui.lastStatus();
        EXPECT_EQ(doc.FrameNames(), std::vector<std::string>{"kept.pgm"});
    }
    EXPECT_EQ(ui.lastStatus(), "Cannot open video sequence " + dir.string() + ": it is a folder");
    ui.calls.clear();
    doc.ImportVsqFile(fifo);
    EXPECT_EQ(ui.lastStatus(), "Cannot open video sequence " + fifo + ": it is not a regular file");
}

TEST_F(RegularFileTest, ListedNamesThatAreNoRegularFileAreSkipped) {
    const std::string fifo = (dir / "pipe.pgm").string();
    ASSERT_TRUE(makeFifo(fifo));
    textFile("real.pgm", "P5\n1 1\n255\n\x80");
    const std::string list = textFile("list.iml", "pipe.pgm\n/dev/zero\nreal.pgm\n.\n");
    EXPECT_FALSE(neededUnblocking(fifo, [&] { EXPECT_TRUE(doc.ImportImageList(list)); }));
    EXPECT_EQ(doc.FrameNames(), std::vector<std::string>{(dir / "real.pgm").string()});
    EXPECT_NE(ui.lastStatus().find("3 names were skipped"), std::string::npos) << ui.lastStatus();
}

TEST_F(RegularFileTest, ListLinesLongerThanAPathAreSkippedWhole) {
    textFile("a.pgm", "P5\n1 1\n255\n\x80");
    // 4096 bytes and a carriage return is the longest line kept (a name the
    // system then refuses to open); one byte more, and none of it is taken
    // for a name.
    const std::string longest = "./" + std::string(4089, '/') + "a.pgm";
    ASSERT_EQ(longest.size(), vexel::LIST_LINE_MAX);
    const std::string list =
        textFile("list.iml", longest + "\r\n" + std::string(4097, 'x') + "\na.pgm\n" + std::string(100000, '/'));
    ASSERT_TRUE(doc.ImportImageList(list));
    EXPECT_EQ(doc.FrameNames(), std::vector<std::string>{(dir / "a.pgm").string()});
    EXPECT_EQ(ui.lastStatus(), "Image list " + list +
                                   ": 1 name was skipped (file name too long), 2 lines were skipped (longer than 4096 bytes)");
}

}  // namespace
