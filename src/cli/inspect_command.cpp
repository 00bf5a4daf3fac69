// vexel-cli inspect IMAGE: runs the grid extraction on one image and shows
// what each of its steps found, as text, as JSON or as an SVG overlay.

#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>

#include <opencv2/calib3d.hpp>

#include "document/calibration_commands.h"
#include "calibration/calibration_residuals.h"
#include "calibration/fixed_format.h"
#include "cli/cli_ui.h"
#include "cli/command_registry.h"
#include "cli/frame_report.h"
#include "cli/grid_run.h"
#include "cli/output_args.h"
#include "cli/svg_overlay.h"
#include "document/frame_decoder.h"
#include "document/vexel_doc.h"

namespace vexel::cli {
namespace {

struct InspectArgs {
    std::string image;
    bool json = false;
    std::string svg;
    bool verbose = false;
    bool refine = false;
    std::string cal;
    OutputArgs outputs;
};

// The residuals of the frame's correspondences with the calibration in
// `record`, from the frame's pose with those intrinsics. False when the
// frame has fewer than 4 correspondences or no pose is found.
bool frameResidualsWith(const CalibrationRecord& record, const FrameReport& report, FrameResiduals& out) {
    std::vector<cv::Point2f> image;
    std::vector<cv::Point3f> object;
    for (const auto& c : report.correspondences) {
        image.emplace_back(c[0], c[1]);
        object.emplace_back(c[2], c[3], 0.0f);
    }
    if (image.size() < 4) return false;
    try {
        const ExtrinsicResult pose = calibrateExtrinsic(image, object, record);
        FramePose framePose;
        cv::Rodrigues(cv::Matx33d(pose.rotation.data()), framePose.rotation);
        framePose.translation = cv::Vec3d(pose.translation.data());
        out = frameResiduals(0, image, object, CameraModel(record), framePose);
        return true;
    } catch (const cv::Exception&) {
        return false;
    }
}

CommandRun setupInspect(CLI::App& sub) {
    auto a = std::make_shared<InspectArgs>();
    sub.add_option("image", a->image, "Image file (JPEG, PGM, ...)")->required();
    sub.add_flag("--json", a->json, "Print the results of every stage as one JSON object");
    a->outputs.add(sub, "--svg", a->svg, "Write the frame with the results drawn over it to this SVG file");
    a->outputs.addInPlaceFlag(sub);
    sub.add_flag("--verbose", a->verbose, "Show the triangulation's diagnostic lines on standard error");
    sub.add_flag("--refine", a->refine, "Refine the labelled corners once more (Calibration > Refine Corners)");
    sub.add_option("--cal", a->cal,
                   "With this calibration, report the frame's residuals and draw them in the SVG (the frame's "
                   "pose is found from its correspondences)")
        ->type_name("FILE");
    sub.footer(R"(DESCRIPTION
  Runs the whole grid extraction on one image and reports what each stage
  found: the corners, the candidate and accepted cells, the marker cells and
  the correspondences, or why the frame was given up. --svg draws the same
  over the frame for a look in a browser. With --cal the frame's pose is
  found with that calibration and every correspondence's residual is
  reported and drawn (detected and reprojected point, the error enlarged,
  the worst corners ringed).

EXIT STATUS
  0 correspondences were found; 1 none were found, the extraction failed or
  the SVG or standard output could not be written; 2 bad arguments (the SVG
  naming the image among them), an unreadable image or too little memory
  to search it.

EXAMPLES
  vexel-cli inspect view_000.pgm
  vexel-cli inspect "shots/frame 12.jpg" --json --svg frame12.svg
  vexel-cli inspect view_003.pgm --cal camera.cal --svg residuals.svg)");

    return [a]() {
        const auto fail = [&](const std::string& reason, int status) {
            return reportFailure("inspect", reason, status, a->json);
        };
        if (std::string problem = a->outputs.problem({a->image}); !problem.empty()) return fail(problem, EXIT_USAGE);
        std::string error;
        cv::Mat frame;
        try {
            frame = decodeFrameFile(a->image, &error);
        } catch (const std::bad_alloc&) {
            return fail(a->image + ": out of memory", EXIT_USAGE);
        }
        if (frame.empty()) return fail(error, EXIT_USAGE);
        CalibrationRecord record;
        if (!a->cal.empty()) {
            // Read by the document's own calibration reader, with its checks
            // and messages.
            CliUi ui;
            ui.setQuiet(true);
            CVexelDoc doc(&ui);
            if (!LoadCalibrationFile(doc, a->cal) || !doc.Calibration()) return fail(ui.lastMessage(), EXIT_USAGE);
            record = *doc.Calibration();
        }

        FrameReport report;
        try {
            // Standard output carries only the report; the extraction's
            // diagnostics go to standard error when asked for.
            ExtractOptions options;
            options.refineCorners = a->refine;
            report = reportFrame(a->image, frame, a->verbose ? &std::cerr : nullptr, &std::cerr, options);
        } catch (const std::bad_alloc&) {
            return fail(a->image + ": out of memory", EXIT_USAGE);
        } catch (const std::exception& e) {
            // The triangulation found one of its preconditions broken.
            return fail(a->image + ": grid extraction failed: " + e.what(), EXIT_FAILED);
        }

        FrameResiduals residuals;
        const bool withResiduals = !a->cal.empty() && frameResidualsWith(record, report, residuals);
        if (!a->svg.empty() && !writeSvgOverlayFile(a->svg, frame, report, error, withResiduals ? &residuals : nullptr,
                                                     a->outputs.options()))
            return fail(error, EXIT_FAILED);
        if (a->json) {
            nlohmann::ordered_json out = frameReportJson(report);
            if (!a->cal.empty()) {
                nlohmann::ordered_json r;
                r["calibration"] = a->cal;
                if (withResiduals) {
                    r["rms"] = residuals.rms();
                    nlohmann::ordered_json worst = nlohmann::ordered_json::array();
                    for (int i : residuals.worst)
                        worst.push_back({{"x", residuals.detected[i].x}, {"y", residuals.detected[i].y},
                                         {"error", cv::norm(residuals.error(i))}});
                    r["worst"] = worst;
                } else {
                    r["rms"] = nullptr;
                }
                out["residuals"] = r;
            }
            std::cout << formatJson(out) << "\n";
        } else {
            writeFrameSummary(std::cout, report);
            if (withResiduals)
                std::cout << "  residuals:       RMS " << formatDecimals(residuals.rms(), 3) << " px, worst "
                          << formatDecimals(cv::norm(residuals.error(residuals.worst.front())), 3) << " px (with "
                          << a->cal << ")\n";
            else if (!a->cal.empty())
                std::cout << "  residuals:       none (no pose of the frame with " << a->cal << ")\n";
        }
        return report.correspondences.empty() ? EXIT_FAILED : EXIT_OK;
    };
}

const CommandRegistration registration("inspect", "Run the grid extraction on one image and show every stage's results",
                                       setupInspect);

}  // namespace
}  // namespace vexel::cli
