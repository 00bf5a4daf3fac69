// vexel-cli calibrate INPUT...: finds the grid in every frame, calibrates the
// camera from all frames and, with --reference, the pose of one frame; prints
// the calibration report and writes the files asked for.

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "calibration/calibration_commands.h"
#include "calibration/calibration_file.h"
#include "calibration/calibration_report.h"
#include "calibration/fixed_format.h"
#include "cli/cli_ui.h"
#include "cli/command_registry.h"
#include "cli/grid_run.h"
#include "document/vexel_doc.h"

namespace vexel::cli {
namespace {

struct CalibrateArgs {
    std::vector<std::string> inputs;
    std::string points;
    std::string cal;
    std::string calForm = "labelled";
    int reference = -1;
    CLI::Option* referenceOption = nullptr;
    bool json = false;
};

int fail(const std::string& reason) {
    std::cerr << "vexel-cli calibrate: " << reason << '\n';
    return EXIT_FAILED;
}

int calFormValue(const std::string& name) {
    if (name == "binary") return CAL_BINARY;
    if (name == "text") return CAL_TEXT;
    return CAL_LABELLED;
}

nlohmann::json values(const CalibrationRecord& r, std::size_t first, std::size_t count) {
    nlohmann::json out = nlohmann::json::array();
    for (std::size_t i = 0; i < count; ++i) out.push_back(r.values[first + i]);
    return out;
}

int runCalibrate(const CalibrateArgs& a) {
    CliUi ui;
    CVexelDoc doc(&ui);
    doc.m_diagnostics = nullptr;

    std::string error;
    int status = importInputs(doc, a.inputs, error);
    if (status != EXIT_OK) {
        std::cerr << "vexel-cli calibrate: " << error << '\n';
        return status;
    }
    bool withReference = a.referenceOption && a.referenceOption->count() > 0;
    if (withReference && (a.reference < 0 || a.reference >= doc.FrameCount())) {
        std::cerr << "vexel-cli calibrate: --reference " << a.reference << " is not a frame (there are "
                  << doc.FrameCount() << ")\n";
        return EXIT_USAGE;
    }

    doc.OnExtractGrids();
    if (framesWithGrid(doc) == 0) return fail("no frame with 4 or more points");
    doc.OnIntrinsicCalibration();
    if (!doc.m_calibration || !doc.m_calibrationStats.valid) return fail(ui.lastMessage());

    if (withReference) {
        ui.addReferenceFrameAnswer(a.reference);
        doc.OnExtrinsicCalibration();
        if (doc.m_calibrationStats.extrinsicFrame != a.reference) return fail(ui.lastMessage());
    }

    if (!a.points.empty() && !SaveCorrespondencesFile(doc, a.points, &error)) return fail(error);
    if (!a.cal.empty() && !SaveCalibrationFile(doc, a.cal, calFormValue(a.calForm), &error)) return fail(error);

    const CalibrationRecord& r = *doc.m_calibration;
    const CalibrationStats& stats = doc.m_calibrationStats;
    if (a.json) {
        nlohmann::json out;
        out["frames"] = framesJson(doc);
        out["framesUsed"] = stats.frames.size();
        out["camera"] = {{"fx", r.fx()}, {"fy", r.fy()}, {"cx", r.cx()}, {"cy", r.cy()},
                         {"matrix", values(r, CalibrationRecord::CAMERA, 9)}};
        out["distortion"] = values(r, CalibrationRecord::DISTORTION, 4);
        out["rms"] = stats.rms;
        out["rotation"] = values(r, CalibrationRecord::ROTATION, 9);
        out["translation"] = values(r, CalibrationRecord::TRANSLATION, 3);
        out["referenceFrame"] = withReference ? a.reference : -1;
        std::cout << out.dump(1) << '\n';
    } else {
        for (const std::string& line : calibrationReportLines(r, withReference)) std::cout << line << '\n';
        std::cout << "RMS reprojection error = " << formatFixed(stats.rms) << " pixels\n";
        std::cout << "frames used = " << stats.frames.size() << " of " << doc.FrameCount() << '\n';
    }
    return EXIT_OK;
}

CommandRun setupCalibrate(CLI::App& sub) {
    auto a = std::make_shared<CalibrateArgs>();
    sub.add_option("inputs", a->inputs, "Image files, image lists (.iml) or one video sequence (.vsq)")->required();
    sub.add_option("--points", a->points, "Write the correspondences to this .points file");
    sub.add_option("--cal", a->cal, "Write the calibration to this .cal file");
    sub.add_option("--cal-form", a->calForm, "Form of the .cal file (default labelled)")
        ->check(CLI::IsMember({"labelled", "text", "binary"}));
    a->referenceOption =
        sub.add_option("--reference", a->reference, "Also compute the pose of this frame (counted from 0)");
    sub.add_flag("--json", a->json, "Print the results as one JSON object");
    return [a]() { return runCalibrate(*a); };
}

const CommandRegistration registration("calibrate", "Calibrate the camera from the pattern in the frames",
                                       setupCalibrate);

}  // namespace
}  // namespace vexel::cli
