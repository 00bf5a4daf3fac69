// Rendered views of the board with a known camera go through the whole
// program: extraction, intrinsic and extrinsic calibration, the result files.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include <opencv2/calib3d.hpp>

#include "document/calibration_commands.h"
#include "document/vexel_doc.h"
#include "pattern/renderer.h"
#include "support/document_access.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using namespace vexel::pattern;

namespace {

struct RenderSet {
    fs::path dir;
    Camera camera;
    std::vector<ViewPose> poses;
    std::vector<std::string> files;
};

// One set of views for the whole suite: rendering is the slow part.
const RenderSet& renderSet() {
    static RenderSet set = [] {
        RenderSet s;
        static const TempDir scratch("vexel_e2e");  // removed when the test program ends
        s.dir = scratch.path();
        s.poses = randomPoses(s.camera, 16, 20261208);
        RenderOptions options;
        options.samples = 4;
        options.blurSigma = 0.6;
        options.noiseSigma = 1.5;
        std::string error;
        if (!writeRenderSet(s.dir.string(), s.camera, s.poses, options, ImageFormat::Pgm, error))
            ADD_FAILURE() << error;
        for (int i = 0; i < static_cast<int>(s.poses.size()); ++i)
            s.files.push_back((s.dir / viewFileName(i, ImageFormat::Pgm)).string());
        return s;
    }();
    return set;
}

class EndToEnd : public ::testing::Test {
protected:
    void TearDown() override { doc.WaitForLoader(); }

    ScriptedUi ui;
    CVexelDoc doc{&ui};
};

// Angle in degrees of the rotation between two row-major rotation matrices.
double rotationDifference(const double* a, const cv::Matx33d& b) {
    cv::Matx33d ra(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8]);
    cv::Matx33d d = ra * b.t();
    double c = std::clamp((cv::trace(d) - 1.0) / 2.0, -1.0, 1.0);
    return std::acos(c) * 180.0 / CV_PI;
}

}  // namespace

TEST_F(EndToEnd, RecoversTheCameraAndAReferencePose) {
    const RenderSet& set = renderSet();
    ASSERT_TRUE(doc.ImportImageFiles(set.files));
    doc.OnIntrinsicCalibration();  // extracts the grids first
    ASSERT_TRUE(doc.Calibration()) << ui.lastStatus();

    const CalibrationRecord& r = *doc.Calibration();
    const CalibrationStats& stats = doc.Stats();
    std::ostringstream figures;
    figures << "frames used " << stats.frames.size() << " of " << set.files.size() << ", rms " << stats.rms
            << " px\nfx " << r.fx() << " (" << set.camera.fx << ")  fy " << r.fy() << " (" << set.camera.fy
            << ")  cx " << r.cx() << " (" << set.camera.cx << ")  cy " << r.cy() << " (" << set.camera.cy
            << ")\nk1 " << r.distortion(0) << " (" << set.camera.k1 << ")  k2 " << r.distortion(1) << " ("
            << set.camera.k2 << ")  p1 " << r.distortion(2) << " (" << set.camera.p1 << ")  p2 " << r.distortion(3)
            << " (" << set.camera.p2 << ")\n";
    std::cout << figures.str();

    ASSERT_GE(stats.frames.size(), 3u) << ui.lastStatus();
    EXPECT_NEAR(r.fx(), set.camera.fx, 0.01 * set.camera.fx);
    EXPECT_NEAR(r.fy(), set.camera.fy, 0.01 * set.camera.fy);
    EXPECT_NEAR(r.cx(), set.camera.cx, 2.0);
    EXPECT_NEAR(r.cy(), set.camera.cy, 2.0);
    EXPECT_LT(stats.rms, 0.3);
    EXPECT_EQ(doc.CurrentFrame(), 0);

    // The pose of a reference view from the intrinsics just found.
    ASSERT_GE(stats.frames.size(), 2u);
    int reference = stats.frames[1];
    ui.referenceAnswers = {reference};
    doc.OnExtrinsicCalibration();
    ASSERT_EQ(doc.ReferenceFrame(), reference) << ui.lastStatus();
    cv::Matx33d trueRotation;
    cv::Rodrigues(set.poses[reference].rvec, trueRotation);
    double angle = rotationDifference(&r.values[CalibrationRecord::ROTATION], trueRotation);
    cv::Vec3d t(r.translation(0), r.translation(1), r.translation(2));
    double distanceError = cv::norm(t - set.poses[reference].tvec) / cv::norm(set.poses[reference].tvec);
    std::cout << "reference frame " << reference << ": rotation off by " << angle << " deg, translation off by "
              << 100 * distanceError << " % of " << cv::norm(set.poses[reference].tvec) << " cells\n";
    EXPECT_LT(angle, 0.5);
    EXPECT_LT(distanceError, 0.01);
}

TEST_F(EndToEnd, ExtrinsicCalibrationOnAnEmptyGridSetSearchesOnlyTheReferenceFrame) {
    const RenderSet& set = renderSet();
    std::vector<std::string> five(set.files.begin(), set.files.begin() + 5);
    ASSERT_TRUE(doc.ImportImageFiles(five));
    calibrationOf(doc) = std::make_unique<CalibrationRecord>();
    CalibrationRecord& r = *calibrationOf(doc);
    r.setCamera(set.camera.fx, set.camera.fy, set.camera.cx, set.camera.cy);
    r.setLens(LensModel::OpenCv4, {set.camera.k1, set.camera.k2, set.camera.p1, set.camera.p2});

    ui.referenceAnswers = {3};
    doc.OnExtrinsicCalibration();
    ASSERT_EQ(doc.ReferenceFrame(), 3) << ui.lastStatus();
    EXPECT_EQ(doc.CurrentFrame(), 3);
    EXPECT_EQ(doc.Grids().frameCount(), 5);
    int found = doc.Grids().getPointCount(3);
    EXPECT_GE(found, 4);
    EXPECT_EQ(doc.Grids().getTotalPointCount(), found);
    cv::Vec3d t(r.translation(0), r.translation(1), r.translation(2));
    EXPECT_LT(cv::norm(t - set.poses[3].tvec) / cv::norm(set.poses[3].tvec), 0.01);

    EXPECT_EQ(doc.FramesNotExtracted(), 4);

    // Saving the correspondences searches the other frames first: the file
    // is the one a session that extracted every frame writes.
    fs::path points = set.dir / "reference.points";
    ui.saveAnswers = {points.string()};
    doc.OnSaveCorrespondences();
    EXPECT_EQ(doc.FramesNotExtracted(), 0);
    EXPECT_EQ(doc.CurrentFrame(), 3);
    ScriptedUi freshUi;
    CVexelDoc fresh(&freshUi);
    ASSERT_TRUE(fresh.ImportImageFiles(five));
    fresh.OnExtractGrids();
    fs::path expected = set.dir / "fresh.points";
    ASSERT_TRUE(SaveCorrespondencesFile(fresh, expected.string()));
    fresh.WaitForLoader();
    auto readAll = [](const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    EXPECT_EQ(readAll(points), readAll(expected));
    EXPECT_EQ(doc.Grids().getPointCount(3), found);
}
