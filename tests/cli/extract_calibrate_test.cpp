#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>
#include <nlohmann/json.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "pattern/renderer.h"
#include "support/fifo.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using vexel::test::cliPath;
using vexel::test::runProcess;

namespace {

std::string shellQuote(const fs::path& p) { return "'" + p.string() + "'"; }

class ExtractCalibrateCli : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Removed with everything in it when the test program ends.
        static const TempDir scratch("vexel_cli_cal");
        dir = scratch.path();
        vexel::pattern::Camera camera;
        vexel::pattern::RenderOptions options;
        options.samples = 4;
        options.blurSigma = 0.6;
        options.noiseSigma = 1.5;
        std::string error;
        ASSERT_TRUE(vexel::pattern::writeRenderSet(dir.string(), camera, vexel::pattern::randomPoses(camera, 12, 3),
                                                   options, vexel::pattern::ImageFormat::Pgm, error))
            << error;
        cv::Mat flat(48, 64, CV_8UC1, cv::Scalar(128));
        ASSERT_TRUE(cv::imwrite((dir / "flat.pgm").string(), flat));
    }

    static vexel::test::ProcessResult run(const std::string& arguments) {
        return runProcess("timeout 120 " + shellQuote(cliPath()) + " " + arguments + " 2>/dev/null");
    }

    static fs::path dir;
};

fs::path ExtractCalibrateCli::dir;

}  // namespace

TEST_F(ExtractCalibrateCli, CalibrateJsonDescribesCameraAndFrames) {
    auto result = run("calibrate " + shellQuote(dir / "views.iml") + " --json");
    ASSERT_EQ(result.status, 0) << result.out;
    nlohmann::json out = nlohmann::json::parse(result.out);  // nothing but the object on stdout

    ASSERT_EQ(out["frames"].size(), 12u);
    int used = 0;
    for (const auto& frame : out["frames"]) {
        EXPECT_TRUE(frame.contains("index") && frame.contains("name") && frame.contains("points"));
        if (!frame["rms"].is_null()) {
            ++used;
            EXPECT_GE(frame["points"].get<int>(), 4);
            EXPECT_LT(frame["rms"].get<double>(), 0.3);
        }
    }
    EXPECT_EQ(out["framesUsed"].get<int>(), used);
    EXPECT_GE(used, 3);
    EXPECT_NEAR(out["camera"]["fx"].get<double>(), 700.0, 7.0);
    EXPECT_NEAR(out["camera"]["fy"].get<double>(), 696.0, 7.0);
    EXPECT_NEAR(out["camera"]["cx"].get<double>(), 322.0, 2.0);
    EXPECT_NEAR(out["camera"]["cy"].get<double>(), 238.0, 2.0);
    EXPECT_EQ(out["camera"]["matrix"].size(), 9u);
    EXPECT_EQ(out["camera"]["matrix"][8].get<double>(), 1.0);
    EXPECT_EQ(out["distortion"].size(), 4u);
    EXPECT_EQ(out["rotation"].size(), 9u);
    EXPECT_EQ(out["translation"].size(), 3u);
    EXPECT_LT(out["rms"].get<double>(), 0.3);
    EXPECT_EQ(out["referenceFrame"].get<int>(), -1);
    EXPECT_EQ(out["solver"], "library");  // few frames: the library's solver

    // The sparse solver, asked for, reaches the same calibration.
    auto sparseRun = run("calibrate " + shellQuote(dir / "views.iml") + " --json --solver sparse");
    ASSERT_EQ(sparseRun.status, 0) << sparseRun.out;
    nlohmann::json sparse = nlohmann::json::parse(sparseRun.out);
    EXPECT_EQ(sparse["solver"], "sparse");
    for (const char* name : {"fx", "fy", "cx", "cy"}) {
        double library = out["camera"][name].get<double>();
        EXPECT_NEAR(sparse["camera"][name].get<double>(), library, 1e-6 * library) << name;
    }
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(sparse["distortion"][i].get<double>(), out["distortion"][i].get<double>(), 1e-7) << i;
}

// With --refine the corners are sharper: the calibration fits them better,
// and extract finds about as many.
TEST_F(ExtractCalibrateCli, RefineGivesACloserFit) {
    const auto plain = run("calibrate " + shellQuote(dir / "views.iml") + " --json");
    const auto refined = run("calibrate " + shellQuote(dir / "views.iml") + " --refine --json");
    ASSERT_EQ(plain.status, 0) << plain.out;
    ASSERT_EQ(refined.status, 0) << refined.out;
    const double plainRms = nlohmann::json::parse(plain.out)["rms"].get<double>();
    const double refinedRms = nlohmann::json::parse(refined.out)["rms"].get<double>();
    EXPECT_LT(refinedRms, 0.9 * plainRms);

    int points[2] = {0, 0};
    for (int refine = 0; refine < 2; ++refine) {
        const auto r = run("extract " + shellQuote(dir / "views.iml") + (refine ? " --refine" : "") + " --json");
        ASSERT_EQ(r.status, 0) << r.out;
        const nlohmann::json report = nlohmann::json::parse(r.out);
        for (const auto& frame : report["frames"]) points[refine] += frame["points"].get<int>();
    }
    EXPECT_GE(points[1], points[0] * 98 / 100);
}

TEST_F(ExtractCalibrateCli, CalibrateWithReferenceWritesTheReportAndTheFiles) {
    auto extracted = run("extract " + shellQuote(dir / "views.iml") + " --json");
    ASSERT_EQ(extracted.status, 0);
    int reference = -1;
    nlohmann::json frames = nlohmann::json::parse(extracted.out)["frames"];
    for (const auto& frame : frames)
        if (reference < 0 && frame["points"].get<int>() >= 4) reference = frame["index"].get<int>();
    ASSERT_GE(reference, 0);

    fs::path cal = dir / "camera.cal";
    fs::path points = dir / "views.points";
    auto result = run("calibrate " + shellQuote(dir / "views.iml") + " --reference " + std::to_string(reference) +
                      " --cal " + shellQuote(cal) + " --cal-form binary --points " + shellQuote(points));
    ASSERT_EQ(result.status, 0) << result.out;
    std::vector<std::string> lines;
    std::istringstream text(result.out);
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    ASSERT_GE(lines.size(), 22u) << result.out;  // the report, the fit, then the quality section
    EXPECT_EQ(lines[0], "Camera Intrinsic Parameters:");
    EXPECT_EQ(lines[5], "Rotation matrix:");
    EXPECT_EQ(lines[11].rfind("RMS reprojection error = ", 0), 0u);
    EXPECT_NE(lines[11].find(" px ("), std::string::npos) << lines[11];
    EXPECT_EQ(lines[12].rfind("fx = ", 0), 0u);
    EXPECT_NE(lines[12].find(" \u00b1 "), std::string::npos) << lines[12];
    EXPECT_EQ(lines[19].rfind("p2 = ", 0), 0u);
    EXPECT_EQ(lines[20].rfind("frames used = ", 0), 0u);
    EXPECT_EQ(lines[21], "solver = library");

    EXPECT_EQ(fs::file_size(cal), 201u);
    std::ifstream in(points);
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first, "frame0");
}

TEST_F(ExtractCalibrateCli, FailuresAndUsageErrorsHaveTheirExitStatus) {
    // No frame with a grid: the work cannot be done, yet the JSON is whole.
    auto flat = run("extract " + shellQuote(dir / "flat.pgm") + " --json");
    EXPECT_EQ(flat.status, 1);
    nlohmann::json out = nlohmann::json::parse(flat.out);
    EXPECT_EQ(out["frames"][0]["points"].get<int>(), 0);
    EXPECT_TRUE(out["frames"][0]["rms"].is_null());
    EXPECT_EQ(run("calibrate " + shellQuote(dir / "flat.pgm")).status, 1);

    EXPECT_EQ(run("calibrate " + shellQuote(dir / "views.iml") + " --cal " + shellQuote(dir / "missing" / "x.cal")).status,
              1);
    EXPECT_EQ(run("extract " + shellQuote(dir / "no_such.pgm")).status, 2);
    EXPECT_EQ(run("extract").status, 2);
    EXPECT_EQ(run("calibrate " + shellQuote(dir / "views.iml") + " --cal-form fancy").status, 2);
    EXPECT_EQ(run("calibrate " + shellQuote(dir / "views.iml") + " --solver dense").status, 2);
    EXPECT_EQ(run("calibrate " + shellQuote(dir / "views.iml") + " --reference 12").status, 2);
    EXPECT_EQ(run("calibrate " + shellQuote(dir / "views.iml") + " " + shellQuote(dir / "seq.vsq")).status, 2);
}

TEST_F(ExtractCalibrateCli, OutputsAreCheckedBeforeAnyWorkAndStandardOutputToo) {
    const std::string list = shellQuote(dir / "views.iml");
    std::ifstream listFile(dir / "views.iml");
    const std::string listBefore((std::istreambuf_iterator<char>(listFile)), std::istreambuf_iterator<char>());
    const std::string same = shellQuote(dir / "same.dat");
    for (const std::string& outputs : {"--points " + same + " --cal " + same, "--points " + list,
                                       // a frame the list names
                                       "--cal " + shellQuote(dir / "view_000.pgm"), std::string("--points ''")}) {
        SCOPED_TRACE(outputs);
        auto refused = run("calibrate " + list + " " + outputs + " --json");
        EXPECT_EQ(refused.status, 2);
        EXPECT_TRUE(nlohmann::json::parse(refused.out).contains("error")) << refused.out;
    }
    EXPECT_FALSE(fs::exists(dir / "same.dat"));
    std::ifstream listAfter(dir / "views.iml");
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(listAfter)), std::istreambuf_iterator<char>()), listBefore);

    // What cannot reach standard output is a failure.
    EXPECT_EQ(runProcess(shellQuote(cliPath()) + " extract " + shellQuote(dir / "view_000.pgm") +
                         " --json >/dev/full 2>/dev/null")
                  .status,
              1);
}

TEST_F(ExtractCalibrateCli, AnUnderDeterminedCalibrationComesWithWarnings) {
    // One view, and the same view four times: a camera comes out, but with
    // the warning that it rests on too few distinct views.
    const std::string one = shellQuote(dir / "view_000.pgm");
    for (const std::string& inputs : {one, one + " " + one + " " + one + " " + one}) {
        auto result = run("calibrate " + inputs + " --json");
        ASSERT_EQ(result.status, 0) << result.out;
        nlohmann::json out = nlohmann::json::parse(result.out);
        ASSERT_TRUE(out["warnings"].is_array());
        ASSERT_FALSE(out["warnings"].empty()) << result.out;
        EXPECT_EQ(out["warnings"][0].get<std::string>(),
                  "only 1 distinct view (3 or more are needed for a reliable calibration)");
        EXPECT_EQ(out["imageSize"], nlohmann::json({{"width", 640}, {"height", 480}}));
        EXPECT_EQ(out["framesOtherSize"].get<int>(), 0);
        EXPECT_EQ(out["poseFrame"].get<int>(), 0);
    }

    auto text = run("calibrate " + one);
    ASSERT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("\nWarning: only 1 distinct view"), std::string::npos) << text.out;

    // A view of another size (a border around one of the views) is left out and said to be.
    cv::Mat wide = cv::imread((dir / "view_001.pgm").string(), cv::IMREAD_GRAYSCALE);
    cv::copyMakeBorder(wide, wide, 20, 20, 30, 30, cv::BORDER_REPLICATE);
    ASSERT_TRUE(cv::imwrite((dir / "wide.pgm").string(), wide));
    auto mixed = run("calibrate " + shellQuote(dir / "wide.pgm") + " " + shellQuote(dir / "views.iml") + " --json");
    ASSERT_EQ(mixed.status, 0) << mixed.out;
    nlohmann::json out = nlohmann::json::parse(mixed.out);
    ASSERT_GE(out["frames"][0]["points"].get<int>(), 4);
    EXPECT_TRUE(out["frames"][0]["rms"].is_null());
    EXPECT_EQ(out["imageSize"], nlohmann::json({{"width", 640}, {"height", 480}}));
    EXPECT_EQ(out["framesOtherSize"].get<int>(), 1);
    EXPECT_EQ(out["warnings"], nlohmann::json({"1 frame of another size left out (calibrated at 640 x 480)"}));
    int first = 1;
    while (out["frames"][first]["points"].get<int>() < 4) ++first;
    EXPECT_EQ(out["poseFrame"].get<int>(), first);
}

TEST_F(ExtractCalibrateCli, JsonSaysWhyAFrameHasNoPointsAndWhatFailed) {
    std::ofstream(dir / "broken.pgm") << "P5 not a picture";
    auto extracted = run("extract " + shellQuote(dir / "flat.pgm") + " " + shellQuote(dir / "broken.pgm") +
                         " " + shellQuote(dir / "view_000.pgm") + " --json");
    ASSERT_EQ(extracted.status, 0) << extracted.out;
    nlohmann::json frames = nlohmann::json::parse(extracted.out)["frames"];
    EXPECT_EQ(frames[0]["failure"], "no board found");
    EXPECT_EQ(frames[1]["failure"], "not read: damaged netpbm header");
    EXPECT_TRUE(frames[2]["failure"].is_null());
    EXPECT_FALSE(nlohmann::json::parse(extracted.out).contains("error"));

    // Failures: one JSON object with the reason, exit status as before.
    auto flat = run("calibrate " + shellQuote(dir / "flat.pgm") + " --json");
    EXPECT_EQ(flat.status, 1);
    EXPECT_EQ(nlohmann::json::parse(flat.out)["error"], "no frame with 4 or more points");
    auto missing = run("calibrate " + shellQuote(dir / "no_such.pgm") + " --json");
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(nlohmann::json::parse(missing.out)["error"],
              "cannot read " + (dir / "no_such.pgm").string() + ": No such file or directory");
    auto reference = run("calibrate " + shellQuote(dir / "views.iml") + " --reference 40 --json");
    EXPECT_EQ(reference.status, 2);
    EXPECT_NE(nlohmann::json::parse(reference.out)["error"].get<std::string>().find("--reference 40"),
              std::string::npos);
    auto noGrid = run("extract " + shellQuote(dir / "flat.pgm") + " --json");
    EXPECT_EQ(noGrid.status, 1);
    EXPECT_EQ(nlohmann::json::parse(noGrid.out)["error"], "no frame with 4 or more points");
}

TEST_F(ExtractCalibrateCli, SpecialFilesAreNeitherWaitedForNorReplaced) {
    // A FIFO as an input, directly or in a list on standard input, is refused
    // at once (a reader would wait for a writer for ever).
    const fs::path fifo = dir / "pipe.pgm";
    ASSERT_TRUE(vexel::test::makeFifo(fifo.string()));
    EXPECT_EQ(run("extract " + shellQuote(fifo)).status, 2);
    auto listed = runProcess("printf '%s\\n%s\\n' " + shellQuote(fifo) + " " + shellQuote(dir / "flat.pgm") +
                             " | timeout 20 " + shellQuote(cliPath()) + " extract - --json 2>/dev/null");
    EXPECT_EQ(listed.status, 1);
    ASSERT_FALSE(listed.out.empty());
    EXPECT_EQ(nlohmann::json::parse(listed.out)["frames"].size(), 1u);

    // Output through a link writes the file it leads to; standard output is
    // written to, not replaced.
    fs::create_directories(dir / "real");
    fs::remove(dir / "link.cal");
    fs::create_symlink("real/camera.cal", dir / "link.cal");
    auto saved = run("calibrate " + shellQuote(dir / "views.iml") + " --cal " + shellQuote(dir / "link.cal") +
                     " --points /dev/stdout");
    ASSERT_EQ(saved.status, 0);
    EXPECT_EQ(saved.out.rfind("frame0\n", 0), 0u) << saved.out.substr(0, 200);
    EXPECT_TRUE(fs::is_symlink(dir / "link.cal"));
    std::ifstream cal(dir / "real" / "camera.cal");
    std::string first;
    std::getline(cal, first);
    EXPECT_EQ(first, "c");

    // A camera name the YAML file cannot hold is refused before any work.
    auto named = run("calibrate " + shellQuote(dir / "views.iml") + " --ros-yaml " + shellQuote(dir / "info.yaml") +
                     " --camera-name \"$(printf 'cam\\377')\"");
    EXPECT_EQ(named.status, 2);
    EXPECT_FALSE(fs::exists(dir / "info.yaml"));
}

TEST_F(ExtractCalibrateCli, FramesLeftOutKeepTheirPointsButAreNotCalibrated) {
    auto result = run("calibrate " + shellQuote(dir / "views.iml") + " --json --leave-out 2,5");
    ASSERT_EQ(result.status, 0) << result.out;
    nlohmann::json out = nlohmann::json::parse(result.out);
    ASSERT_EQ(out["frames"].size(), 12u);
    int used = 0, usable = 0;
    for (const auto& frame : out["frames"]) {
        const int index = frame["index"].get<int>();
        const bool leftOut = index == 2 || index == 5;
        EXPECT_EQ(frame["leftOut"].get<bool>(), leftOut) << index;
        if (leftOut) {
            EXPECT_GE(frame["points"].get<int>(), 4) << index;
            EXPECT_TRUE(frame["rms"].is_null()) << index;
        } else if (frame["points"].get<int>() >= 4) {
            ++usable;
        }
        if (!frame["rms"].is_null()) ++used;
    }
    EXPECT_EQ(out["framesUsed"].get<int>(), used);
    EXPECT_EQ(used, usable);
    EXPECT_GE(used, 8);

    auto wrong = run("calibrate " + shellQuote(dir / "views.iml") + " --leave-out 12");
    EXPECT_EQ(wrong.status, 2);
}

// The verdict in the text, the coverage and uncertainty in the JSON, and
// the HTML page: it parses as XML and holds every section with its pictures.
TEST_F(ExtractCalibrateCli, CalibrateSaysWhatToAddAndWritesTheHtmlReport) {
    const fs::path page = dir / "report.html";
    auto text = run("calibrate " + shellQuote(dir / "views.iml") + " --report " + shellQuote(page));
    ASSERT_EQ(text.status, 0) << text.out;
    EXPECT_NE(text.out.find("\nverdict: coverage "), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("\n  image covered: "), std::string::npos);

    auto json = run("calibrate " + shellQuote(dir / "views.iml") + " --json");
    ASSERT_EQ(json.status, 0);
    const nlohmann::json out = nlohmann::json::parse(json.out);
    EXPECT_EQ(out["verdict"].get<std::string>().rfind("coverage ", 0), 0u);
    EXPECT_GT(out["coverage"]["imageShare"].get<double>(), 0.3);
    EXPECT_GT(out["coverage"]["largestTilt"].get<double>(), 20.0);
    for (const char* key : {"centre", "topLeft", "topRight", "bottomLeft", "bottomRight"})
        EXPECT_GT(out["uncertainty"][key].get<double>(), 0.0) << key;
    EXPECT_LT(out["uncertainty"]["centre"].get<double>(), out["uncertainty"]["topLeft"].get<double>());

    std::ifstream in(page);
    const std::string html((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    xmlDocPtr parsed = xmlReadMemory(html.data(), static_cast<int>(html.size()), "report.html", nullptr,
                                     XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    ASSERT_NE(parsed, nullptr) << "the report is not well-formed";
    xmlXPathContextPtr xpath = xmlXPathNewContext(parsed);
    xmlXPathRegisterNs(xpath, BAD_CAST "h", BAD_CAST "http://www.w3.org/1999/xhtml");
    xmlXPathRegisterNs(xpath, BAD_CAST "s", BAD_CAST "http://www.w3.org/2000/svg");
    auto count = [&](const std::string& path) {
        xmlXPathObjectPtr found = xmlXPathEvalExpression(BAD_CAST path.c_str(), xpath);
        const int n = found && found->nodesetval ? found->nodesetval->nodeNr : 0;
        xmlXPathFreeObject(found);
        return n;
    };
    for (const char* section : {"parameters", "warnings", "coverage", "frames", "residuals", "poses", "uncertainty"})
        EXPECT_EQ(count(std::string("//h:section[@id='") + section + "']/h:h2"), 1) << section;
    EXPECT_EQ(count("//h:section[@id='frames']/h:table/h:tr"), out["framesUsed"].get<int>() + 1);
    EXPECT_EQ(count("//h:section[@id='residuals']//s:svg"), 2);
    EXPECT_EQ(count("//h:section[@id='poses']//s:svg"), 2);
    EXPECT_EQ(count("//h:section[@id='uncertainty']//s:image[starts-with(@href, 'data:image/png;base64,')]"), 1);
    EXPECT_GE(count("//h:section[@id='uncertainty']//s:g[@id='contours']/s:polyline"), 1);
    EXPECT_EQ(count("//h:section[@id='parameters']/h:pre"), 1);
    xmlXPathFreeContext(xpath);
    xmlFreeDoc(parsed);
}

TEST_F(ExtractCalibrateCli, InspectWithACalibrationDrawsTheResiduals) {
    const fs::path cal = dir / "inspect.cal", svg = dir / "residuals.svg";
    ASSERT_EQ(run("calibrate " + shellQuote(dir / "views.iml") + " --cal " + shellQuote(cal)).status, 0);
    auto result = run("inspect " + shellQuote(dir / "view_001.pgm") + " --cal " + shellQuote(cal) + " --svg " +
                      shellQuote(svg) + " --json");
    ASSERT_EQ(result.status, 0) << result.out;
    const nlohmann::json out = nlohmann::json::parse(result.out);
    EXPECT_LT(out["residuals"]["rms"].get<double>(), 0.5);
    EXPECT_EQ(out["residuals"]["worst"].size(), 3u);
    xmlDocPtr parsed = xmlReadFile(svg.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_HUGE);
    ASSERT_NE(parsed, nullptr);
    xmlXPathContextPtr xpath = xmlXPathNewContext(parsed);
    xmlXPathRegisterNs(xpath, BAD_CAST "s", BAD_CAST "http://www.w3.org/2000/svg");
    xmlXPathObjectPtr lines = xmlXPathEvalExpression(BAD_CAST "//s:g[@id='residuals']/s:line", xpath);
    EXPECT_EQ(lines->nodesetval ? lines->nodesetval->nodeNr : 0, static_cast<int>(out["correspondences"].size()));
    xmlXPathFreeObject(lines);
    xmlXPathFreeContext(xpath);
    xmlFreeDoc(parsed);

    EXPECT_EQ(run("inspect " + shellQuote(dir / "view_001.pgm") + " --cal " + shellQuote(dir / "missing.cal")).status, 2);
}

TEST_F(ExtractCalibrateCli, SessionWrittenByCalibrateIsReadBackWithTheSameResult) {
    const fs::path session = dir / "work.vexel";
    auto first = run("calibrate " + shellQuote(dir / "views.iml") + " --json --cell-mm 25 --session " +
                     shellQuote(session));
    ASSERT_EQ(first.status, 0) << first.out;
    // Read back, the frames are not searched again: the same points give the
    // same camera, bit for bit, and the cell side comes with the session.
    auto again = run("calibrate " + shellQuote(session) + " --json");
    ASSERT_EQ(again.status, 0) << again.out;
    const nlohmann::json a = nlohmann::json::parse(first.out), b = nlohmann::json::parse(again.out);
    EXPECT_EQ(a["camera"], b["camera"]);
    EXPECT_EQ(a["framesUsed"], b["framesUsed"]);
    EXPECT_EQ(b["cellSizeMm"], 25.0);
}
