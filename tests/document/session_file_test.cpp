// Sessions: the working set written to a .vexel file and read back whole,
// without searching the frames again; frame files that changed or went;
// files that are no session.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

#include "document/grid_commands.h"
#include "document/session_file.h"
#include "support/document_access.h"
#include "document/vexel_doc.h"
#include "geomlib/g_node.h"
#include "grid/grid_element.h"
#include "support/scripted_ui.h"

namespace fs = std::filesystem;
using vexel::test::ScriptedUi;

namespace {

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class SessionFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("vexel_session_" + std::to_string(::getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir / "photos");
    }
    void TearDown() override { fs::remove_all(dir); }

    // A small grey PGM, written by hand (see image_import_test).
    std::string picture(const std::string& name, int value) {
        const fs::path path = dir / "photos" / name;
        std::ofstream(path, std::ios::binary) << "P5\n8 6\n255\n" << std::string(48, static_cast<char>(value));
        return path.string();
    }

    // Four frames: 0 and 2 with points and a cell, 1 with no board, 3 not
    // searched; 1 left out; a calibration with the pose of frame 2.
    void makeWork(CVexelDoc& doc) {
        ASSERT_TRUE(doc.ImportImageFiles({picture("a.pgm", 10), picture("b.pgm", 20), picture("c.pgm", 30),
                                          picture("d.pgm", 40)}));
        GridSet& grid = gridsOf(doc);
        grid.allocate(4, GRID_POINTS_PER_FRAME);
        for (int f = 0; f < 4; ++f) {
            FrameGrid& record = grid.frames[static_cast<std::size_t>(f)];
            record.pointCount = 0;
            record.searched = f < 3;
            record.size = cv::Size(8, 6);
        }
        grid.frames[1].failure = GridFailure::NoBoardFound;
        for (int f : {0, 2}) {
            FrameGrid& record = grid.frames[static_cast<std::size_t>(f)];
            record.pointCount = 5;
            for (std::size_t j = 0; j < 5; ++j) {
                record.imagePoints[j] = {0.1f * f + j, 1.0f / 3 + j};
                record.patternPoints[j] = {float(j) - 5, float(f)};
            }
            g_part& part = *record.gridPart;
            auto* cell = new GridElement;
            for (auto [x, y] : {std::pair{1.5, 2.0}, {3.0, 2.25}, {3.0, 4.0}, {1.5, 4.0}}) {
                auto* node = new g_node(g_vector(x + f, y, 0));
                part.addNode(node);
                cell->addNode(node);
            }
            cell->inGrid = 1;
            part.addElement(cell);
        }
        doc.SetFrameExcluded(1, true);
        calibrationOf(doc) = std::make_unique<CalibrationRecord>();
        for (std::size_t i = 0; i < CalibrationRecord::SIZE; ++i) calibrationOf(doc)->values[i] = 0.1 * i + 1.0 / 7;
        statsOf(doc).valid = true;
        statsOf(doc).frames = {0, 2};
        statsOf(doc).pointCounts = {5, 5};
        statsOf(doc).perViewErrors = {0.125, 0.25};
        statsOf(doc).rms = 0.2;
        statsOf(doc).imageSize = cv::Size(8, 6);
        statsOf(doc).warnings = {"only 2 distinct views"};
        statsOf(doc).poseFrame = statsOf(doc).extrinsicFrame = 2;
        referenceFrameOf(doc) = 2;
        doc.SetCellSizeMm(25);
        showGridOf(doc) = true;
        doc.GoToFrame(2);
    }

    fs::path dir;
    ScriptedUi ui;
};

TEST_F(SessionFileTest, ReopenedSessionHoldsEverythingWithoutSearchingAgain) {
    CVexelDoc doc(&ui);
    makeWork(doc);
    const fs::path path = dir / "work.vexel";
    ASSERT_TRUE(doc.SaveSessionFile(path.string()));
    const std::string text = readAll(path);
    // Frame paths are written relative to the session's folder.
    EXPECT_NE(text.find("\"name\":\"photos/a.pgm\""), std::string::npos);
    EXPECT_FALSE(doc.SessionModified());

    // Moved elsewhere with its frames, it opens as it was.
    fs::rename(dir / "photos", dir / "moved_photos");
    fs::create_directories(dir / "elsewhere");
    fs::rename(dir / "moved_photos", dir / "elsewhere" / "photos");
    fs::rename(path, dir / "elsewhere" / "work.vexel");
    CVexelDoc reopened(&ui);
    ASSERT_TRUE(reopened.OpenSessionFile((dir / "elsewhere" / "work.vexel").string()));
    ASSERT_EQ(reopened.FrameCount(), 4);
    EXPECT_EQ(reopened.CurrentFrame(), 2);
    for (int f = 0; f < 4; ++f) {
        const FrameGrid &a = doc.GridOf(f), &b = reopened.GridOf(f);
        EXPECT_EQ(a.searched, b.searched) << f;
        EXPECT_EQ(a.pointCount, b.pointCount) << f;
        EXPECT_EQ(a.failure, b.failure) << f;
        EXPECT_EQ(a.size, b.size) << f;
        EXPECT_EQ(doc.FrameExcluded(f), reopened.FrameExcluded(f)) << f;
        EXPECT_EQ(gridsOf(doc).getCellCount(f), gridsOf(reopened).getCellCount(f)) << f;
        EXPECT_EQ(reopened.FrameNote(f), "") << f;
        for (int j = 0; j < a.pointCount; ++j) {
            GridPoint p{}, q{};
            gridsOf(doc).getImagePoint(f, j, p);
            gridsOf(reopened).getImagePoint(f, j, q);
            EXPECT_EQ(p.x, q.x);
            EXPECT_EQ(p.y, q.y);
        }
    }
    EXPECT_EQ(reopened.FrameName(0), (dir / "elsewhere" / "photos" / "a.pgm").string());
    ASSERT_TRUE(calibrationOf(reopened));
    EXPECT_EQ(*calibrationOf(reopened), *calibrationOf(doc));
    EXPECT_EQ(statsOf(reopened).perViewErrors, statsOf(doc).perViewErrors);
    EXPECT_EQ(statsOf(reopened).imageSize, cv::Size(8, 6));
    EXPECT_EQ(statsOf(reopened).warnings, statsOf(doc).warnings);
    EXPECT_EQ(referenceFrameOf(reopened), 2);
    EXPECT_EQ(reopened.CellSizeMm(), 25);
    EXPECT_TRUE(showGridOf(reopened));
    EXPECT_FALSE(reopened.SessionModified());

    // Written again, the same text; only the frame not searched yet is
    // searched by the next command that needs the frames.
    ASSERT_TRUE(reopened.SaveSessionFile((dir / "elsewhere" / "again.vexel").string()));
    EXPECT_EQ(readAll(dir / "elsewhere" / "again.vexel"), text);
    EXPECT_EQ(reopened.FramesNotExtracted(), 1);
    reopened.SetGridStreams(nullptr, nullptr);
    EXPECT_EQ(reopened.ExtractMissingGrids(), 1);
    EXPECT_TRUE(reopened.SessionModified());
}

TEST_F(SessionFileTest, FilesThatChangedOrWentAreMarkedAndLeftOut) {
    CVexelDoc doc(&ui);
    makeWork(doc);
    const fs::path path = dir / "work.vexel";
    ASSERT_TRUE(doc.SaveSessionFile(path.string()));
    std::ofstream(dir / "photos" / "a.pgm", std::ios::app) << "more";
    fs::remove(dir / "photos" / "c.pgm");

    CVexelDoc reopened(&ui);
    ASSERT_TRUE(reopened.OpenSessionFile(path.string()));
    EXPECT_EQ(reopened.FrameNote(0), "file changed since the session was saved");
    EXPECT_EQ(reopened.FrameNote(2), "file missing");
    for (int f : {0, 2}) {
        EXPECT_TRUE(reopened.FrameExcluded(f)) << f;
        EXPECT_FALSE(reopened.GridOf(f).searched) << f;
    }
    // The calibration stays, its figures no longer name frames.
    ASSERT_TRUE(calibrationOf(reopened));
    EXPECT_TRUE(statsOf(reopened).frames.empty());
    EXPECT_EQ(referenceFrameOf(reopened), -1);
    EXPECT_NE(ui.calls.back().find("1 file is missing; 1 file has changed since the session was saved"),
              std::string::npos)
        << ui.calls.back();
}

TEST_F(SessionFileTest, FilesThatAreNoSessionChangeNothing) {
    CVexelDoc doc(&ui);
    makeWork(doc);
    const fs::path good = dir / "good.vexel";
    ASSERT_TRUE(doc.SaveSessionFile(good.string()));
    std::string text = readAll(good);
    const auto edited = [&](const std::string& from, const std::string& to) {
        std::string copy = text;
        const std::size_t at = copy.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? copy : copy.replace(at, from.size(), to);
    };
    const struct {
        std::string text;
        std::string problem;
    } cases[] = {
        {"{\"format\": \"vexel session\", ", "it is not JSON text (at line 1"},
        {"{\"format\": \"other\"}", "it is not a session file"},
        {"1E+888", "it is not JSON text (number overflow parsing '1E+888')"},
        {edited("\"version\": 1", "\"version\": 7"), "newer version of the program (session version 7)"},
        {edited("\"cells\":[[0,1,2,3]]", "\"cells\":[[0,1,2,9]]"), "frame 0: a cell's corner is 9, outside 0 to 3"},
        {edited("\"cells\":[[0,1,2,3]]", "\"cells\":[[0,1,1,3]]"), "frame 0: a cell names one corner twice"},
        {edited("\"referenceFrame\": 2", "\"referenceFrame\": 4"), "the reference frame is 4, outside -1 to 3"},
        {edited("\"searched\":true", "\"searched\":1"), "frame 0: searched is not true or false"},
    };
    for (const auto& c : cases) {
        const fs::path path = dir / "bad.vexel";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.text;
        ui.calls.clear();
        EXPECT_FALSE(doc.OpenSessionFile(path.string())) << c.problem;
        ASSERT_EQ(ui.calls.size(), 1u);
        EXPECT_EQ(ui.calls[0].rfind("status|Open Session: " + path.string() + ": ", 0), 0u) << ui.calls[0];
        EXPECT_NE(ui.calls[0].find(c.problem), std::string::npos) << ui.calls[0];
        EXPECT_EQ(doc.FrameCount(), 4);
        EXPECT_TRUE(calibrationOf(doc));
    }
}

}  // namespace

// A calibration of another lens model keeps its model, all its
// coefficients, deviations and bend, and the session says it is of the
// version earlier readers refuse; the lens settings come back too.
TEST(SessionLensModelTest, AnotherModelReadsBackWhole) {
    SessionData session;
    session.hasCalibration = true;
    for (std::size_t i = 0; i < CalibrationRecord::SIZE; ++i) session.record.values[i] = 0.1 * i + 1.0 / 7;
    session.record.setLens(LensModel::Rational, {0.1, -0.2, 0.001, 0.002, 0.03, 0.4, -0.05, 0.006});
    session.stats.valid = true;
    for (std::size_t i = 0; i < 12; ++i) session.stats.stdDeviations[i] = 0.01 * (i + 1);
    session.stats.flex = {true, 0.11, -0.02, 0.003, 0.004};
    session.stats.modelChoice = "rational: the simplest that fits";
    session.lensModel = LensModel::Fisheye;
    session.boardFlex = true;
    const std::string text = formatSession(session);
    EXPECT_NE(text.find("\"version\": 2"), std::string::npos);

    SessionData read;
    std::string error;
    ASSERT_TRUE(parseSession(text, read, error)) << error;
    EXPECT_EQ(read.record, session.record);
    EXPECT_EQ(read.stats.stdDeviations, session.stats.stdDeviations);
    EXPECT_TRUE(read.stats.flex.estimated);
    EXPECT_EQ(read.stats.flex.alongX, 0.11);
    EXPECT_EQ(read.stats.modelChoice, session.stats.modelChoice);
    EXPECT_EQ(read.lensModel, LensModel::Fisheye);
    EXPECT_TRUE(read.boardFlex);

    // The default model's sessions stay of version 1.
    session.record.setLens(LensModel::OpenCv4, {0.1, -0.2, 0.001, 0.002});
    EXPECT_NE(formatSession(session).find("\"version\": 1"), std::string::npos);
}
