#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "calibration/calibration_commands.h"
#include "calibration/calibration_file.h"
#include "document/grid_commands.h"
#include "document/vexel_doc.h"
#include "support/scripted_ui.h"

namespace fs = std::filesystem;

namespace {

const char* const NEED_INTRINSIC = "message|Must have intrinsic calibration before extrinsic parameters can be used.";
const char* const NEED_FOUR = "message|Must select an image in which 4 or more points could be mapped.";

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class CalibrationCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("vexel_calcmd_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        doc.m_diagnostics = nullptr;
    }
    void TearDown() override {
        doc.WaitForLoader();
        fs::remove_all(dir);
    }

    // Frame i is a flat grey image of value 10 * i + 5 and the given size.
    void importFrames(const std::vector<cv::Size>& sizes) {
        std::vector<std::string> paths;
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            fs::path p = dir / ("frame_" + std::to_string(i) + ".pgm");
            cv::Mat image(sizes[i], CV_8UC1, cv::Scalar(static_cast<double>(10 * i + 5)));
            ASSERT_TRUE(cv::imwrite(p.string(), image));
            paths.push_back(p.string());
        }
        ASSERT_TRUE(doc.ImportImageFiles(paths));
        doc.EnsureCurrentFrameLoaded();
    }

    void importFrames(int count, cv::Size size = cv::Size(64, 48)) {
        importFrames(std::vector<cv::Size>(static_cast<std::size_t>(count), size));
    }

    // Gives grid frame `frame` the exact projections of `count` pattern
    // corners under a known camera and the pose `rvec`, `tvec`.
    void fillFrame(int frame, int count, cv::Vec3d rvec = {0.1, 0.2, 0.3}, cv::Vec3d tvec = {0.2, -0.1, 26}) {
        GridSet& set = doc.m_gridSet;
        std::vector<cv::Point3f> object;
        for (int y = -5; y <= 5; ++y)
            for (int x = -5; x <= 4; ++x) object.emplace_back(static_cast<float>(x), static_cast<float>(y), 0.0f);
        object.resize(static_cast<std::size_t>(count));
        std::vector<cv::Point2f> image;
        if (count > 0)
            cv::projectPoints(object, rvec, tvec, cv::Matx33d(700, 0, 322, 0, 696, 238, 0, 0, 1),
                              cv::Vec4d(-0.18, 0.05, 0.0006, -0.0004), image);
        set.pointCount[frame] = count;
        for (int j = 0; j < count; ++j) {
            int s = set.pointOffset[frame] + j;
            set.patternPoints[s] = {object[j].x, object[j].y};
            set.imagePoints[s] = {image[j].x, image[j].y};
        }
    }

    // A grid set for every frame, frames 0 .. count-1 filled with varied
    // views, the rest empty.
    void fillViews(int frames, int withPoints) {
        doc.m_gridSet.allocate(frames, GRID_POINTS_PER_FRAME);
        for (int f = 0; f < frames; ++f) doc.m_gridSet.pointCount[f] = 0;
        const cv::Vec3d rvecs[] = {{0.05, 0.02, 0.1}, {0.5, 0.1, -0.3}, {-0.45, 0.3, 0.8},
                                   {0.2, -0.55, 1.6}, {-0.3, -0.4, -1.2}, {0.6, 0.5, 2.5}};
        for (int f = 0; f < withPoints; ++f) fillFrame(f, 110, rvecs[f % 6], {0.1 * f, -0.05 * f, 25.0 + f});
    }

    fs::path dir;
    ScriptedUi ui;
    CVexelDoc doc{&ui};
};

}  // namespace

TEST_F(CalibrationCommandsTest, GridOverlayTurnsOnOnlyOnceAGridWasFound) {
    doc.OnGrid();
    EXPECT_FALSE(doc.m_showGrid);
    EXPECT_EQ(ui.callsStartingWith("views").size(), 1u);

    importFrames(2);
    fillViews(2, 1);
    doc.OnGrid();
    EXPECT_TRUE(doc.m_showGrid);
    doc.OnGrid();
    EXPECT_FALSE(doc.m_showGrid);

    fillViews(2, 0);
    doc.OnGrid();
    EXPECT_FALSE(doc.m_showGrid);
}

TEST_F(CalibrationCommandsTest, ExtractionVisitsEveryFrameFromTheCurrentOneAtItsOwnSize) {
    std::vector<cv::Size> sizes;
    for (int i = 0; i < 10; ++i) sizes.emplace_back(40 + 4 * (i % 3), 30 + 2 * i);
    importFrames(sizes);
    doc.GoToFrame(3);
    doc.StartLoader();

    std::vector<int> visited;
    int read = extractAllFrames(doc, [&](GridSet& set, int frame, const cv::Mat& image) {
        visited.push_back(frame);
        // The image is the frame's own, fully decoded, in a padded frame image.
        EXPECT_EQ(image.size(), sizes[frame]) << frame;
        EXPECT_EQ(image.at<uchar>(image.rows - 1, image.cols - 1), 10 * frame + 5) << frame;
        EXPECT_EQ(image.step[0] % 4, 0u);
        set.pointCount[frame] = frame;
    });
    EXPECT_EQ(read, 10);
    EXPECT_EQ(visited, (std::vector<int>{3, 4, 5, 6, 7, 8, 9, 0, 1, 2}));
    EXPECT_EQ(doc.CurrentFrame(), 3);
    EXPECT_EQ(doc.m_gridSet.frameCount, 10);
    EXPECT_EQ(doc.m_gridSet.getPointCount(7), 7);
    ASSERT_EQ(doc.m_gridFrameSizes.size(), 10u);
    EXPECT_EQ(doc.m_gridFrameSizes[9], sizes[9]);
}

TEST_F(CalibrationCommandsTest, AFrameThatCannotBeDecodedIsNotExtracted) {
    importFrames(2);
    fs::path broken = dir / "broken.pgm";
    std::ofstream(broken) << "not an image";
    ASSERT_TRUE(doc.ImportImageFiles({broken.string()}));

    std::vector<int> visited;
    EXPECT_EQ(extractAllFrames(doc, [&](GridSet&, int frame, const cv::Mat&) { visited.push_back(frame); }), 2);
    EXPECT_EQ(visited, (std::vector<int>{0, 1}));
    EXPECT_EQ(doc.m_gridSet.getPointCount(2), 0);  // not the "not searched" count
    EXPECT_EQ(doc.CurrentFrame(), 0);
}

TEST_F(CalibrationCommandsTest, ExtractGridsCommandWithNoFramesDoesNothing) {
    doc.OnExtractGrids();
    EXPECT_TRUE(ui.calls.empty());
    importFrames(2);
    ui.calls.clear();
    doc.OnExtractGrids();  // flat frames: no grid anywhere
    EXPECT_EQ(ui.calls.front(), "busy|1");
    EXPECT_EQ(doc.m_gridSet.getTotalPointCount(), 0);
    EXPECT_NE(ui.lastStatus().find("0 of 2 frames"), std::string::npos) << ui.lastStatus();
}

TEST_F(CalibrationCommandsTest, IntrinsicCalibrationUsesFramesOfTheCurrentSizeWithFourOrMorePoints) {
    importFrames({{640, 480}, {640, 480}, {320, 240}, {640, 480}, {640, 480}, {640, 480}, {640, 480}, {640, 480}});
    fillViews(8, 7);
    fillFrame(1, 3);  // too few points
    doc.m_gridFrameSizes.assign(8, cv::Size(640, 480));
    doc.m_gridFrameSizes[2] = cv::Size(320, 240);
    doc.m_referenceFrame = 4;

    doc.OnIntrinsicCalibration();
    ASSERT_TRUE(doc.m_calibration);
    const CalibrationRecord& r = *doc.m_calibration;
    EXPECT_NEAR(r.fx(), 700, 0.05);
    EXPECT_NEAR(r.fy(), 696, 0.05);
    EXPECT_NEAR(r.cx(), 322, 0.05);
    EXPECT_NEAR(r.cy(), 238, 0.05);
    EXPECT_NEAR(r.distortion(0), -0.18, 1e-3);
    // The pose fields hold frame 0's pose, which belongs to no reference frame.
    EXPECT_NEAR(r.translation(2), 25.0, 1e-2);
    EXPECT_EQ(doc.m_referenceFrame, -1);

    const CalibrationStats& stats = doc.m_calibrationStats;
    EXPECT_TRUE(stats.valid);
    EXPECT_EQ(stats.frames, (std::vector<int>{0, 3, 4, 5, 6}));
    EXPECT_EQ(stats.framesOtherSize, 1);
    EXPECT_LT(stats.rms, 1e-3);
    EXPECT_LT(stats.frameError(3), 1e-3);
    EXPECT_LT(stats.frameError(1), 0.0);
    EXPECT_NE(ui.lastStatus().find("1 frame of another size left out"), std::string::npos) << ui.lastStatus();

    std::vector<std::string> busy = ui.callsStartingWith("busy|");
    EXPECT_EQ(busy, (std::vector<std::string>{"busy|1", "busy|0"}));
    EXPECT_EQ(ui.calls.back(), "views");
}

TEST_F(CalibrationCommandsTest, IntrinsicCalibrationWithoutUsableFramesKeepsTheRecord) {
    importFrames(3, cv::Size(640, 480));
    fillViews(3, 0);
    fillFrame(1, 3);
    doc.OnIntrinsicCalibration();
    EXPECT_FALSE(doc.m_calibration);
    EXPECT_NE(ui.lastStatus().find("no frame has 4 or more points"), std::string::npos) << ui.lastStatus();

    // A failing library call leaves an existing record as it was.
    doc.m_calibration = std::make_unique<CalibrationRecord>();
    doc.m_calibration->values.fill(3.0);
    for (int j = 0; j < 6; ++j) doc.m_gridSet.patternPoints[doc.m_gridSet.pointOffset[0] + j] = {1.0f, 1.0f};
    doc.m_gridSet.pointCount[0] = 6;
    doc.OnIntrinsicCalibration();
    for (double v : doc.m_calibration->values) EXPECT_EQ(v, 3.0);
    EXPECT_NE(ui.lastStatus().find("failed"), std::string::npos) << ui.lastStatus();
    EXPECT_FALSE(doc.m_calibrationStats.valid);
}

TEST_F(CalibrationCommandsTest, IntrinsicCalibrationRunsTheSolverItIsGivenAndSaysWhichRan) {
    importFrames(6, cv::Size(640, 480));
    fillViews(6, 6);
    doc.m_gridFrameSizes.assign(6, cv::Size(640, 480));
    doc.OnIntrinsicCalibration();
    ASSERT_TRUE(doc.m_calibrationStats.valid);
    EXPECT_EQ(doc.m_calibrationStats.solver, "library");
    CalibrationRecord library = *doc.m_calibration;

    IntrinsicOptions sparse;
    sparse.solver = IntrinsicSolver::Sparse;
    doc.OnIntrinsicCalibration(sparse);
    ASSERT_TRUE(doc.m_calibrationStats.valid);
    EXPECT_EQ(doc.m_calibrationStats.solver, "sparse");
    for (std::size_t i : {0u, 2u, 4u, 5u})
        EXPECT_NEAR(doc.m_calibration->camera(i), library.camera(i), 1e-6 * library.camera(i)) << i;
}

TEST_F(CalibrationCommandsTest, ExtrinsicCalibrationAsksForTheFrameAndRefusesPoorOnes) {
    doc.OnExtrinsicCalibration();
    EXPECT_EQ(ui.calls, (std::vector<std::string>{NEED_INTRINSIC}));

    importFrames(4, cv::Size(640, 480));
    fillViews(4, 4);
    fillFrame(2, 3);
    doc.m_calibration = std::make_unique<CalibrationRecord>();
    doc.m_calibration->camera(0) = 700;
    doc.m_calibration->camera(2) = 322;
    doc.m_calibration->camera(4) = 696;
    doc.m_calibration->camera(5) = 238;
    doc.m_calibration->camera(8) = 1;
    const double distortion[4] = {-0.18, 0.05, 0.0006, -0.0004};
    for (int i = 0; i < 4; ++i) doc.m_calibration->distortion(i) = distortion[i];
    doc.GoToFrame(1);
    doc.m_referenceFrame = 0;

    ui.calls.clear();
    ui.referenceAnswers = {2};
    doc.OnExtrinsicCalibration();
    EXPECT_EQ(ui.lastReferenceNames, doc.FrameNames());
    EXPECT_EQ(ui.calls[0], "reference|1|4");
    EXPECT_EQ(ui.callsStartingWith("message|"), (std::vector<std::string>{NEED_FOUR}));
    EXPECT_TRUE(ui.callsStartingWith("views").empty());
    EXPECT_EQ(doc.m_referenceFrame, 0);

    for (int answer : {-1, 4}) {
        ui.calls.clear();
        ui.referenceAnswers = {answer};
        doc.OnExtrinsicCalibration();
        EXPECT_EQ(doc.m_referenceFrame, 0);
        EXPECT_EQ(ui.callsStartingWith("busy|"), (std::vector<std::string>{"busy|0"}));
        EXPECT_EQ(ui.calls.back(), "views");
    }

    ui.referenceAnswers = {3};
    doc.OnExtrinsicCalibration();
    EXPECT_EQ(doc.m_referenceFrame, 3);
    EXPECT_EQ(doc.m_calibrationStats.extrinsicFrame, 3);
    cv::Matx33d rotation;
    cv::Rodrigues(cv::Vec3d(0.2, -0.55, 1.6), rotation);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(doc.m_calibration->rotation(i), rotation(i / 3, i % 3), 1e-4) << i;
    EXPECT_NEAR(doc.m_calibration->translation(2), 28.0, 1e-2);
    EXPECT_EQ(doc.m_calibration->fx(), 700.0);  // the intrinsic fields are only read
}

TEST_F(CalibrationCommandsTest, SaveAndLoadCalibrationThroughTheirDialogs) {
    doc.OnSaveCalibration();
    EXPECT_TRUE(ui.callsStartingWith("save|").empty());

    fs::path notCal = dir / "x.cal";
    std::ofstream(notCal) << "x 1 2 3";
    ui.calls.clear();
    ui.openAnswers = {{notCal.string()}};
    doc.OnLoadCalibration();
    EXPECT_EQ(ui.calls[0], "open|Camera Calibration Files (*.cal)|*.cal|||.cal|single");
    EXPECT_FALSE(doc.m_calibration);  // no record made for a file that is none
    EXPECT_NE(ui.lastStatus().find(notCal.string()), std::string::npos);

    CalibrationRecord record;
    record.camera(0) = 812.5;
    record.camera(4) = 810.25;
    record.translation(2) = 30.0;
    fs::path good = dir / "good.cal";
    ASSERT_TRUE(CalibrationFileWriter(record, good.string(), CAL_BINARY));
    ui.openAnswers = {{good.string()}};
    doc.OnLoadCalibration();
    ASSERT_TRUE(doc.m_calibration);
    EXPECT_EQ(*doc.m_calibration, record);

    ui.calls.clear();
    fs::path saved = dir / "saved.cal";
    ui.saveAnswers = {saved.string()};
    doc.OnSaveCalibration();
    EXPECT_EQ(ui.calls[0], "save|Camera Calibration Files (*.cal)|*.cal|||.cal|prompt");
    EXPECT_EQ(readAll(saved), formatCalibrationFile(record, CAL_LABELLED));
    EXPECT_EQ(ui.calls.back(), "views");

    ui.saveAnswers = {(dir / "missing" / "x.cal").string()};
    doc.OnSaveCalibration();
    EXPECT_NE(ui.lastStatus().find("cannot write"), std::string::npos) << ui.lastStatus();
    std::string error;
    EXPECT_FALSE(SaveCalibrationFile(doc, (dir / "missing" / "x.cal").string(), CAL_TEXT, &error));
    EXPECT_FALSE(error.empty());
}

TEST_F(CalibrationCommandsTest, SaveCorrespondencesOnlyWithPoints) {
    importFrames(3);
    doc.OnSaveCorrespondences();
    EXPECT_TRUE(ui.callsStartingWith("save|").empty());
    EXPECT_EQ(ui.calls.back(), "views");

    fillViews(2, 1);  // the grid set knows fewer frames than the document
    fs::path path = dir / "c.points";
    ui.saveAnswers = {path.string()};
    doc.OnSaveCorrespondences();
    EXPECT_EQ(ui.callsStartingWith("save|"),
              (std::vector<std::string>{"save|Correspondence files (*.points)|*.points|||.points|prompt"}));
    std::string text = readAll(path);
    EXPECT_EQ(text.rfind("frame0\n-5.000000 -5.000000 ", 0), 0u) << text.substr(0, 40);
    EXPECT_EQ(text.substr(text.size() - 16), "\nframe1\nframe2\n\n");
}
