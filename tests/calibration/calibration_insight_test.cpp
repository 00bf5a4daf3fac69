// What a calibration shows about itself: residuals, the covariance behind
// the uncertainty map, coverage and the verdict.

#include <gtest/gtest.h>

#include <cmath>

#include "calibration/calibration_insight.h"
#include "calibration/lens_projection.h"
#include "support/synthetic_views.h"

using namespace vexel::test;
namespace pattern = vexel::pattern;

namespace {

struct Calibrated {
    CalibrationViews views;
    IntrinsicResult result;
    std::shared_ptr<const CalibrationInsight> insight;
};

Calibrated calibrate(const std::vector<pattern::ViewPose>& poses, double noise = 0.2,
                     IntrinsicSolver solver = IntrinsicSolver::Library) {
    pattern::Camera camera;
    Calibrated c;
    c.views = syntheticViews(camera, poses, noise);
    IntrinsicOptions options;
    options.solver = solver;
    c.result = calibrateIntrinsic(c.views, cv::Size(camera.width, camera.height), options);
    c.insight = analyseCalibration(c.views, c.result.record, c.result.poses, cv::Size(camera.width, camera.height));
    return c;
}

double worstCorner(const CalibrationInsight& insight) {
    double worst = 0;
    for (int i = 1; i < 5; ++i) worst = std::max(worst, insight.uncertaintyAtPoints[static_cast<std::size_t>(i)]);
    return worst;
}

}  // namespace

TEST(CalibrationInsight, CovarianceMatchesTheDeviationsOfBothSolvers) {
    const std::vector<pattern::ViewPose> poses = pattern::randomPoses(pattern::Camera{}, 8, 11);
    for (IntrinsicSolver solver : {IntrinsicSolver::Library, IntrinsicSolver::Sparse}) {
        const Calibrated c = calibrate(poses, 0.3, solver);
        ASSERT_EQ(c.result.poses.size(), poses.size());
        ParameterCovariance covariance;
        ASSERT_TRUE(covariance.compute(CameraModel(c.result.record), c.views, c.result.poses));
        // The solvers divide the squared residuals by the points less the
        // parameters; the covariance by the coordinates less the parameters.
        const double points = c.views.totalPoints(), parameters = 8 + 6.0 * poses.size();
        const double toSolvers = (2 * points - parameters) / (points - parameters);
        const std::vector<double> k = covariance.intrinsicCovariance();
        for (int i = 0; i < 8; ++i)
            EXPECT_NEAR(std::sqrt(k[static_cast<std::size_t>(9 * i)] * toSolvers), c.result.stdDeviations[i],
                        0.02 * c.result.stdDeviations[i])
                << "parameter " << i << " solver " << solverName(solver);
        EXPECT_NEAR(std::sqrt(covariance.residualVariance()), 0.3, 0.03);
    }
}

TEST(CalibrationInsight, ResidualsAreReprojectionsWithTheWorstCornersFirst) {
    const std::vector<pattern::ViewPose> poses = pattern::randomPoses(pattern::Camera{}, 5, 4);
    Calibrated c = calibrate(poses, 0.05);
    // One detection moved by 3 px after the calibration stands out.
    c.views.imagePoints[2][40].x += 3.0f;
    const CameraModel model(c.result.record);
    const std::vector<FrameResiduals> residuals = calibrationResiduals(c.views, model, c.result.poses);
    ASSERT_EQ(residuals.size(), 5u);
    EXPECT_EQ(residuals[2].worst.front(), 40);
    EXPECT_NEAR(residuals[2].error(40).x, -3.0, 0.2);
    EXPECT_EQ(residuals[2].worst.size(), static_cast<std::size_t>(WORST_CORNERS));
    for (std::size_t v = 0; v < residuals.size(); ++v) {
        if (v != 2) {
            EXPECT_NEAR(residuals[v].rms(), c.result.perViewErrors[v], 1e-3);
        }
        // Reprojection with the model agrees with the pose's own round trip.
        const cv::Point3d p(2, -3, 0);
        const FramePose& pose = c.result.poses[v];
        const cv::Point3d back = pose.toPattern(pose.toCamera(p));
        EXPECT_NEAR(cv::norm(back - p), 0.0, 1e-9);
        cv::Point2d ray;
        const cv::Point2d pixel = model.project(pose, p);
        ASSERT_TRUE(model.unproject(pixel, ray));
        const cv::Point3d inCamera = pose.toCamera(p);
        EXPECT_NEAR(ray.x, inCamera.x / inCamera.z, 1e-9);
        EXPECT_NEAR(ray.y, inCamera.y / inCamera.z, 1e-9);
    }
    EXPECT_NEAR(largestError(residuals), 3.0, 0.2);
}

// Residuals and the uncertainty map project through the calibration's own
// lens model, as the vision library's functions do.
TEST(CalibrationInsight, EveryLensModelProjectsAsTheLibraryDoes) {
    const std::vector<double> coefficients = {-0.21, 0.05, 0.001, -0.002, 0.01, 0.02, -0.003, 0.004};
    for (LensModel lens : lensModels()) {
        CalibrationRecord record;
        record.setCamera(700, 690, 330, 250);
        record.setLens(lens, coefficients);
        const CameraModel model(record);
        ASSERT_EQ(model.parameterCount(), 4 + lensCoefficientCount(lens));
        const std::vector<cv::Point3f> object = {{0, 0, 5}, {1.5f, -1, 4}, {-2, 1.2f, 3}, {0.4f, 0.3f, 2}};
        std::vector<cv::Point2f> expected;
        projectLensPoints(lensCameraOf(record), object, cv::Vec3d(0, 0, 0), cv::Vec3d(0, 0, 0), expected);
        for (std::size_t i = 0; i < object.size(); ++i) {
            const cv::Point2d got = model.project(cv::Point3d(object[i]));
            EXPECT_NEAR(got.x, expected[i].x, 1e-3) << lensModelName(lens) << " point " << i;
            EXPECT_NEAR(got.y, expected[i].y, 1e-3) << lensModelName(lens) << " point " << i;
        }
    }
}

// The frontal, centred set leaves focal length, distortion and the image
// corners guessed; views tilted in the corners settle them.
TEST(CalibrationInsight, FrontalViewsAskForTiltAndCornersUntilTheyAreAdded) {
    const pattern::Camera camera;
    const std::vector<pattern::ViewPose> frontal = frontalPoses(camera, 10);
    const Calibrated before = calibrate(frontal);
    const CalibrationInsight& a = *before.insight;
    ASSERT_FALSE(a.uncertainty.empty());
    EXPECT_FALSE(a.verdict.good());
    EXPECT_NE(a.verdict.line.find("tilt range small: add views tilted by 30-50 degrees"), std::string::npos)
        << a.verdict.line;
    EXPECT_NE(a.verdict.line.find("add views that put the board in the image corners"), std::string::npos)
        << a.verdict.line;
    // Highest at the corners: every corner above the centre, the map's
    // peak on the image's edge.
    for (int i = 1; i < 5; ++i) EXPECT_GT(a.uncertaintyAtPoints[static_cast<std::size_t>(i)], 3 * a.uncertaintyAtPoints[0]);
    EXPECT_NEAR(a.uncertainty.maximum(), worstCorner(a), 1e-9);
    ASSERT_FALSE(highUncertaintyRegions(a.uncertainty).empty());

    const Calibrated after = calibrate(withCornerPoses(camera, frontal, 8));
    const CalibrationInsight& b = *after.insight;
    EXPECT_TRUE(b.verdict.good()) << b.verdict.line;
    EXPECT_EQ(b.verdict.line, "coverage good; tilt range good; distance range good");
    EXPECT_LT(worstCorner(b), worstCorner(a) / 3);
    EXPECT_GT(b.coverage.imageShare, a.coverage.imageShare);
    EXPECT_GE(b.coverage.largestTilt, 30.0);
    EXPECT_TRUE(highUncertaintyRegions(b.uncertainty).empty());
}

TEST(CalibrationInsight, VerdictNamesTheEmptyPartsOfTheImage) {
    CoverageFigures f;
    f.imageShare = 0.6;
    f.zoneShares = {1, 1, 0.1, 1, 1, 1, 1, 1, 1};
    f.smallestTilt = 10;
    f.largestTilt = 40;
    f.nearest = 10;
    f.farthest = 12;
    const CoverageVerdict v = coverageVerdict(f);
    EXPECT_EQ(v.line,
              "coverage small (60 % of the image): add views that put the board in the top right corner; tilt range "
              "good; distance range small: add views from nearer and farther");
    f.zoneShares[7] = 0;
    EXPECT_NE(coverageVerdict(f).line.find("in the top right corner and bottom edge;"), std::string::npos);
    const std::vector<std::string> lines = coverageLines(f);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "tilts: 10.0 to 40.0 degrees (good enough: 30.0 degrees or more)");
}

TEST(CalibrationInsight, ContoursFollowTheLevelAndHighRegionsPeakFirst) {
    UncertaintyMap map;
    map.imageSize = cv::Size(101, 51);
    map.columns = 11;
    map.rows = 6;
    // Rising to the right: 0 .. 1.0.
    for (int r = 0; r < map.rows; ++r)
        for (int c = 0; c < map.columns; ++c) map.values.push_back(c / 10.0);
    const auto lines = contourLines(map, 0.55);
    ASSERT_EQ(lines.size(), 1u);
    ASSERT_EQ(lines[0].size(), 6u);  // one crossing per row
    for (const cv::Point2d& p : lines[0]) EXPECT_NEAR(p.x, 55.0, 1e-9);
    const std::vector<double> levels = contourLevels(map);
    ASSERT_EQ(levels.size(), 4u);
    for (std::size_t i = 0; i < levels.size(); ++i) EXPECT_NEAR(levels[i], 0.2 * (i + 1), 1e-12);
    EXPECT_NEAR(map.at(55, 20), 0.55, 1e-9);
    // Values over a wide span get levels of 1, 2 and 5 times powers of ten.
    map.values.assign(map.values.size(), 0.5);
    map.values.front() = 0.025;
    map.values.back() = 5.5;
    const std::vector<double> wide = contourLevels(map);
    const double expected[] = {0.05, 0.1, 0.2, 0.5, 1, 2, 5};
    ASSERT_EQ(wide.size(), 7u);
    for (std::size_t i = 0; i < wide.size(); ++i) EXPECT_NEAR(wide[i], expected[i], 1e-12);

    map.values.assign(map.values.size(), 0.01);
    map.values[10] = 0.9;  // top right
    map.values[55] = 0.7;  // bottom left
    const std::vector<cv::Point2d> peaks = highUncertaintyRegions(map);
    ASSERT_EQ(peaks.size(), 2u);
    EXPECT_EQ(peaks[0], cv::Point2d(100, 0));
    EXPECT_EQ(peaks[1], cv::Point2d(0, 50));
}
