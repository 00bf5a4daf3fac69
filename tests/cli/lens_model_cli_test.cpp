// vexel-cli on views rendered through a fisheye lens: --model chooses and
// names the model in every output, and the default model says it does not fit.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "support/run_process.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using vexel::test::cliPath;
using vexel::test::runProcess;

namespace {

std::string quote(const fs::path& p) { return "'" + p.string() + "'"; }

class LensModelCli : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = fs::temp_directory_path() / ("vexel_cli_lens_" + std::to_string(::getpid()));
        fs::remove_all(dir);
        const auto rendered = run("render " + quote(dir) +
                                  " --size 640x480 --fisheye 150 --k1 0.012 --views 7 --rim-views 3 --blur 0.6 "
                                  "--noise 1.5 --seed 5");
        ASSERT_EQ(rendered.status, 0) << rendered.out;
    }
    static void TearDownTestSuite() { fs::remove_all(dir); }

    static vexel::test::ProcessResult run(const std::string& arguments) {
        return runProcess("timeout 300 " + quote(cliPath()) + " " + arguments + " 2>/dev/null");
    }

    static fs::path dir;
};

fs::path LensModelCli::dir;

}  // namespace

TEST_F(LensModelCli, AutoChoosesTheFisheyeModelAndEveryOutputNamesIt) {
    const fs::path cal = dir / "fisheye.cal", ros = dir / "camera_info.yaml";
    const auto result = run("calibrate " + quote(dir / "views.iml") + " --model auto --json --cal " + quote(cal) +
                            " --ros-yaml " + quote(ros));
    ASSERT_EQ(result.status, 0) << result.out;
    const nlohmann::json out = nlohmann::json::parse(result.out);
    EXPECT_EQ(out["model"], "fisheye");
    EXPECT_LT(out["rms"].get<double>(), 0.1);
    EXPECT_NE(out["modelChoice"].get<std::string>().find("the simplest model"), std::string::npos);
    EXPECT_GT(out["modelRms"]["opencv4"].get<double>(), 5 * out["rms"].get<double>());
    EXPECT_EQ(out["distortion"].size(), 4u);
    EXPECT_TRUE(out["stdDev"].contains("k4"));
    EXPECT_FALSE(out["stdDev"].contains("p1"));
    EXPECT_EQ(readFile(cal).rfind("m\nmodel = fisheye\n", 0), 0u);
    EXPECT_NE(readFile(ros).find("distortion_model: equidistant\n"), std::string::npos);
}

TEST_F(LensModelCli, TheDefaultModelWarnsAndOldFormsRefuseAnotherModel) {
    const auto plain = run("calibrate " + quote(dir / "views.iml") + " --json");
    ASSERT_EQ(plain.status, 0) << plain.out;
    const nlohmann::json out = nlohmann::json::parse(plain.out);
    EXPECT_EQ(out["model"], "opencv4");
    bool warned = false;
    for (const auto& warning : out["warnings"])
        warned = warned || warning.get<std::string>().find("try --model fisheye") != std::string::npos;
    EXPECT_TRUE(warned) << out["warnings"].dump();

    const auto binary = run("calibrate " + quote(dir / "views.iml") +
                            " --model fisheye --json --cal-form binary --cal " + quote(dir / "b.cal"));
    EXPECT_EQ(binary.status, 1);
    EXPECT_NE(binary.out.find("holds only the opencv4 lens model"), std::string::npos) << binary.out;
    EXPECT_FALSE(fs::exists(dir / "b.cal"));

    // An export that has no equal of the chosen model is refused before any work.
    const auto mrcal = run("calibrate " + quote(dir / "views.iml") + " --model fisheye --json --cal " +
                           quote(dir / "m.cal") + " --mrcal-model " + quote(dir / "m.cameramodel"));
    EXPECT_EQ(mrcal.status, 2);
    EXPECT_NE(mrcal.out.find("mrcal has no lens model"), std::string::npos) << mrcal.out;
    EXPECT_FALSE(fs::exists(dir / "m.cal"));
}
