// The camera exports read back by independent readers: the vision
// library's own persistence, a YAML parser, and the other tools' layouts.

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <yaml-cpp/yaml.h>

#include "calibration/calibration_export.h"
#include "calibration/fixed_format.h"
#include "grid/grid_set.h"
#include "support/grid_views.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

class CalibrationExport : public ::testing::Test {
protected:
    void SetUp() override {
        // Values with many digits, so a rounded or truncated number shows.
        const double camera[9] = {812.123456789012, 0.25, 322.0987654321, 0.5, 809.000001, 241.333333333333, 7, 8, 0};
        for (int i = 0; i < 9; ++i) record.camera(i) = camera[i];
        record.distortion(0) = -0.21234567890123;
        record.distortion(1) = 0.0987654321;
        record.distortion(2) = 1.5e-05;
        record.distortion(3) = -3.25e-4;
        stats.valid = true;
        stats.imageSize = cv::Size(1280, 960);
        stats.frames = {0, 2, 5};
        stats.perViewErrors = {0.101, 0.0625, 1.875};
        stats.rms = 0.91234567;
    }

    TempDir dir{"vexel_export"};
    CalibrationRecord record;
    CalibrationStats stats;
};

}  // namespace

TEST_F(CalibrationExport, OpenCvYamlReadsBackWithTheLibrarysPersistence) {
    const fs::path path = dir / "camera.yml";
    std::string error;
    ASSERT_TRUE(writeOpenCvYaml(path.string(), record, stats, &error)) << error;

    cv::FileStorage fs(path.string(), cv::FileStorage::READ);
    ASSERT_TRUE(fs.isOpened());
    EXPECT_EQ(static_cast<int>(fs["image_width"]), 1280);
    EXPECT_EQ(static_cast<int>(fs["image_height"]), 960);
    cv::Mat k, d, perView;
    fs["camera_matrix"] >> k;
    fs["distortion_coefficients"] >> d;
    fs["per_view_reprojection_errors"] >> perView;
    ASSERT_EQ(k.size(), cv::Size(3, 3));
    ASSERT_EQ(d.size(), cv::Size(5, 1));
    // Exact: every number is written in a form that reads back to itself.
    EXPECT_EQ(k.at<double>(0, 0), record.fx());
    EXPECT_EQ(k.at<double>(0, 2), record.cx());
    EXPECT_EQ(k.at<double>(1, 1), record.fy());
    EXPECT_EQ(k.at<double>(1, 2), record.cy());
    // The published form of the matrix, whatever else the record holds.
    EXPECT_EQ(k.at<double>(0, 1), 0.0);
    EXPECT_EQ(k.at<double>(2, 0), 0.0);
    EXPECT_EQ(k.at<double>(2, 2), 1.0);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(d.at<double>(0, i), record.distortion(i)) << i;
    EXPECT_EQ(d.at<double>(0, 4), 0.0);
    EXPECT_EQ(static_cast<double>(fs["avg_reprojection_error"]), stats.rms);
    ASSERT_EQ(perView.total(), 3u);
    EXPECT_EQ(perView.at<double>(2), 1.875);
    EXPECT_EQ(static_cast<int>(fs["nr_of_frames"]), 3);
}

TEST_F(CalibrationExport, CameraInfoYamlReadsBackWithAYamlParser) {
    const fs::path path = dir / "camera info ü.yaml";
    const std::string name = "Küche \"left\" \\ cam\t1";
    ASSERT_TRUE(writeCameraInfoYaml(path.string(), record, stats, name));

    YAML::Node info = YAML::LoadFile(path.string());
    EXPECT_EQ(info["image_width"].as<int>(), 1280);
    EXPECT_EQ(info["image_height"].as<int>(), 960);
    EXPECT_EQ(info["camera_name"].as<std::string>(), name);
    EXPECT_EQ(info["distortion_model"].as<std::string>(), "plumb_bob");

    auto matrix = [&](const char* key, int rows, int cols) {
        YAML::Node m = info[key];
        EXPECT_EQ(m["rows"].as<int>(), rows) << key;
        EXPECT_EQ(m["cols"].as<int>(), cols) << key;
        std::vector<double> data = m["data"].as<std::vector<double>>();
        EXPECT_EQ(data.size(), static_cast<std::size_t>(rows * cols)) << key;
        return data;
    };
    EXPECT_EQ(matrix("camera_matrix", 3, 3),
              (std::vector<double>{record.fx(), 0, record.cx(), 0, record.fy(), record.cy(), 0, 0, 1}));
    EXPECT_EQ(matrix("distortion_coefficients", 1, 5),
              (std::vector<double>{record.distortion(0), record.distortion(1), record.distortion(2),
                                   record.distortion(3), 0}));
    EXPECT_EQ(matrix("rectification_matrix", 3, 3), (std::vector<double>{1, 0, 0, 0, 1, 0, 0, 0, 1}));
    EXPECT_EQ(matrix("projection_matrix", 3, 4), (std::vector<double>{record.fx(), 0, record.cx(), 0, 0, record.fy(),
                                                                       record.cy(), 0, 0, 0, 1, 0}));
}

TEST_F(CalibrationExport, CameraNameMustBeUtf8AndControlsAreEscaped) {
    const fs::path path = dir / "names.yaml";
    // Every control character, C1 ones included, reads back through escapes.
    const std::string controls = "a\x01\x7f\xc2\x85\xc2\x9f\xc2\xa0z";
    ASSERT_TRUE(writeCameraInfoYaml(path.string(), record, stats, controls));
    EXPECT_EQ(YAML::LoadFile(path.string())["camera_name"].as<std::string>(), controls);

    for (const std::string bad :
         {"\xff", "caf\xe9", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "end\xe2\x82"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(isValidUtf8(bad));
        std::string error;
        EXPECT_FALSE(writeCameraInfoYaml((dir / "bad.yaml").string(), record, stats, bad, &error));
        EXPECT_NE(error.find("not UTF-8"), std::string::npos) << error;
        EXPECT_FALSE(fs::exists(dir / "bad.yaml"));
    }
    EXPECT_TRUE(isValidUtf8("K\xc3\xbc" "che \xe2\x82\xac \xf0\x9f\x93\xb7"));
}

TEST_F(CalibrationExport, TextDoesNotDependOnTheNumericLocale) {
    const std::string plainCv = formatOpenCvYaml(record, stats);
    const std::string plainInfo = formatCameraInfoYaml(record, stats, "cam");
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "de_DE.utf8"))
        GTEST_SKIP() << "no locale with a decimal comma installed";
    const std::string germanCv = formatOpenCvYaml(record, stats);
    const std::string germanInfo = formatCameraInfoYaml(record, stats, "cam");
    std::setlocale(LC_NUMERIC, previous.c_str());
    EXPECT_EQ(germanCv, plainCv);
    EXPECT_EQ(germanInfo, plainInfo);
    EXPECT_NE(plainCv.find("812.123456789012"), std::string::npos) << plainCv;
}

TEST_F(CalibrationExport, AFileThatCannotBeWrittenIsReportedAndLeavesTheOldOne) {
    const fs::path missing = dir / "no such folder" / "camera.yml";
    std::string error;
    EXPECT_FALSE(writeOpenCvYaml(missing.string(), record, stats, &error));
    EXPECT_NE(error.find(missing.string()), std::string::npos) << error;

    const fs::path existing = dir / "camera_info.yaml";
    std::ofstream(existing) << "old";
    fs::create_directory(dir / "camera_info.yaml.d");
    EXPECT_FALSE(writeCameraInfoYaml((dir / "camera_info.yaml.d").string(), record, stats, "cam", &error));
    ASSERT_TRUE(writeCameraInfoYaml(existing.string(), record, stats, "cam"));
    std::ifstream in(existing);
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first, "image_width: 1280");
    // Nothing but the two files and the folder: no temporary file is left.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
}

TEST_F(CalibrationExport, EachLensModelIsWrittenAsTheOtherToolsNameIt) {
    const struct {
        LensModel model;
        int coefficients;
        const char* ros;
    } expected[] = {{LensModel::OpenCv5, 5, "plumb_bob"},
                    {LensModel::Rational, 8, "rational_polynomial"},
                    {LensModel::Fisheye, 4, "equidistant"}};
    for (const auto& e : expected) {
        SCOPED_TRACE(lensModelName(e.model));
        record.setLens(e.model, {0.5, 0.25, 0.125, 0.0625, 0.03125, 1.5, 2.5, 3.5});
        const fs::path yml = dir / "camera.yml", info = dir / "camera_info.yaml";
        ASSERT_TRUE(writeOpenCvYaml(yml.string(), record, stats));
        ASSERT_TRUE(writeCameraInfoYaml(info.string(), record, stats, "cam"));
        cv::FileStorage fs(yml.string(), cv::FileStorage::READ);
        cv::Mat d;
        fs["distortion_coefficients"] >> d;
        EXPECT_EQ(d.size(), cv::Size(e.coefficients, 1));
        for (int i = 0; i < e.coefficients; ++i) EXPECT_EQ(d.at<double>(0, i), record.distortion(i)) << i;
        EXPECT_EQ(static_cast<int>(fs["fisheye_model"]), e.model == LensModel::Fisheye ? 1 : 0);
        YAML::Node node = YAML::LoadFile(info.string());
        EXPECT_EQ(node["distortion_model"].as<std::string>(), e.ros);
        EXPECT_EQ(node["distortion_coefficients"]["data"].as<std::vector<double>>(), record.distortionCoefficients());
    }
}

// ---- Other tools' formats, read by their documented layouts ----

TEST_F(CalibrationExport, KalibrAndColmapFollowTheirLayoutsAndModelsTheyLackAreRefused) {
    ExportedCamera camera = exportedCamera(record, stats);
    std::string text, error;
    ASSERT_TRUE(formatKalibrCamchain(camera, text, error)) << error;
    const YAML::Node cam0 = YAML::Load(text)["cam0"];
    EXPECT_EQ(cam0["camera_model"].as<std::string>(), "pinhole");
    EXPECT_EQ(cam0["distortion_model"].as<std::string>(), "radtan");
    EXPECT_EQ(cam0["intrinsics"].as<std::vector<double>>(),
              (std::vector<double>{record.fx(), record.fy(), record.cx(), record.cy()}));
    EXPECT_EQ(cam0["distortion_coeffs"].as<std::vector<double>>(), camera.coefficients);
    EXPECT_EQ(cam0["resolution"].as<std::vector<int>>(), (std::vector<int>{1280, 960}));

    // cameras.txt: comment lines, then CAMERA_ID MODEL WIDTH HEIGHT PARAMS[];
    // COLMAP's pixel centres sit half a pixel further.
    ASSERT_TRUE(formatColmapCameras(camera, text, error)) << error;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line) && line[0] == '#') {}
    std::istringstream fields(line);
    std::string model;
    int id = 0, width = 0, height = 0;
    std::vector<double> params{std::istream_iterator<double>(fields >> id >> model >> width >> height), {}};
    EXPECT_EQ(id, 1);
    EXPECT_EQ(model, "OPENCV");
    EXPECT_EQ(width, 1280);
    EXPECT_EQ(height, 960);
    EXPECT_EQ(params, (std::vector<double>{record.fx(), record.fy(), record.cx() + 0.5, record.cy() + 0.5,
                                           camera.coefficients[0], camera.coefficients[1], camera.coefficients[2],
                                           camera.coefficients[3]}));

    // The other lens models: what each tool has, and a refusal where it has
    // no equal model.
    const struct {
        LensModel model;
        const char* mrcal;  // empty: refused
        const char* kalibr;
        const char* colmap;
        std::size_t colmapValues;
    } models[] = {{LensModel::OpenCv5, "LENSMODEL_OPENCV5", "", "FULL_OPENCV", 12},
                  {LensModel::Rational, "LENSMODEL_OPENCV8", "", "FULL_OPENCV", 12},
                  {LensModel::Fisheye, "", "equidistant", "OPENCV_FISHEYE", 8}};
    for (const auto& m : models) {
        SCOPED_TRACE(lensModelName(m.model));
        record.setLens(m.model, {0.5, 0.25, 0.125, 0.0625, 0.03125, 1.5, 2.5, 3.5});
        camera = exportedCamera(record, stats);
        EXPECT_EQ(camera.coefficients, record.distortionCoefficients());
        EXPECT_EQ(formatMrcalModel(camera, text, error), *m.mrcal != 0) << error;
        if (*m.mrcal) EXPECT_NE(text.find(m.mrcal), std::string::npos) << text;
        EXPECT_EQ(formatKalibrCamchain(camera, text, error), *m.kalibr != 0) << error;
        if (*m.kalibr) EXPECT_EQ(YAML::Load(text)["cam0"]["distortion_model"].as<std::string>(), m.kalibr);
        ASSERT_TRUE(formatColmapCameras(camera, text, error));
        std::istringstream colmap(text.substr(text.rfind('#')));
        std::getline(colmap, line);
        colmap >> id >> model >> width >> height;
        EXPECT_EQ(model, m.colmap);
        EXPECT_EQ(std::vector<double>(std::istream_iterator<double>(colmap), {}).size(), m.colmapValues);
    }
    camera.fx = std::nan("");
    EXPECT_FALSE(formatColmapCameras(camera, text, error));
}

TEST(MrcalCorners, EveryBoardCornerOfEveryFrameInRowMajorOrderWithTheMissingOnesIgnored) {
    GridSet set;
    searchedFrames(set, 4, {640, 480});
    projectView(set, 0, 110);
    projectView(set, 1, 60);  // the rows j = -5 .. 0: the board's lower half
    projectView(set, 3, 110);
    const std::string text = formatMrcalCorners(set, 4, {"a b.pgm", "half.pgm", "none.pgm", "a b.pgm"});

    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "# filename x y level");
    std::vector<std::vector<std::string>> rows;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        rows.emplace_back(std::istream_iterator<std::string>(fields), std::istream_iterator<std::string>());
        ASSERT_EQ(rows.back().size(), 4u) << line;
    }
    ASSERT_EQ(rows.size(), 110u + 110u + 1u + 110u);
    // Blanks end a name for mrcal; a second frame of one name gets its own.
    EXPECT_EQ(rows[0][0], "a_b.pgm");
    EXPECT_EQ(rows[220], (std::vector<std::string>{"none.pgm", "-", "-", "-"}));
    EXPECT_EQ(rows[221][0], "a_b.pgm~2");

    // Corner (i, j) is line (5 - j) * 10 + (i + 5): the first corner found,
    // (-5, -5), is the bottom row's first; the top-left one is (-5, 5).
    GridPoint image{};
    ASSERT_TRUE(set.getImagePoint(0, 0, image));
    EXPECT_EQ(rows[100][1], vexel::formatFixed(image.x));
    EXPECT_EQ(rows[100][3], "0");
    ASSERT_TRUE(set.getImagePoint(0, 109, image));  // (4, 5)
    EXPECT_EQ(rows[9][1], vexel::formatFixed(image.x));
    EXPECT_EQ(rows[9][2], vexel::formatFixed(image.y));

    // The half view: its upper rows are left out (level -) at about where
    // the board lies, so mrcal's seeding is not thrown off by them.
    for (int n = 0; n < 110; ++n) EXPECT_EQ(rows[110 + n][3], n < 50 ? "-" : "0") << n;
    EXPECT_NEAR(std::stod(rows[110][1]), std::stod(rows[0][1]), 5.0);
    EXPECT_NEAR(std::stod(rows[110][2]), std::stod(rows[0][2]), 5.0);
}
