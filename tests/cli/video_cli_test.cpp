// extract and calibrate straight from a video file: the rendered camera is
// recovered, --every and --max-frames pick the frames, and a file that is no
// video, or a video among other inputs, is refused.

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "support/cli_suite.h"
#include "support/rendered_video.h"

namespace fs = std::filesystem;

namespace {

class VideoCli : public CliSuite<VideoCli> {
protected:
    static void SetUpTestSuite() {
        makeFolder("vexel_cli_video");
        std::string error;
        ASSERT_TRUE(vexel::test::writeTestVideos(dir, error)) << error;
        std::ofstream(dir / "notes.MP4") << "not a video at all\n";
    }

    // Standard error goes to standard output, after it.
    static vexel::test::ProcessResult run(const std::string& arguments, bool withErrors = false) {
        return runCli(arguments, withErrors ? "2>&1" : "2>/dev/null", 120);
    }
};

TEST_F(VideoCli, CalibratesTheRenderingCameraFromTheVideo) {
    auto result = run("calibrate " + quote(dir / "clip.avi") + " --json --jobs 2");
    ASSERT_EQ(result.status, 0) << result.out;
    const nlohmann::json out = nlohmann::json::parse(result.out);
    ASSERT_EQ(out["frames"].size(), 60u);
    EXPECT_EQ(out["frames"][59]["name"], (dir / "clip.avi").string() + " Frame 59");
    EXPECT_GE(out["framesUsed"].get<int>(), 50);
    EXPECT_EQ(out["solver"], "sparse");
    const vexel::pattern::Camera truth = vexel::test::videoCamera();
    EXPECT_NEAR(out["camera"]["fx"].get<double>(), truth.fx, truth.fx * 1e-3);
    EXPECT_NEAR(out["camera"]["fy"].get<double>(), truth.fy, truth.fy * 1e-3);
    EXPECT_NEAR(out["camera"]["cx"].get<double>(), truth.cx, 0.5);
    EXPECT_NEAR(out["camera"]["cy"].get<double>(), truth.cy, 0.5);
}

TEST_F(VideoCli, EveryAndMaxFramesPickTheFrames) {
    // One in 4 would keep 15 frames; at most 10 makes it one in 6.
    const std::string clip = (dir / "clip.avi").string();
    auto result = run("extract " + quote(clip) + " --json --every 4 --max-frames 10", true);
    EXPECT_NE(result.out.find("Imported 10 of 60 frames from " + clip + " (one in 6)"), std::string::npos)
        << result.out;
    result = run("extract " + quote(clip) + " --json -q --every 4 --max-frames 10");
    ASSERT_EQ(result.status, 0) << result.out;
    const nlohmann::json frames = nlohmann::json::parse(result.out)["frames"];
    ASSERT_EQ(frames.size(), 10u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(frames[i]["name"], clip + " Frame " + std::to_string(6 * i));
    EXPECT_EQ(run("extract " + quote(clip) + " --every 0").status, 2);
    EXPECT_EQ(run("extract " + quote(clip) + " --max-frames 0").status, 2);
}

TEST_F(VideoCli, WhatIsNoVideoOrNotAloneIsRefused) {
    struct Case {
        std::string arguments, message;
    };
    const std::string notes = (dir / "notes.MP4").string();
    const std::string empty = (dir / "empty.avi").string();
    const std::string clip = (dir / "clip.avi").string();
    for (const Case& c :
         {Case{"extract " + quote(notes),
               "cannot import the video " + notes + ": it is not an MP4, QuickTime, AVI or Matroska video"},
          Case{"calibrate " + quote(empty) + " --json",
               "cannot import the video " + empty + ": it holds no frame that can be decoded"},
          Case{"extract " + quote(clip) + " " + quote(clip),
               "a video file (" + clip + ") must be the only input"}}) {
        SCOPED_TRACE(c.arguments);
        auto result = run(c.arguments, true);
        EXPECT_EQ(result.status, 2) << result.out;
        EXPECT_NE(result.out.find(c.message), std::string::npos) << result.out;
    }
}

}  // namespace
