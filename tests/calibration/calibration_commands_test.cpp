#include <gtest/gtest.h>

#include <algorithm>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "document/calibration_commands.h"
#include "calibration/calibration_file.h"
#include "document/grid_commands.h"
#include "document/vexel_doc.h"
#include "support/document_access.h"
#include "support/grid_views.h"
#include "support/scripted_ui.h"
#include "support/search_grids.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

const char* const NEED_INTRINSIC = "message|Must have intrinsic calibration before extrinsic parameters can be used.";
const char* const NEED_FOUR = "message|Must select an image in which 4 or more points could be mapped.";

class CalibrationCommandsTest : public ::testing::Test {
protected:
    void TearDown() override { doc.WaitForLoader(); }

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

    void fillFrame(int frame, int count) { projectView(gridsOf(doc), frame, count); }

    // A grid set for every frame, frames 0 .. count-1 filled with varied
    // views, the rest empty; every frame counts as searched (at a size not
    // known).
    void fillViews(int frames, int withPoints) {
        searchedFrames(gridsOf(doc), frames);
        projectViews(gridsOf(doc), withPoints);
    }

    // The camera fillFrame projects with.
    static CalibrationRecord knownCamera() {
        CalibrationRecord record;
        record.setCamera(700, 696, 322, 238);
        record.setLens(LensModel::OpenCv4, {-0.18, 0.05, 0.0006, -0.0004});
        return record;
    }

    TempDir dir{"vexel_calcmd"};
    ScriptedUi ui;
    CVexelDoc doc{&ui};
};

}  // namespace

TEST_F(CalibrationCommandsTest, GridOverlayTurnsOnOnlyOnceAGridWasFound) {
    doc.OnGrid();
    EXPECT_FALSE(doc.ShowGrid());
    EXPECT_EQ(ui.callsStartingWith("views").size(), 1u);

    importFrames(2);
    fillViews(2, 1);
    doc.OnGrid();
    EXPECT_TRUE(doc.ShowGrid());
    doc.OnGrid();
    EXPECT_FALSE(doc.ShowGrid());

    fillViews(2, 0);
    doc.OnGrid();
    EXPECT_FALSE(doc.ShowGrid());
}

TEST_F(CalibrationCommandsTest, ExtractionVisitsEveryFrameFromTheCurrentOneAtItsOwnSize) {
    std::vector<cv::Size> sizes;
    for (int i = 0; i < 10; ++i) sizes.emplace_back(40 + 4 * (i % 3), 30 + 2 * i);
    importFrames(sizes);
    doc.GoToFrame(3);
    doc.StartLoader();

    std::vector<int> visited;
    int read = searchAll(doc, 1, [&](GridSet& set, int frame, const cv::Mat& image, FrameNotes&) {
        visited.push_back(frame);
        // The image is the frame's own, fully decoded, in a padded frame image.
        EXPECT_EQ(image.size(), sizes[frame]) << frame;
        EXPECT_EQ(image.at<uchar>(image.rows - 1, image.cols - 1), 10 * frame + 5) << frame;
        EXPECT_EQ(image.step[0] % 4, 0u);
        set.frames[frame].pointCount = frame;
    }).read;
    EXPECT_EQ(read, 10);
    EXPECT_EQ(visited, (std::vector<int>{3, 4, 5, 6, 7, 8, 9, 0, 1, 2}));
    EXPECT_EQ(doc.CurrentFrame(), 3);
    EXPECT_EQ(doc.Grids().frameCount(), 10);
    EXPECT_EQ(doc.Grids().getPointCount(7), 7);
    EXPECT_EQ(doc.GridOf(9).size, sizes[9]);
    EXPECT_TRUE(doc.GridOf(9).searched);
}

TEST_F(CalibrationCommandsTest, AFrameThatCannotBeDecodedIsNotExtracted) {
    importFrames(2);
    fs::path broken = dir / "broken.pgm";
    std::ofstream(broken) << "not an image";
    ASSERT_TRUE(doc.ImportImageFiles({broken.string()}));

    std::vector<int> visited;
    EXPECT_EQ(searchAll(doc, 1, [&](GridSet&, int frame, const cv::Mat&, FrameNotes&) { visited.push_back(frame); }).read,
              2);
    EXPECT_EQ(visited, (std::vector<int>{0, 1}));
    EXPECT_EQ(doc.Grids().getPointCount(2), 0);  // not the "not searched" count
    EXPECT_TRUE(doc.GridOf(2).searched);
    EXPECT_EQ(doc.GridOf(2).failure, GridFailure::NotRead);
    EXPECT_EQ(doc.CurrentFrame(), 0);
}

TEST_F(CalibrationCommandsTest, ExtractGridsCommandWithNoFramesDoesNothing) {
    doc.OnExtractGrids();
    EXPECT_TRUE(ui.calls.empty());
    importFrames(2);
    ui.calls.clear();
    doc.OnExtractGrids();  // flat frames: no grid anywhere
    EXPECT_EQ(ui.calls.front(), "busy|1");
    EXPECT_EQ(doc.Grids().getTotalPointCount(), 0);
    EXPECT_NE(ui.lastStatus().find("0 of 2 frames"), std::string::npos) << ui.lastStatus();
}

TEST_F(CalibrationCommandsTest, IntrinsicCalibrationUsesFramesOfTheCommonSizeWithFourOrMorePoints) {
    importFrames({{640, 480}, {640, 480}, {320, 240}, {640, 480}, {640, 480}, {640, 480}, {640, 480}, {640, 480}});
    fillViews(8, 7);
    fillFrame(1, 3);  // too few points
    for (FrameGrid& frame : gridsOf(doc).frames) frame.size = cv::Size(640, 480);
    gridsOf(doc).frames[2].size = cv::Size(320, 240);
    referenceFrameOf(doc) = 4;

    doc.OnIntrinsicCalibration();
    ASSERT_TRUE(doc.Calibration());
    const CalibrationRecord& r = *doc.Calibration();
    EXPECT_NEAR(r.fx(), 700, 0.05);
    EXPECT_NEAR(r.fy(), 696, 0.05);
    EXPECT_NEAR(r.cx(), 322, 0.05);
    EXPECT_NEAR(r.cy(), 238, 0.05);
    EXPECT_NEAR(r.distortion(0), -0.18, 1e-3);
    // The pose fields hold frame 0's pose, which belongs to no reference frame.
    EXPECT_NEAR(r.translation(2), 25.0, 1e-2);
    EXPECT_EQ(doc.ReferenceFrame(), -1);

    const CalibrationStats& stats = doc.Stats();
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
    EXPECT_FALSE(doc.Calibration());
    EXPECT_NE(ui.lastStatus().find("no frame has 4 or more points"), std::string::npos) << ui.lastStatus();

    // A failing library call leaves an existing record as it was.
    calibrationOf(doc) = std::make_unique<CalibrationRecord>();
    calibrationOf(doc)->values.fill(3.0);
    for (int j = 0; j < 6; ++j) gridsOf(doc).frames[0].patternPoints[j] = {1.0f, 1.0f};
    gridsOf(doc).frames[0].pointCount = 6;
    doc.OnIntrinsicCalibration();
    for (double v : doc.Calibration()->values) EXPECT_EQ(v, 3.0);
    EXPECT_NE(ui.lastStatus().find("failed"), std::string::npos) << ui.lastStatus();
    EXPECT_FALSE(doc.Stats().valid);
}

TEST_F(CalibrationCommandsTest, IntrinsicCalibrationRunsTheSolverItIsGivenAndSaysWhichRan) {
    importFrames(6, cv::Size(640, 480));
    fillViews(6, 6);
    for (FrameGrid& frame : gridsOf(doc).frames) frame.size = cv::Size(640, 480);
    doc.OnIntrinsicCalibration();
    ASSERT_TRUE(doc.Stats().valid);
    EXPECT_EQ(doc.Stats().solver, "library");
    CalibrationRecord library = *doc.Calibration();

    IntrinsicOptions sparse;
    sparse.solver = IntrinsicSolver::Sparse;
    doc.OnIntrinsicCalibration(sparse);
    ASSERT_TRUE(doc.Stats().valid);
    EXPECT_EQ(doc.Stats().solver, "sparse");
    for (std::size_t i : {0u, 2u, 4u, 5u})
        EXPECT_NEAR(doc.Calibration()->camera(i), library.camera(i), 1e-6 * library.camera(i)) << i;
}

TEST_F(CalibrationCommandsTest, ExtrinsicCalibrationAsksForTheFrameAndRefusesPoorOnes) {
    doc.OnExtrinsicCalibration();
    EXPECT_EQ(ui.calls, (std::vector<std::string>{NEED_INTRINSIC}));

    importFrames(4, cv::Size(640, 480));
    fillViews(4, 4);
    fillFrame(2, 3);
    calibrationOf(doc) = std::make_unique<CalibrationRecord>(knownCamera());
    doc.GoToFrame(1);
    referenceFrameOf(doc) = 0;

    ui.calls.clear();
    ui.referenceAnswers = {2};
    doc.OnExtrinsicCalibration();
    // Frame 2, with 3 points, is not offered; the others come with their points.
    const std::vector<std::string> names = doc.FrameNames();
    const auto points = [&](int f) { return gridsOf(doc).getPointCount(f); };
    EXPECT_EQ(ui.lastReferenceChoices, (std::vector<ReferenceFrameChoice>{
                                           {0, names[0], points(0)}, {1, names[1], points(1)}, {3, names[3], points(3)}}));
    EXPECT_EQ(ui.calls[0], "reference|1|3");
    EXPECT_EQ(ui.callsStartingWith("message|"), (std::vector<std::string>{NEED_FOUR}));
    EXPECT_TRUE(ui.callsStartingWith("views").empty());
    // No wait cursor is left over the message box.
    EXPECT_EQ(ui.calls.back(), NEED_FOUR);
    EXPECT_EQ(std::count(ui.calls.begin(), ui.calls.end(), "busy|1"),
              std::count(ui.calls.begin(), ui.calls.end(), "busy|0"));
    EXPECT_EQ(doc.ReferenceFrame(), 0);

    for (int answer : {-1, 4}) {
        ui.calls.clear();
        ui.referenceAnswers = {answer};
        doc.OnExtrinsicCalibration();
        EXPECT_EQ(doc.ReferenceFrame(), 0);
        EXPECT_EQ(ui.callsStartingWith("busy|"), (std::vector<std::string>{"busy|0"}));
        EXPECT_EQ(ui.calls.back(), "views");
    }

    ui.referenceAnswers = {3};
    doc.OnExtrinsicCalibration();
    EXPECT_EQ(doc.ReferenceFrame(), 3);
    EXPECT_EQ(doc.Stats().extrinsicFrame, 3);
    cv::Matx33d rotation;
    cv::Rodrigues(cv::Vec3d(0.2, -0.55, 1.6), rotation);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(doc.Calibration()->rotation(i), rotation(i / 3, i % 3), 1e-4) << i;
    EXPECT_NEAR(doc.Calibration()->translation(2), 28.0, 1e-2);
    EXPECT_EQ(doc.Calibration()->fx(), 700.0);  // the intrinsic fields are only read
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
    EXPECT_FALSE(doc.Calibration());  // no record made for a file that is none
    EXPECT_NE(ui.lastStatus().find(notCal.string()), std::string::npos);

    CalibrationRecord record;
    record.camera(0) = 812.5;
    record.camera(4) = 810.25;
    record.translation(2) = 30.0;
    fs::path good = dir / "good.cal";
    ASSERT_TRUE(CalibrationFileWriter(record, good.string(), CAL_BINARY));
    ui.openAnswers = {{good.string()}};
    doc.OnLoadCalibration();
    ASSERT_TRUE(doc.Calibration());
    EXPECT_EQ(*doc.Calibration(), record);

    ui.calls.clear();
    fs::path saved = dir / "saved.cal";
    ui.saveAnswers = {saved.string()};
    doc.OnSaveCalibration();
    EXPECT_EQ(ui.calls[0], "save|Camera Calibration Files (*.cal)|*.cal|||.cal|prompt");
    EXPECT_EQ(readFile(saved), formatCalibrationFile(record, CAL_LABELLED));
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
    std::string text = readFile(path);
    EXPECT_EQ(text.rfind("frame0\n-5.000000 -5.000000 ", 0), 0u) << text.substr(0, 40);
    EXPECT_EQ(text.substr(text.size() - 16), "\nframe1\nframe2\n\n");
}

TEST_F(CalibrationCommandsTest, GridStatusSaysWhyAFrameHasNoPoints) {
    importFrames(3);
    fs::path broken = dir / "broken.pgm";
    std::ofstream(broken) << "not an image";
    ASSERT_TRUE(doc.ImportImageFiles({broken.string()}));
    EXPECT_EQ(doc.FramesNotExtracted(), 4);
    EXPECT_FALSE(doc.GridOf(0).searched);

    // Frame 0 gets points, frame 1 none, frame 2 has its labels refused.
    searchAll(doc, 1, [](GridSet& set, int frame, const cv::Mat&, FrameNotes& notes) {
        set.frames[frame].pointCount = frame == 0 ? 12 : 0;
        if (frame == 2) notes.rejected = "a false marker";
    });
    EXPECT_EQ(doc.FramesNotExtracted(), 0);
    const FrameGrid& found = doc.GridOf(0);
    EXPECT_TRUE(found.searched);
    EXPECT_EQ(found.pointCount, 12);
    EXPECT_EQ(found.failure, GridFailure::None);
    EXPECT_EQ(found.size, cv::Size(64, 48));
    EXPECT_EQ(doc.GridOf(1).failure, GridFailure::NoBoardFound);
    EXPECT_EQ(doc.GridOf(2).failure, GridFailure::MarkersMisfit);
    EXPECT_EQ(doc.GridOf(3).failure, GridFailure::NotRead);
    EXPECT_TRUE(doc.GridOf(3).size.empty());
    EXPECT_EQ(extractionSummary(doc), "Extract Grid(s): 1 of 4 frames with 4 or more points, 12 points in all, "
                                      "1 frames could not be read");

    // Appended frames are not searched yet and hold nothing; the others keep theirs.
    importFrames(2);
    EXPECT_EQ(doc.FramesNotExtracted(), 2);
    EXPECT_FALSE(doc.GridOf(5).searched);
    EXPECT_EQ(doc.GridOf(5).pointCount, 0);
    EXPECT_EQ(doc.GridOf(0).pointCount, 12);
    std::vector<int> visited;
    GridSearch missing;
    missing.extract = [&](GridSet& set, int frame, const cv::Mat&, FrameNotes&) {
        visited.push_back(frame);
        set.frames[frame].pointCount = 7;
    };
    doc.SearchGrids(missing);
    EXPECT_EQ(visited, (std::vector<int>{4, 5}));
    EXPECT_EQ(doc.GridOf(0).pointCount, 12);
    EXPECT_EQ(doc.GridOf(2).failure, GridFailure::MarkersMisfit);
    EXPECT_EQ(doc.Grids().getTotalPointCount(), 12 + 7 + 7);
    EXPECT_EQ(doc.CurrentFrame(), 0);
}

TEST_F(CalibrationCommandsTest, IntrinsicCalibrationTakesTheMostCommonSizeAndWarns) {
    // The current frame is the odd one out: the four others are calibrated.
    importFrames({{320, 240}, {640, 480}, {640, 480}, {640, 480}, {640, 480}});
    fillViews(5, 5);
    for (FrameGrid& frame : gridsOf(doc).frames) frame.size = cv::Size(640, 480);
    gridsOf(doc).frames[0].size = cv::Size(320, 240);
    doc.OnIntrinsicCalibration();
    ASSERT_TRUE(doc.Calibration()) << ui.lastStatus();
    const CalibrationStats& stats = doc.Stats();
    EXPECT_EQ(stats.frames, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(stats.imageSize, cv::Size(640, 480));
    EXPECT_EQ(stats.poseFrame, 1);
    EXPECT_EQ(stats.distinctViews, 4);
    EXPECT_EQ(stats.warnings, (std::vector<std::string>{"1 frame of another size left out (calibrated at 640 x 480)"}));
    EXPECT_NE(ui.lastStatus().find("; warning: 1 frame of another size left out"), std::string::npos)
        << ui.lastStatus();
    EXPECT_NEAR(doc.Calibration()->fx(), 700, 0.05);

    // Four copies of one view: one distinct view, however small the deviations look.
    fillViews(5, 0);
    for (int f = 1; f < 5; ++f) fillFrame(f, 110);
    doc.OnIntrinsicCalibration();
    EXPECT_EQ(doc.Stats().distinctViews, 1);
    ASSERT_FALSE(doc.Stats().warnings.empty());
    EXPECT_EQ(doc.Stats().warnings.front(),
              "only 1 distinct view (3 or more are needed for a reliable calibration)");
    EXPECT_NE(ui.lastStatus().find("warning: only 1 distinct view"), std::string::npos) << ui.lastStatus();
}

TEST_F(CalibrationCommandsTest, SizeTiesGoToTheCurrentFrame) {
    importFrames({{320, 240}, {640, 480}, {640, 480}, {320, 240}, {320, 240}, {640, 480}});
    fillViews(6, 6);
    const cv::Size sizes[6] = {{320, 240}, {640, 480}, {640, 480}, {320, 240}, {320, 240}, {640, 480}};
    for (int f = 0; f < 6; ++f) gridsOf(doc).frames[f].size = sizes[f];
    doc.GoToFrame(2);
    doc.OnIntrinsicCalibration();
    ASSERT_TRUE(doc.Calibration()) << ui.lastStatus();
    EXPECT_EQ(doc.Stats().frames, (std::vector<int>{1, 2, 5}));
    EXPECT_EQ(doc.Stats().framesOtherSize, 3);
    doc.GoToFrame(3);
    doc.OnIntrinsicCalibration();
    EXPECT_EQ(doc.Stats().frames, (std::vector<int>{0, 3, 4}));
}

TEST_F(CalibrationCommandsTest, DegenerateCalibrationFilesAreRefusedNamingTheField) {
    const CalibrationRecord good = knownCamera();
    calibrationOf(doc) = std::make_unique<CalibrationRecord>(good);

    struct Bad {
        const char* name;
        std::size_t index;
        double value;
        const char* problem;
    };
    const Bad bad[] = {
        {"zero.cal", 0, 0.0, ": fx is 0 (it must be above 0)"},
        {"negative.cal", 4, -696.0, ": fy is -696 (it must be above 0)"},
        {"nan.cal", 13, std::nan(""), ": rotation matrix element 4 is not a finite number"},
        {"inf.cal", 21, HUGE_VAL, ": k1 is not a finite number"},
    };
    for (const Bad& b : bad) {
        CalibrationRecord record = good;
        record.values[b.index] = b.value;
        const fs::path path = dir / b.name;
        ASSERT_TRUE(CalibrationFileWriter(record, path.string(), CAL_BINARY));
        EXPECT_FALSE(LoadCalibrationFile(doc, path.string())) << b.name;
        EXPECT_EQ(ui.lastStatus(), "Load Calibration: " + path.string() + b.problem + "; the calibration was not changed");
        EXPECT_EQ(*doc.Calibration(), good);
    }

    // A binary file cut after 18 values, and a labelled one without its rotation.
    const std::string binary = formatCalibrationFile(good, CAL_BINARY);
    const fs::path cut = dir / "cut.cal";
    std::ofstream(cut, std::ios::binary) << binary.substr(0, 1 + 18 * 8 + 3);
    EXPECT_FALSE(LoadCalibrationFile(doc, cut.string()));
    EXPECT_EQ(ui.lastStatus(), "Load Calibration: " + cut.string() +
                                   " is truncated: read 18 of 25 values, translation x is missing; the calibration "
                                   "was not changed");
    const std::string labelled = formatCalibrationFile(good, CAL_LABELLED);
    const fs::path short_ = dir / "short.cal";
    std::ofstream(short_, std::ios::binary) << labelled.substr(0, labelled.find("rotation"));
    EXPECT_FALSE(LoadCalibrationFile(doc, short_.string()));
    EXPECT_NE(ui.lastStatus().find("read 11 of 20 values, rotation matrix element 0 is missing"), std::string::npos)
        << ui.lastStatus();
    EXPECT_EQ(*doc.Calibration(), good);

    // Without a record before, a refused file makes none.
    calibrationOf(doc).reset();
    EXPECT_FALSE(LoadCalibrationFile(doc, (dir / "zero.cal").string()));
    EXPECT_FALSE(doc.Calibration());
}

TEST_F(CalibrationCommandsTest, APoseThatDoesNotFitItsPointsIsNotStored) {
    importFrames(2, cv::Size(640, 480));
    fillViews(2, 2);
    calibrationOf(doc) = std::make_unique<CalibrationRecord>();
    calibrationOf(doc)->camera(8) = 1;
    calibrationOf(doc)->rotation(0) = 5;
    referenceFrameOf(doc) = 0;
    // A focal length no lens has, and a distortion far stronger than the views'.
    for (double fx : {1e308, 700.0}) {
        calibrationOf(doc)->camera(0) = fx;
        calibrationOf(doc)->camera(4) = fx;
        calibrationOf(doc)->camera(2) = 322;
        calibrationOf(doc)->camera(5) = 238;
        calibrationOf(doc)->distortion(0) = fx == 700.0 ? 400.0 : 0.0;
        const CalibrationRecord before = *doc.Calibration();
        ui.referenceAnswers = {1};
        doc.OnExtrinsicCalibration();
        EXPECT_EQ(*doc.Calibration(), before) << fx;
        EXPECT_EQ(doc.ReferenceFrame(), 0);
        EXPECT_NE(ui.lastStatus().find("failed"), std::string::npos) << ui.lastStatus();
        EXPECT_NE(ui.lastStatus().find("the calibration was not changed"), std::string::npos) << ui.lastStatus();
    }
}

TEST_F(CalibrationCommandsTest, LoadingACalibrationForgetsTheReferenceFrame) {
    importFrames(4, cv::Size(640, 480));
    fillViews(4, 4);
    doc.OnIntrinsicCalibration();
    ui.referenceAnswers = {2};
    doc.OnExtrinsicCalibration();
    ASSERT_EQ(doc.ReferenceFrame(), 2);
    EXPECT_EQ(doc.Stats().poseFrame, 2);

    const fs::path path = dir / "saved.cal";
    ASSERT_TRUE(SaveCalibrationFile(doc, path.string(), CAL_LABELLED));
    ASSERT_TRUE(LoadCalibrationFile(doc, path.string()));
    EXPECT_EQ(doc.ReferenceFrame(), -1);
    EXPECT_EQ(doc.Stats().poseFrame, -1);
}

TEST_F(CalibrationCommandsTest, ClosingAsksToSaveACalibrationThatChanged) {
    const std::string question = "close|Save the calibration before closing?";
    EXPECT_TRUE(doc.ConfirmClose());  // nothing to save
    importFrames(4, cv::Size(640, 480));
    fillViews(4, 4);
    doc.OnIntrinsicCalibration();
    ASSERT_TRUE(doc.Calibration());

    ui.calls.clear();
    ui.closeAnswers = {SaveChoice::Cancel, SaveChoice::Discard};
    EXPECT_FALSE(doc.ConfirmClose());
    EXPECT_TRUE(doc.ConfirmClose());
    EXPECT_EQ(ui.calls, (std::vector<std::string>{question, question}));

    // Save, but the save dialog is cancelled: the work stays.
    ui.closeAnswers = {SaveChoice::Save};
    EXPECT_FALSE(doc.ConfirmClose());
    const fs::path path = dir / "on_close.cal";
    ui.closeAnswers = {SaveChoice::Save};
    ui.saveAnswers = {path.string()};
    EXPECT_TRUE(doc.ConfirmClose());
    EXPECT_EQ(readFile(path), formatCalibrationFile(*doc.Calibration(), CAL_LABELLED));

    // Saved: nothing to ask until the calibration changes again.
    ui.calls.clear();
    EXPECT_TRUE(doc.ConfirmClose());
    ui.referenceAnswers = {1};
    doc.OnExtrinsicCalibration();
    ASSERT_EQ(doc.ReferenceFrame(), 1);
    EXPECT_FALSE(doc.ConfirmClose());
    ASSERT_TRUE(LoadCalibrationFile(doc, path.string()));
    ui.calls.clear();
    EXPECT_TRUE(doc.ConfirmClose());
    EXPECT_TRUE(ui.callsStartingWith("close|").empty());
}

TEST_F(CalibrationCommandsTest, EveryExportFormatOfTheMenuWritesItsFile) {
    importFrames(6, cv::Size(640, 480));
    fillViews(6, 6);
    doc.OnIntrinsicCalibration();
    ASSERT_TRUE(doc.Calibration());
    const char* const starts[] = {"%YAML:1.0", "image_width", "", "", "{", "cam0:", "# Camera list"};
    const auto& formats = calibrationExportFormats();
    ASSERT_EQ(formats.size(), std::size(starts));
    for (std::size_t i = 0; i < formats.size(); ++i) {
        const fs::path path = dir / ("export" + std::to_string(i) + formats[i].extension);
        std::string error;
        ASSERT_TRUE(ExportCalibrationFile(doc, static_cast<int>(i), path.string(), &error)) << formats[i].name << error;
        std::ifstream in(path, std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        EXPECT_EQ(text.rfind(starts[i], 0), 0u) << formats[i].name << "\n" << text.substr(0, 40);
    }
}
