// The two YAML exports read back by independent readers: the vision
// library's own persistence and a YAML parser.

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <string>

#include <opencv2/core.hpp>
#include <yaml-cpp/yaml.h>

#include "calibration/calibration_export.h"
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
