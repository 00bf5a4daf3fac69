// Importing image files and image lists: appending, the list file's line
// rules, which names are kept, the command texts and the window title.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "document/vexel_doc.h"
#include "grid/frame_image.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

class ImageImportTest : public ::testing::Test {
protected:
    TempDir dir{"vexel_import"};
    ScriptedUi ui;
    CVexelDoc doc{&ui};

    // A small grey PGM whose pixels are all `value`. Written by hand: the
    // image codecs' writer takes library-internal locks in an order that
    // the thread checker reports.
    std::string picture(const fs::path& path, int value, int width = 8, int height = 6) {
        fs::create_directories(path.parent_path());
        std::ofstream out(path, std::ios::binary);
        out << "P5\n" << width << ' ' << height << "\n255\n"
            << std::string(static_cast<std::size_t>(width * height), static_cast<char>(value));
        EXPECT_TRUE(out.good());
        return path.string();
    }
    std::string textFile(const std::string& name, const std::string& text) {
        const fs::path path = dir / name;
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }
    std::vector<std::string> importList(const std::string& text) {
        CVexelDoc fresh(&ui);
        EXPECT_TRUE(fresh.ImportImageList(textFile("list.iml", text)));
        return fresh.FrameNames();
    }
};

TEST_F(ImageImportTest, CommandsAskWithTheirFiltersAndCancelOnlyRepaints) {
    doc.OnImportImages();
    doc.OnImportImageSequence();
    doc.OnImportVsq();
    EXPECT_EQ(ui.calls, (std::vector<std::string>{
                            "open|All supported images (*.jpg;*.jpeg;*.pgm;*.png;*.bmp)|*.jpg;*.jpeg;*.pgm;*.png;*.bmp|"
                            "JPEG Images (*.jpg)|*.jpg|Portable Grey Maps (*.pgm)|*.pgm|||.jpg|multi",
                            "views",
                            "open|Image Sequences / Image Lists (*.iml)|*.iml|||.iml|single",
                            "views",
                            "open|Video Sequence File (*.vsq)|*.vsq|||.vsq|single",
                            "views",
                        }));
    // With no frames, stepping leaves the title alone too.
    doc.OnFrameForward();
    doc.OnFrameBack();
    EXPECT_EQ(ui.lastTitle(), std::nullopt);
    EXPECT_EQ(doc.FrameCount(), 0);
}

TEST_F(ImageImportTest, ImportedFilesAppendAndTheTitleNamesTheDecodedFrame) {
    const std::string a = picture(dir / "a.pgm", 10, 12, 7);
    const std::string b = picture(dir / "b.pgm", 20, 12, 7);
    ui.openAnswers.push_back({a, b});
    doc.OnImportImages();
    EXPECT_EQ(ui.lastTitle(), "Vexel: image 0, " + a + ", 12 x 7");

    const std::string c = picture(dir / "c.pgm", 30, 12, 7);
    ui.openAnswers.push_back({c, (dir / "missing.pgm").string(), textFile("not-a-picture.pgm", "P5 junk")});
    doc.OnImportImages();
    ASSERT_EQ(doc.FrameCount(), 5);
    EXPECT_EQ(doc.FrameNames()[0], a);
    EXPECT_EQ(doc.FrameNames()[1], b);
    EXPECT_EQ(doc.CurrentFrame(), 0);

    doc.OnFrameForward();
    EXPECT_EQ(ui.lastTitle(), "Vexel: image 1, " + b + ", 12 x 7");
    cv::Mat image;
    ASSERT_TRUE(doc.CopyFrameToImage(image));
    EXPECT_EQ(image.at<uint8_t>(3, 5), 20);
    doc.OnFrameForward();
    ASSERT_TRUE(doc.CopyFrameToImage(image));
    EXPECT_EQ(image.at<uint8_t>(3, 5), 30);
    // Names that do not decode stay in the list as empty frames.
    doc.OnFrameForward();
    EXPECT_EQ(ui.lastTitle(), "Vexel: image 3, " + (dir / "missing.pgm").string() + ", 0 x 0");
    doc.OnFrameForward();
    EXPECT_EQ(doc.GetFrameWidth(), 0);
    doc.OnFrameForward();
    EXPECT_EQ(doc.CurrentFrame(), 0);
    EXPECT_EQ(doc.GetFrameWidth(), 12);
}

TEST_F(ImageImportTest, ListKeepsExistingFilesInFileOrderResolvedAgainstItsFolder) {
    picture(dir / "one.pgm", 1);
    picture(dir / "sub" / "two.pgm", 2);
    const std::string absolute = picture(dir / "three.pgm", 3);
    const std::string list = textFile("list.iml", "one.pgm\nnothing-here.pgm\n\nsub/two.pgm\n" + absolute + "\nsub\n");

    ui.openAnswers.push_back({list});
    doc.OnImportImageSequence();
    EXPECT_EQ(doc.FrameNames(), (std::vector<std::string>{(dir / "one.pgm").string(), (dir / "sub/two.pgm").string(),
                                                          absolute}));
    EXPECT_EQ(ui.lastTitle(), "Vexel: image 0, " + (dir / "one.pgm").string() + ", 8 x 6");
    EXPECT_NE(ui.lastStatus().find("2 names were skipped"), std::string::npos) << ui.lastStatus();

    // A second list appends.
    ASSERT_TRUE(doc.ImportImageList(list));
    EXPECT_EQ(doc.FrameCount(), 6);
}

TEST_F(ImageImportTest, LineEndsOfEveryKindGiveTheSameNames) {
    picture(dir / "a.pgm", 1);
    picture(dir / "b.pgm", 2);
    const std::vector<std::string> expected = {(dir / "a.pgm").string(), (dir / "b.pgm").string()};
    EXPECT_EQ(importList("a.pgm\nb.pgm\n"), expected);
    EXPECT_EQ(importList("a.pgm\r\nb.pgm\r\n"), expected);
    EXPECT_EQ(importList("a.pgm\nb.pgm"), expected);
    EXPECT_EQ(importList("a.pgm\r\nb.pgm\r"), expected);
}

TEST_F(ImageImportTest, LongLinesAreReadWhole) {
    // A name of 2000 characters: folders of 199 characters each.
    fs::path path = dir;
    std::string relative;
    while (relative.size() < 1800) {
        const std::string part(199, static_cast<char>('a' + relative.size() / 200));
        path /= part;
        relative += part + "/";
    }
    const std::string file(2000 - relative.size() - 4, 'z');
    relative += file + ".pgm";
    ASSERT_EQ(relative.size(), 2000u);
    picture(path / (file + ".pgm"), 5);
    // Any piece of the line, taken as a name of its own, would not be found.
    EXPECT_EQ(importList(relative + "\n"), std::vector<std::string>{(dir / relative).string()});
}

TEST_F(ImageImportTest, UnreadableListIsReportedAndChangesNothing) {
    ASSERT_TRUE(doc.ImportImageFiles({"x.pgm"}));
    ui.calls.clear();
    const std::string missing = (dir / "missing.iml").string();
    ui.openAnswers.push_back({missing});
    doc.OnImportImageSequence();
    EXPECT_EQ(doc.FrameNames(), std::vector<std::string>{"x.pgm"});
    EXPECT_NE(ui.lastStatus().find(missing), std::string::npos);
    EXPECT_FALSE(doc.ImportImageList(dir.string()));
    EXPECT_FALSE(doc.ImportVsqFile(dir.string()));
    EXPECT_NE(ui.lastStatus().find("folder"), std::string::npos);
    EXPECT_EQ(doc.FrameNames(), std::vector<std::string>{"x.pgm"});
    // A list that names no file that can be opened imports nothing and says so.
    for (const std::string& text : {std::string(), std::string("gone.pgm\n\nalso-gone.pgm\n")}) {
        const std::string list = textFile("nothing.iml", text);
        EXPECT_FALSE(doc.ImportImageList(list));
        EXPECT_EQ(doc.FrameNames(), std::vector<std::string>{"x.pgm"});
        EXPECT_NE(ui.lastStatus().find(list + " names no readable file"), std::string::npos) << ui.lastStatus();
    }
    EXPECT_NE(ui.lastStatus().find("2 names skipped: file not found"), std::string::npos) << ui.lastStatus();
    EXPECT_TRUE(ui.callsStartingWith("message|").empty());
}

}  // namespace
