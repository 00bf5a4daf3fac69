// Sessions as users run them: the working set changes (New, imports that
// replace or append, a sequence, a loaded calibration) and the results that
// follow must be those of a fresh session on the frames now in the list.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "document/calibration_commands.h"
#include "calibration/calibration_file.h"
#include "document/grid_commands.h"
#include "document/vexel_doc.h"
#include "geomlib/fatal_error.h"
#include "grid/extract_frame.h"
#include "pattern/renderer.h"
#include "support/document_access.h"
#include "support/scripted_ui.h"
#include "support/search_grids.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using namespace vexel::pattern;

namespace {

// The suite's files, removed with the folder when the test program ends.
const fs::path& suiteDir() {
    static const TempDir dir("vexel_working_set");
    return dir.path();
}

// Rendered views of one camera, written as PGM files.
struct ViewSet {
    Camera camera;
    std::vector<ViewPose> poses;
    std::vector<std::string> files;
    std::vector<cv::Mat> images;
};

ViewSet renderViews(const std::string& name, const Camera& camera, int count, uint32_t seed) {
    ViewSet set;
    set.camera = camera;
    RenderOptions options;
    options.samples = 2;
    options.blurSigma = 0.6;
    options.noiseSigma = 1.0;
    const std::vector<ViewPose> poses = randomPoses(camera, count, seed);
    set.poses = poses;
    for (int i = 0; i < count; ++i) {
        options.noiseSeed = seed * 100 + static_cast<uint32_t>(i);
        RenderedView view = renderView(camera, poses[static_cast<std::size_t>(i)], options);
        const fs::path path = suiteDir() / (name + "_" + std::to_string(i) + ".pgm");
        EXPECT_TRUE(cv::imwrite(path.string(), view.image));
        set.files.push_back(path.string());
        set.images.push_back(view.image);
    }
    return set;
}

// Set A: the default camera. Set B: another camera, so that a result of A
// cannot pass for one of B.
const ViewSet& setA() {
    static const ViewSet set = renderViews("a", Camera{}, 6, 11);
    return set;
}

const ViewSet& setB() {
    static const ViewSet set = [] {
        Camera camera;
        camera.fx = 820;
        camera.fy = 812;
        camera.cx = 305;
        camera.cy = 250;
        camera.k1 = -0.1;
        return renderViews("b", camera, 5, 12);
    }();
    return set;
}

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<std::string> slice(const std::vector<std::string>& files, std::size_t from, std::size_t to) {
    return std::vector<std::string>(files.begin() + static_cast<std::ptrdiff_t>(from),
                                    files.begin() + static_cast<std::ptrdiff_t>(to));
}

// A video sequence file holding the views of `set`, 8 bits per pixel.
std::string writeSequence(const ViewSet& set, const std::string& name) {
    VideoSequence sequence;
    const cv::Mat& first = set.images.front();
    EXPECT_TRUE(sequence.Allocate(static_cast<int>(set.images.size()), first.cols, first.rows, 8));
    for (std::size_t i = 0; i < set.images.size(); ++i) {
        std::uint8_t* out = sequence.Frame(static_cast<int>(i));
        for (int y = 0; y < first.rows; ++y) std::memcpy(out + y * first.cols, set.images[i].ptr(y), first.cols);
    }
    const fs::path path = suiteDir() / (name + ".vsq");
    std::FILE* file = std::fopen(path.string().c_str(), "wb");
    EXPECT_NE(file, nullptr);
    EXPECT_TRUE(sequence.Write(file));
    std::fclose(file);
    return path.string();
}

// What a fresh session on `files` computes: Import, Intrinsic Calibration.
struct FreshRun {
    CalibrationRecord record;
    std::vector<int> frames;
    std::string points;  // the correspondence file it writes
};

FreshRun freshRun(const std::vector<std::string>& files) {
    ScriptedUi ui;
    CVexelDoc doc(&ui);
    EXPECT_TRUE(doc.ImportImageFiles(files));
    doc.OnIntrinsicCalibration();
    FreshRun run;
    EXPECT_TRUE(doc.Calibration()) << ui.lastStatus();
    if (doc.Calibration()) run.record = *doc.Calibration();
    run.frames = doc.Stats().frames;
    const fs::path points = suiteDir() / "fresh.points";
    EXPECT_TRUE(SaveCorrespondencesFile(doc, points.string()));
    run.points = readFile(points);
    doc.WaitForLoader();
    return run;
}

class WorkingSet : public ::testing::Test {
protected:
    void TearDown() override { doc.WaitForLoader(); }

    // The document's calibration is the fresh session's, number for number.
    // The vision library's calibration varies in the last few bits from one
    // run to the next (with the same points), hence the tiny tolerance.
    void expectFreshCalibration(const FreshRun& fresh) {
        ASSERT_TRUE(doc.Calibration()) << ui.lastStatus();
        EXPECT_EQ(doc.Stats().frames, fresh.frames);
        for (std::size_t i = 0; i < CalibrationRecord::SIZE; ++i) {
            const double expected = fresh.record.values[i];
            EXPECT_NEAR(doc.Calibration()->values[i], expected, 1e-9 * std::max(1.0, std::abs(expected)))
                << "value " << i;
        }
    }

    ScriptedUi ui;
    CVexelDoc doc{&ui};
};

}  // namespace

TEST_F(WorkingSet, NewThenAnotherSetCalibratesTheNewSet) {
    const FreshRun fresh = freshRun(setB().files);
    EXPECT_NEAR(fresh.record.fx(), setB().camera.fx, 0.01 * setB().camera.fx);

    ASSERT_TRUE(doc.ImportImageFiles(setA().files));
    doc.GoToFrame(3);
    doc.OnIntrinsicCalibration();
    ASSERT_TRUE(doc.Calibration());
    EXPECT_NEAR(doc.Calibration()->fx(), setA().camera.fx, 0.01 * setA().camera.fx);
    doc.OnGrid();
    ASSERT_TRUE(doc.ShowGrid());

    doc.OnNewDocument();
    EXPECT_EQ(ui.lastTitle(), "Vexel");
    EXPECT_EQ(doc.CurrentFrame(), 0);
    EXPECT_FALSE(doc.ShowGrid());
    EXPECT_EQ(doc.Grids().getTotalPointCount(), 0);
    ASSERT_TRUE(doc.ImportImageFiles(setB().files));
    doc.UpdateTitleAndViews();
    EXPECT_EQ(ui.lastTitle().value_or("").rfind("Vexel: image 0, " + setB().files[0], 0), 0u) << *ui.lastTitle();
    doc.OnIntrinsicCalibration();
    expectFreshCalibration(fresh);
}

TEST_F(WorkingSet, ImagesImportedOverASequenceCalibrateTheImages) {
    const FreshRun fresh = freshRun(setB().files);
    ASSERT_TRUE(doc.ImportVsqFile(writeSequence(setA(), "a")));
    doc.OnExtractGrids();
    doc.OnGrid();
    ASSERT_GT(doc.Grids().getTotalPointCount(), 0);
    referenceFrameOf(doc) = 2;

    // The sequence and its names go; so does everything found in its frames.
    ASSERT_TRUE(doc.ImportImageFiles(setB().files));
    EXPECT_EQ(doc.Grids().getTotalPointCount(), 0);
    EXPECT_FALSE(doc.ShowGrid());
    EXPECT_EQ(doc.ReferenceFrame(), -1);
    doc.OnIntrinsicCalibration();
    expectFreshCalibration(fresh);
}

TEST_F(WorkingSet, AppendedFramesAreExtractedAndTakePart) {
    const std::vector<std::string> all = concat(setA().files, setB().files);
    const FreshRun fresh = freshRun(setA().files);

    ASSERT_TRUE(doc.ImportImageFiles(slice(setA().files, 0, 3)));
    doc.OnIntrinsicCalibration();
    ASSERT_TRUE(doc.Calibration());
    ASSERT_TRUE(doc.ImportImageFiles(slice(setA().files, 3, 6)));
    ui.calls.clear();
    doc.OnIntrinsicCalibration();
    // Only the three new frames were searched.
    EXPECT_EQ(ui.callsStartingWith("status|Extracting frame ").size(), 3u);
    expectFreshCalibration(fresh);

    const fs::path points = suiteDir() / "appended.points";
    ASSERT_TRUE(SaveCorrespondencesFile(doc, points.string()));
    EXPECT_EQ(readFile(points), fresh.points);
}

TEST_F(WorkingSet, LoadThenExtrinsicThenIntrinsicCalibratesEveryFrame) {
    const FreshRun fresh = freshRun(setA().files);
    const fs::path cal = suiteDir() / "a.cal";
    ASSERT_TRUE(CalibrationFileWriter(fresh.record, cal.string(), CAL_LABELLED));

    ASSERT_TRUE(doc.ImportImageFiles(setA().files));
    ASSERT_TRUE(LoadCalibrationFile(doc, cal.string()));
    ui.referenceAnswers = {2};
    doc.OnExtrinsicCalibration();
    ASSERT_EQ(doc.ReferenceFrame(), 2) << ui.lastStatus();
    EXPECT_EQ(doc.CurrentFrame(), 2);

    doc.OnIntrinsicCalibration();
    expectFreshCalibration(fresh);
}

TEST_F(WorkingSet, NothingOfTheOldFramesReachesTheFilesAfterNewAndUnreadableImports) {
    ASSERT_TRUE(doc.ImportImageFiles(setA().files));
    doc.OnExtractGrids();
    ASSERT_GT(doc.Grids().getTotalPointCount(), 0);

    doc.OnNewDocument();
    const fs::path broken = suiteDir() / "broken.pgm";
    std::ofstream(broken) << "P5 not a picture";
    ASSERT_TRUE(doc.ImportImageFiles({broken.string()}));
    ASSERT_TRUE(doc.ImportImageFiles({broken.string()}));

    ui.calls.clear();
    ui.saveAnswers = {(suiteDir() / "stale.points").string()};
    doc.OnSaveCorrespondences();
    EXPECT_TRUE(ui.callsStartingWith("save|").empty());
    EXPECT_FALSE(fs::exists(suiteDir() / "stale.points"));

    doc.OnIntrinsicCalibration();
    EXPECT_FALSE(doc.Calibration());
    EXPECT_NE(ui.lastStatus().find("no frame has 4 or more points"), std::string::npos) << ui.lastStatus();
}

TEST_F(WorkingSet, AFailureInsideExtractionLeavesTheDoneFramesAndTheCurrentFrame) {
    const FreshRun fresh = freshRun(setA().files);
    ASSERT_TRUE(doc.ImportImageFiles(setA().files));
    doc.GoToFrame(4);
    doc.StartLoader();

    int visited = 0;
    auto failOnThird = [&](GridSet& set, int frame, const cv::Mat& image, FrameNotes&) {
        if (++visited == 3) throw Fatal_Error("test", "a broken geometry check", __FILE__, __LINE__);
        extractFrame(set, frame, image, nullptr, nullptr, nullptr);
    };
    const GridSearchResult result = searchAll(doc, 1, failOnThird);
    EXPECT_EQ(result.failedFrame, 0);
    EXPECT_THROW(std::rethrow_exception(result.failure), Fatal_Error);
    EXPECT_EQ(doc.CurrentFrame(), 4);
    // Frames 4 and 5 were done; 0 (where it failed), 1, 2 and 3 hold nothing.
    EXPECT_GE(doc.Grids().getPointCount(4), 4);
    EXPECT_GE(doc.Grids().getPointCount(5), 4);
    for (int f = 0; f < 4; ++f) EXPECT_EQ(doc.Grids().getPointCount(f), 0) << f;

    // The next command that needs points finds the rest.
    doc.OnIntrinsicCalibration();
    expectFreshCalibration(fresh);
}

TEST_F(WorkingSet, AnImageListWithoutReadableNamesKeepsTheSequence) {
    const std::string vsq = writeSequence(setA(), "kept");
    ASSERT_TRUE(doc.ImportVsqFile(vsq));
    doc.OnExtractGrids();
    const int points = doc.Grids().getTotalPointCount();
    ASSERT_GT(points, 0);

    const fs::path missingOnly = suiteDir() / "missing.iml";
    std::ofstream(missingOnly) << "no_such_1.pgm\nno_such_2.pgm\n";
    const fs::path empty = suiteDir() / "empty.iml";
    std::ofstream(empty) << "";
    for (const fs::path& list : {missingOnly, empty}) {
        ui.calls.clear();
        ui.openAnswers = {{list.string()}};
        doc.OnImportImageSequence();
        EXPECT_TRUE(doc.InSequenceMode()) << list;
        ASSERT_EQ(doc.FrameCount(), 6);
        EXPECT_EQ(doc.FrameNames()[0], VideoSequence::FrameName(vsq, 0));
        EXPECT_EQ(doc.Grids().getTotalPointCount(), points);
        EXPECT_NE(ui.lastStatus().find(list.string()), std::string::npos) << ui.lastStatus();
    }
}

TEST_F(WorkingSet, EachFrameSaysWhyItHasNoPoints) {
    // A bright spot on the dark cell right of the origin marker: a marker
    // where the board has none, so the labels are refused.
    cv::Mat image = setA().images[0].clone();
    cv::Point2d centre, next;
    ASSERT_TRUE(projectPatternPoint(setA().camera, setA().poses[0], 0.5, 2.5, centre));
    ASSERT_TRUE(projectPatternPoint(setA().camera, setA().poses[0], 1.5, 2.5, next));
    cv::circle(image, centre, static_cast<int>(0.3 * cv::norm(next - centre)), cv::Scalar(215), cv::FILLED,
               cv::LINE_AA);
    const fs::path marked = suiteDir() / "false_marker.pgm";
    ASSERT_TRUE(cv::imwrite(marked.string(), image));
    const fs::path flat = suiteDir() / "flat.pgm";
    ASSERT_TRUE(cv::imwrite(flat.string(), cv::Mat(480, 640, CV_8UC1, cv::Scalar(128))));
    const fs::path broken = suiteDir() / "broken.pgm";
    std::ofstream(broken) << "P5 not a picture";

    ASSERT_TRUE(doc.ImportImageFiles({setA().files[0], marked.string(), flat.string(), broken.string()}));
    doc.OnExtractGrids();
    const FrameGrid& good = doc.GridOf(0);
    EXPECT_TRUE(good.searched);
    EXPECT_GE(good.pointCount, 4);
    EXPECT_EQ(good.failure, GridFailure::None);
    EXPECT_EQ(good.size, cv::Size(640, 480));
    EXPECT_EQ(doc.GridOf(1).failure, GridFailure::MarkersMisfit);
    EXPECT_EQ(doc.GridOf(1).pointCount, 0);
    EXPECT_EQ(doc.GridOf(2).failure, GridFailure::NoBoardFound);
    EXPECT_EQ(doc.GridOf(3).failure, GridFailure::NotRead);
    EXPECT_EQ(doc.FramesNotExtracted(), 0);
}
