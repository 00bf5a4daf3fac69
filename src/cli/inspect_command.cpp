// vexel-cli inspect IMAGE: runs the grid extraction on one image and shows
// what every stage found, as text, as JSON or as an SVG overlay.

#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>

#include "cli/command_registry.h"
#include "cli/frame_report.h"
#include "cli/grid_run.h"
#include "cli/output_args.h"
#include "cli/svg_overlay.h"
#include "document/frame_decoder.h"

namespace vexel::cli {
namespace {

struct InspectArgs {
    std::string image;
    bool json = false;
    std::string svg;
    bool verbose = false;
    bool refine = false;
    OutputArgs outputs;
};

CommandRun setupInspect(CLI::App& sub) {
    auto a = std::make_shared<InspectArgs>();
    sub.add_option("image", a->image, "Image file (JPEG, PGM, ...)")->required();
    sub.add_flag("--json", a->json, "Print the results of every stage as one JSON object");
    a->outputs.add(sub, "--svg", a->svg, "Write the frame with the results drawn over it to this SVG file");
    a->outputs.addInPlaceFlag(sub);
    sub.add_flag("--verbose", a->verbose, "Show the triangulation's diagnostic lines on standard error");
    sub.add_flag("--refine", a->refine, "Refine the labelled corners once more (Calibration > Refine Corners)");
    sub.footer(R"(DESCRIPTION
  Runs the whole grid extraction on one image and reports what each stage
  found: the corners, the candidate and accepted cells, the marker cells and
  the correspondences, or why the frame was given up. --svg draws the same
  over the frame for a look in a browser.

EXIT STATUS
  0 correspondences were found; 1 none were found, the extraction failed or
  the SVG or standard output could not be written; 2 bad arguments (the SVG
  naming the image among them), an unreadable image or too little memory
  to search it.

EXAMPLES
  vexel-cli inspect view_000.pgm
  vexel-cli inspect "shots/frame 12.jpg" --json --svg frame12.svg)");

    return [a]() {
        const auto fail = [&](const std::string& reason, int status) {
            return reportFailure("inspect", reason, status, a->json);
        };
        if (std::string problem = a->outputs.problem({a->image}); !problem.empty()) return fail(problem, EXIT_USAGE);
        std::string error;
        cv::Mat frame;
        FrameReport report;
        try {
            frame = decodeFrameFile(a->image, &error);
            if (frame.empty()) return fail(error, EXIT_USAGE);
            // Standard output carries only the report; stage diagnostics go
            // to standard error when asked for.
            ExtractOptions options;
            options.refineCorners = a->refine;
            report = reportFrame(a->image, frame, a->verbose ? &std::cerr : nullptr, &std::cerr, options);
        } catch (const std::bad_alloc&) {
            return fail(a->image + ": out of memory", EXIT_USAGE);
        } catch (const std::exception& e) {
            // A broken geometry check (Fatal_Error).
            return fail(a->image + ": grid extraction failed: " + e.what(), EXIT_FAILED);
        }

        if (!a->svg.empty() && !writeSvgOverlayFile(a->svg, frame, report, error, a->outputs.options()))
            return fail(error, EXIT_FAILED);
        if (a->json) {
            std::cout << formatJson(frameReportJson(report)) << "\n";
        } else {
            writeFrameSummary(std::cout, report);
        }
        return report.correspondences.empty() ? EXIT_FAILED : EXIT_OK;
    };
}

const CommandRegistration registration("inspect", "Run the grid extraction on one image and show every stage's results",
                                       setupInspect);

}  // namespace
}  // namespace vexel::cli
