#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "support/run_process.h"
#include "support/temp_dir.h"

using vexel::test::cliPath;
using vexel::test::runProcess;

TEST(RenderCommand, WritesViewsListAndTruthReproducibly) {
    const TempDir scratch("vexel_cli_render");
    const auto a = scratch / "a", b = scratch / "b";
    const std::string options = " --views 3 --seed 17 --blur 0.5 --noise 1.5";
    ASSERT_EQ(runProcess(cliPath() + " render " + a.string() + options).status, 0);
    ASSERT_EQ(runProcess(cliPath() + " render " + b.string() + options).status, 0);

    EXPECT_EQ(readFile(a / "views.iml"), "view_000.pgm\nview_001.pgm\nview_002.pgm\n");
    const nlohmann::json truth = nlohmann::json::parse(readFile(a / "truth.json"));
    const auto& camera = truth["camera"];
    EXPECT_EQ(camera["width"], 640);
    EXPECT_EQ(camera["height"], 480);
    for (const char* key : {"fx", "fy", "cx", "cy"}) EXPECT_TRUE(camera[key].is_number()) << key;
    ASSERT_EQ(camera["distortion"].size(), 4u);
    EXPECT_LT(camera["distortion"][0].get<double>(), -0.05);  // visible barrel distortion by default
    ASSERT_EQ(truth["views"].size(), 3u);
    for (const auto& view : truth["views"]) {
        EXPECT_EQ(view["rvec"].size(), 3u);
        EXPECT_EQ(view["tvec"].size(), 3u);
        ASSERT_EQ(view["corners"].size(), 110u);
        for (const auto& c : view["corners"]) {
            ASSERT_EQ(c.size(), 4u);
            EXPECT_GE(c[2].get<double>(), 0.0);
            EXPECT_LE(c[2].get<double>(), 639.0);
            EXPECT_GE(c[3].get<double>(), 0.0);
            EXPECT_LE(c[3].get<double>(), 479.0);
        }
        const std::string file = view["file"];
        const cv::Mat image = cv::imread((a / file).string(), cv::IMREAD_UNCHANGED);
        ASSERT_EQ(image.type(), CV_8UC1) << file;
        EXPECT_EQ(image.size(), cv::Size(640, 480));
        EXPECT_EQ(readFile(a / file), readFile(b / file)) << "same seed, same image";
    }
    EXPECT_EQ(readFile(a / "truth.json"), readFile(b / "truth.json"));

    const auto c = scratch / "c";
    ASSERT_EQ(runProcess(cliPath() + " render " + c.string() +
                         " --views 1 --seed 18 --size 320x240 --fx 300 --fy 300 --k1 0 --k2 0 --format jpg")
                  .status,
              0);
    const nlohmann::json other = nlohmann::json::parse(readFile(c / "truth.json"));
    EXPECT_EQ(other["camera"]["width"], 320);
    EXPECT_EQ(other["camera"]["fx"], 300.0);
    EXPECT_EQ(other["camera"]["cx"], 160.0);
    EXPECT_EQ(other["camera"]["distortion"][0], 0.0);
    EXPECT_EQ(other["views"][0]["file"], "view_000.jpg");
    EXPECT_EQ(cv::imread((c / "view_000.jpg").string(), cv::IMREAD_GRAYSCALE).size(), cv::Size(320, 240));
    EXPECT_NE(readFile(a / "truth.json"), readFile(c / "truth.json"));
}

TEST(RenderCommand, FaultSetsKeepThePosesAndSayWhatIsHidden) {
    const TempDir scratch("vexel_cli_render");
    const auto plain = scratch / "plain", hand = scratch / "hand";
    const std::string options = " --views 2 --seed 4 --size 320x240";
    ASSERT_EQ(runProcess(cliPath() + " render " + plain.string() + options).status, 0);
    ASSERT_EQ(runProcess(cliPath() + " render " + hand.string() + options + " --fault hand").status, 0);
    EXPECT_EQ(readFile(plain / "truth.json"), readFile(hand / "truth.json"));
    EXPECT_FALSE(std::filesystem::exists(plain / "faults.json"));
    const nlohmann::json faults = nlohmann::json::parse(readFile(hand / "faults.json"));
    ASSERT_EQ(faults["views"].size(), 2u);
    size_t hidden = 0;
    for (const auto& view : faults["views"]) {
        EXPECT_EQ(view["fault"], "hand");
        hidden += view["hidden"].size();
    }
    EXPECT_GT(hidden, 0u);  // fingers over the board hide some corners
    EXPECT_NE(readFile(plain / "view_000.pgm"), readFile(hand / "view_000.pgm"));
    EXPECT_EQ(runProcess(cliPath() + " render " + hand.string() + " --fault fog 2>/dev/null").status, 2);
}

TEST(RenderCommand, BadArgumentsAndUnwritableDirectoryExitWithTwo) {
    const TempDir dir("vexel_cli_render");
    std::ofstream(dir / "file") << "x";
    auto r = runProcess(cliPath() + " render " + (dir / "file").string() + " --views 1 2>&1");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("file"), std::string::npos);
    EXPECT_EQ(runProcess(cliPath() + " render " + dir.string() + " --size 640by480 2>/dev/null").status, 2);
    EXPECT_EQ(runProcess(cliPath() + " render " + dir.string() + " --format png 2>/dev/null").status, 2);
    EXPECT_EQ(runProcess(cliPath() + " render " + dir.string() + " --fx -5 2>/dev/null").status, 2);
}
