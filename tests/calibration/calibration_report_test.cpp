// The report's lines on how well a calibration fits: the RMS error with the
// frames and points behind it, and each parameter with its deviation, in
// text that does not depend on the numeric locale.

#include <gtest/gtest.h>

#include <clocale>
#include <limits>
#include <string>
#include <vector>

#include "calibration/calibration_report.h"
#include "calibration/fixed_format.h"

namespace {

CalibrationRecord camera() {
    CalibrationRecord record;
    record.setCamera(700.0712, 699.9, 319.5049, 240.25);
    record.setLens(LensModel::OpenCv4, {-0.18034, 0.0123, 0.0, -0.000251});
    return record;
}

CalibrationStats fit() {
    CalibrationStats stats;
    stats.valid = true;
    stats.frames = {0, 2, 5};
    stats.pointCounts = {100, 94, 1000};
    stats.rms = 0.046549;
    stats.stdDeviations = {0.16, 0.0123, 2.5, 0.049, 0.00123, 0.0, 1e-5, 0.5};
    return stats;
}

TEST(CalibrationQualityLines, RmsWithFramesAndPointsThenEachValueWithItsDeviation) {
    const std::vector<std::string> lines = calibrationQualityLines(camera(), fit());
    const std::vector<std::string> expected = {
        "RMS reprojection error = 0.0465 px (3 frames, 1194 points)",
        "fx = 700.07 \u00b1 0.16",
        "fy = 699.900 \u00b1 0.012",   // two digits of the deviation
        "cx = 319.50 \u00b1 2.50",     // never fewer than two decimals
        "cy = 240.250 \u00b1 0.049",
        "k1 = -0.1803 \u00b1 0.0012",
        "k2 = 0.01 \u00b1 0.00",       // no deviation known
        "p1 = 0.000000 \u00b1 0.000010",
        "p2 = -0.00 \u00b1 0.50",
    };
    EXPECT_EQ(lines, expected);

    // No calibration: no lines; one frame and one point are singular.
    EXPECT_TRUE(calibrationQualityLines(camera(), CalibrationStats{}).empty());
    CalibrationStats one = fit();
    one.frames = {4};
    one.pointCounts = {1};
    EXPECT_EQ(calibrationQualityLines(camera(), one).front(), "RMS reprojection error = 0.0465 px (1 frame, 1 point)");
}

TEST(CalibrationQualityLines, DecimalPointWhateverTheLocaleAndNonFiniteValuesSpelledOut) {
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    // A locale with a decimal comma, where one is installed.
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") || std::setlocale(LC_NUMERIC, "fr_FR.UTF-8")) {
        EXPECT_EQ(calibrationQualityLines(camera(), fit())[1], "fx = 700.07 \u00b1 0.16");
    }
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(vexel::formatDecimals(-std::numeric_limits<double>::infinity(), 2), "-inf");
    CalibrationStats broken = fit();
    broken.stdDeviations[0] = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(calibrationQualityLines(camera(), broken)[1], "fx = 700.07 \u00b1 nan");
}

TEST(CalibrationReportLines, AnotherLensModelIsNamedWithAllItsCoefficientsAndDeviations) {
    CalibrationRecord fisheye = camera();
    fisheye.setLens(LensModel::Fisheye, {0.012, -0.004, 0.0005, -0.0001});
    const std::vector<std::string> report = calibrationReportLines(fisheye, false);
    ASSERT_EQ(report.size(), 6u);
    EXPECT_EQ(report[4], "distortion coefficients = [0.012000 -0.004000 0.000500 -0.000100]");
    EXPECT_EQ(report[5], "lens model = fisheye (k1 k2 k3 k4)");
    EXPECT_EQ(calibrationReportLines(camera(), false).size(), 5u);

    CalibrationRecord rational = camera();
    rational.setLens(LensModel::Rational, {1, 2, 3, 4, 5, 6, 7, 8});
    CalibrationStats stats = fit();
    stats.stdDeviations = {1, 1, 1, 1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.25};
    stats.flex = {true, 0.11, -0.01, 0.002, 0.003};
    const std::vector<std::string> lines = calibrationQualityLines(rational, stats, 25.0);
    ASSERT_EQ(lines.size(), 14u);
    EXPECT_EQ(lines[12], "k6 = 8.00 ± 0.25");
    EXPECT_EQ(lines[13], "board bends 0.10 cells (2.5 mm) at its centre (0.110 ± 0.002 along x, -0.010 ± 0.003 "
                         "along y)");
}

}  // namespace
