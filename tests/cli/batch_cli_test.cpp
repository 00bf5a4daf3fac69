// The batch side of vexel-cli: output that does not depend on the number of
// jobs, image lists on standard input, unusual paths, the progress bar and
// the manual pages.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>

#include "calibration/name_text.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using vexel::test::cliPath;
using vexel::test::runProcess;

namespace {

std::string quote(const fs::path& p) { return "'" + p.string() + "'"; }

class BatchCli : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Removed with everything in it when the test program ends.
        static const TempDir scratch("vexel_batch");
        dir = scratch.path();
        // Small views keep the suite fast; the board still fills most of them.
        auto rendered = runProcess(quote(cliPath()) + " render " + quote(dir / "views") +
                                   " --views 32 --size 480x360 --noise 1.5 --blur 0.6 --seed 5 2>&1");
        ASSERT_EQ(rendered.status, 0) << rendered.out;
    }

    static vexel::test::ProcessResult cli(const std::string& arguments, const fs::path& stderrFile = "/dev/null") {
        return runProcess(quote(cliPath()) + " " + arguments + " 2>" + quote(stderrFile));
    }

    static fs::path dir;
};

fs::path BatchCli::dir;

}  // namespace

TEST_F(BatchCli, OutputIsByteIdenticalWhateverTheNumberOfJobs) {
    const fs::path list = dir / "views" / "views.iml";
    std::vector<std::string> stdouts, stderrs;
    std::vector<int> statuses;
    for (int jobs : {1, 4}) {
        const fs::path out = dir / ("jobs" + std::to_string(jobs));
        fs::create_directories(out);
        auto result = cli("calibrate " + quote(list) + " --jobs " + std::to_string(jobs) + " --json --points " +
                              quote(out / "f.points") + " --cal " + quote(out / "f.cal") + " --opencv-yaml " +
                              quote(out / "f.yml") + " --ros-yaml " + quote(out / "f.yaml"),
                          out / "stderr");
        statuses.push_back(result.status);
        stdouts.push_back(result.out);
        // The status lines name the files written; the folders differ.
        std::string messages = readFile(out / "stderr");
        for (std::size_t p; (p = messages.find(out.string())) != std::string::npos;)
            messages.replace(p, out.string().size(), "OUT");
        stderrs.push_back(messages);
        auto extracted = cli("extract " + quote(list) + " -j " + std::to_string(jobs));
        stdouts.push_back(extracted.out);
        statuses.push_back(extracted.status);
    }
    // However many correspondences the views give, both runs agree.
    EXPECT_EQ(statuses[0], statuses[2]);
    EXPECT_EQ(statuses[1], statuses[3]);
    EXPECT_EQ(stdouts[0], stdouts[2]);
    EXPECT_EQ(stdouts[1], stdouts[3]);
    // Error lines come in frame order, not in the order threads finish.
    EXPECT_EQ(stderrs[0], stderrs[1]);
    for (const char* name : {"f.points", "f.cal", "f.yml", "f.yaml"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(fs::exists(dir / "jobs1" / name), fs::exists(dir / "jobs4" / name));
        EXPECT_EQ(readFile(dir / "jobs1" / name), readFile(dir / "jobs4" / name));
    }
    EXPECT_EQ(stderrs[0].find('\r'), std::string::npos);  // no progress bar into a file
    if (statuses[0] != 0) return;

    // The fit of the calibration: deviations and every used frame's error.
    nlohmann::json out = nlohmann::json::parse(stdouts[0]);
    for (const char* key : {"fx", "fy", "cx", "cy", "k1", "k2", "p1", "p2"}) {
        ASSERT_TRUE(out["stdDev"].contains(key)) << key;
        EXPECT_GE(out["stdDev"][key].get<double>(), 0.0) << key;
    }
    EXPECT_LT(out["stdDev"]["fx"].get<double>(), 0.05 * out["camera"]["fx"].get<double>());
    int withRms = 0;
    for (const auto& frame : out["frames"]) withRms += frame["rms"].is_null() ? 0 : 1;
    EXPECT_EQ(withRms, out["framesUsed"].get<int>());

    auto text = cli("calibrate " + quote(list) + " -q");
    ASSERT_EQ(text.status, 0);
    // The standard deviations are given once, beside the values.
    EXPECT_NE(text.out.find("\nfx = "), std::string::npos) << text.out;
    EXPECT_EQ(text.out.find("Standard deviations"), std::string::npos) << text.out;
    std::size_t perFrame = text.out.find("RMS reprojection error per frame (pixels):\n");
    ASSERT_NE(perFrame, std::string::npos) << text.out;
    int lines = 0;
    for (std::size_t p = text.out.find("\n  frame ", perFrame); p != std::string::npos;
         p = text.out.find("\n  frame ", p + 1))
        ++lines;
    EXPECT_GE(lines, withRms);
}

TEST_F(BatchCli, ImageListsComeFromStandardInputAndPathsMayHoldSpacesAndUnicode) {
    const fs::path odd = dir / "folder with spaces" / "Ünïcødé café";
    fs::create_directories(odd);
    std::vector<fs::path> files;
    for (int i = 0; i < 3; ++i) {
        files.push_back(odd / ("view " + std::to_string(i) + " ö.pgm"));
        fs::copy_file(dir / "views" / ("view_00" + std::to_string(i) + ".pgm"), files.back());
    }

    auto direct = cli("extract --json " + quote(files[0]) + " " + quote(files[1]) + " " + quote(files[2]));
    ASSERT_FALSE(direct.out.empty());
    nlohmann::json expected = nlohmann::json::parse(direct.out);
    ASSERT_EQ(expected["frames"].size(), 3u);
    EXPECT_EQ(expected["frames"][1]["name"], files[1].string());

    // Absolute names, a Windows line end, an empty line and a name that does
    // not exist (left out, as in a list file).
    const fs::path listFile = dir / "stdin list.txt";
    std::ofstream(listFile, std::ios::binary) << files[0].string() << "\r\n\n"
                                              << files[1].string() << "\n"
                                              << (odd / "missing.pgm").string() << "\n"
                                              << files[2].string();
    auto piped = cli("extract --json - < " + quote(listFile));
    EXPECT_EQ(piped.status, direct.status);
    ASSERT_FALSE(piped.out.empty());
    EXPECT_EQ(nlohmann::json::parse(piped.out), expected);

    // Relative names resolve against the working folder.
    auto relative = runProcess("cd " + quote(odd) + " && printf 'view 2 \\303\\266.pgm\\n' | " + quote(cliPath()) +
                               " extract --json - 2>/dev/null");
    ASSERT_FALSE(relative.out.empty());
    nlohmann::json one = nlohmann::json::parse(relative.out);
    ASSERT_EQ(one["frames"].size(), 1u);
    EXPECT_EQ(one["frames"][0]["points"], expected["frames"][2]["points"]);

    // Standard input read twice, or naming nothing readable: usage errors.
    EXPECT_EQ(cli("extract - - < " + quote(listFile)).status, 2);
    const fs::path err = dir / "empty.err";
    EXPECT_EQ(cli("extract - < /dev/null", err).status, 2);
    EXPECT_NE(readFile(err).find("standard input"), std::string::npos) << readFile(err);
}

TEST_F(BatchCli, ProgressBarOnlyOnATerminalAndNotWhenQuiet) {
    if (runProcess("command -v script >/dev/null 2>&1").status != 0) GTEST_SKIP() << "no script(1) for a terminal";
    const std::string command = quote(cliPath()) + " extract " + quote(dir / "views" / "views.iml") + " -j 2";
    // script(1) runs the command on a pseudo-terminal and copies what it wrote.
    auto onTerminal = runProcess("script -qec \"" + command + " >/dev/null\" /dev/null");
    EXPECT_NE(onTerminal.out.find("\r["), std::string::npos) << onTerminal.out;
    EXPECT_NE(onTerminal.out.find("32/32 frames"), std::string::npos) << onTerminal.out;
    auto quiet = runProcess("script -qec \"" + command + " --quiet >/dev/null\" /dev/null");
    EXPECT_EQ(quiet.out.find("\r["), std::string::npos) << quiet.out;
    EXPECT_EQ(quiet.out.find("Extract Grid(s):"), std::string::npos) << quiet.out;
}

TEST_F(BatchCli, EverySubcommandHasAManualPage) {
    for (const char* name : {"calibrate", "extract", "inspect", "pattern", "render"}) {
        SCOPED_TRACE(name);
        auto help = cli(std::string(name) + " --help");
        EXPECT_EQ(help.status, 0);
        for (const char* section : {"Usage:", "Options:", "DESCRIPTION", "EXIT STATUS", "EXAMPLES"})
            EXPECT_NE(help.out.find(section), std::string::npos) << section;
        EXPECT_NE(help.out.find(std::string("  vexel-cli ") + name + " "), std::string::npos) << help.out;
    }
}

TEST_F(BatchCli, QuietLeavesOnlyErrorsAndNoReadableFrameIsAUsageError) {
    const fs::path broken = dir / "broken.pgm";
    std::ofstream(broken, std::ios::binary) << "P5\n640 480\n255\n";
    const fs::path err = dir / "quiet.err";
    EXPECT_EQ(cli("calibrate " + quote(dir / "views" / "views.iml") + " " + quote(broken) + " -q", err).status, 0);
    EXPECT_EQ(readFile(err), "");

    auto unread = cli("extract " + quote(broken) + " " + quote(broken) + " --json", err);
    EXPECT_EQ(unread.status, 2);
    EXPECT_NE(readFile(err).find("no frame could be read"), std::string::npos) << readFile(err);
    EXPECT_EQ(cli("calibrate " + quote(broken) + " -q", err).status, 2);
    EXPECT_NE(readFile(err).find("no frame could be read"), std::string::npos) << readFile(err);
}

TEST_F(BatchCli, NamesThatAreNotUtf8OrHoldControlsKeepEveryOutputWellFormed) {
    const fs::path odd = dir / "names";
    fs::create_directories(odd);
    const fs::path latin = odd / "caf\xe9.pgm", controls = odd / "two\nlines \x01.pgm";
    for (const fs::path& name : {latin, controls}) fs::copy_file(dir / "views" / "view_000.pgm", name);
    const std::string both = quote(latin) + " " + quote(controls);

    auto json = cli("extract --json " + both);
    EXPECT_EQ(json.status, 0);
    const nlohmann::json frames = nlohmann::json::parse(json.out)["frames"];
    EXPECT_EQ(frames[0]["name"], utf8Text(latin.string()));
    EXPECT_EQ(frames[1]["name"], controls.string());
    // One line per frame and the summary.
    auto text = cli("extract " + both);
    EXPECT_EQ(std::count(text.out.begin(), text.out.end(), '\n'), 3) << text.out;
    EXPECT_NE(text.out.find(printableName(controls.string())), std::string::npos) << text.out;

    auto calibrated = cli("calibrate --json " + quote(dir / "views" / "views.iml") + " " + both + " --cal " +
                          quote(odd / "c.cal"));
    EXPECT_EQ(calibrated.status, 0);
    EXPECT_EQ(nlohmann::json::parse(calibrated.out)["frames"].size(), 34u);

    const fs::path svg = odd / "overlay.svg";
    auto inspected = cli("inspect --json " + quote(controls) + " --svg " + quote(svg));
    EXPECT_EQ(nlohmann::json::parse(inspected.out)["image"], controls.string());
    // XML allows no control character but tab and the line ends.
    const std::string overlay = readFile(svg);
    EXPECT_TRUE(isValidUtf8(overlay));
    EXPECT_EQ(overlay.find('\x01'), std::string::npos);
    EXPECT_NE(overlay.find("<title>" + printableName(controls.string()) + "</title>"), std::string::npos);
}

TEST_F(BatchCli, EveryFrameNotReadSaysWhyAndSoDoSkippedListLines) {
    const fs::path bad = dir / "unreadable";
    fs::create_directories(bad);
    std::vector<uchar> jpeg;
    ASSERT_TRUE(cv::imencode(".jpg", cv::Mat(64, 64, CV_8UC1, cv::Scalar(90)), jpeg));
    std::ofstream(bad / "cut.jpg", std::ios::binary).write(reinterpret_cast<const char*>(jpeg.data()), jpeg.size() / 2);
    std::ofstream(bad / "empty.pgm");
    std::ofstream(bad / "notes.pgm") << "shot on Tuesday\n";
    std::ofstream(bad / "shot.pgm", std::ios::binary) << std::string{0, 0, 2} + std::string(9, '\0') + "\xff\xff\xff\xff";
    fs::create_symlink("loop.pgm", bad / "loop.pgm");
    fs::copy_file(dir / "views" / "view_000.pgm", bad / "good.pgm");
    std::ofstream(bad / "list.iml") << "\xef\xbb\xbfgood.pgm\ngood.pgm\nloop.pgm\ncut.jpg\nempty.pgm\nnotes.pgm\nshot.pgm\n";

    const fs::path err = bad / "stderr";
    auto json = cli("extract --json " + quote(bad / "list.iml"), err);
    EXPECT_NE(readFile(err).find("2 names were skipped (the line starts with a byte-order mark: 1, a link loop: 1)"),
              std::string::npos)
        << readFile(err);
    ASSERT_FALSE(json.out.empty());
    std::vector<std::string> failures;
    const nlohmann::json parsed = nlohmann::json::parse(json.out);
    for (const auto& frame : parsed["frames"])
        failures.push_back(frame["failure"].is_null() ? "" : frame["failure"].get<std::string>());
    EXPECT_EQ(failures, (std::vector<std::string>{"", "not read: truncated JPEG", "not read: empty file",
                                                  "not read: not an image", "not read: unsupported image format"}));
    auto text = cli("extract " + quote(bad / "list.iml"));
    EXPECT_NE(text.out.find("(not read: truncated JPEG), " + (bad / "cut.jpg").string() + "\n"), std::string::npos)
        << text.out;
}
