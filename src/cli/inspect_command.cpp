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
#include "cli/svg_overlay.h"
#include "document/frame_decoder.h"
#include "geomlib/fatal_error.h"

namespace vexel::cli {
namespace {

struct InspectArgs {
    std::string image;
    bool json = false;
    std::string svg;
    bool verbose = false;
    bool refine = false;
};

CommandRun setupInspect(CLI::App& sub) {
    auto a = std::make_shared<InspectArgs>();
    sub.add_option("image", a->image, "Image file (JPEG, PGM, ...)")->required();
    sub.add_flag("--json", a->json, "Print the results of every stage as one JSON object");
    sub.add_option("--svg", a->svg, "Write the frame with the results drawn over it to this SVG file");
    sub.add_flag("--verbose", a->verbose, "Show the triangulation's diagnostic lines on standard error");
    sub.add_flag("--refine", a->refine, "Refine the labelled corners once more (Calibration > Refine Corners)");
    sub.footer(R"(DESCRIPTION
  Runs the whole grid extraction on one image and reports what each stage
  found: the corners, the candidate and accepted cells, the marker cells and
  the correspondences, or why the frame was given up. --svg draws the same
  over the frame for a look in a browser.

EXIT STATUS
  0 correspondences were found; 1 none were found, the extraction failed or
  the SVG could not be written; 2 bad arguments or an unreadable image.

EXAMPLES
  vexel-cli inspect view_000.pgm
  vexel-cli inspect "shots/frame 12.jpg" --json --svg frame12.svg)");

    return [a]() {
        std::string error;
        const cv::Mat frame = decodeFrameFile(a->image, &error);
        if (frame.empty()) {
            std::cerr << "vexel-cli inspect: " << error << "\n";
            return 2;
        }

        FrameReport report;
        try {
            // Standard output carries only the report; stage diagnostics go
            // to standard error when asked for.
            ExtractOptions options;
            options.refineCorners = a->refine;
            report = reportFrame(a->image, frame, a->verbose ? &std::cerr : nullptr, &std::cerr, options);
        } catch (const Fatal_Error& e) {
            std::cerr << "vexel-cli inspect: " << a->image << ": grid extraction failed: " << e.what() << "\n";
            return 1;
        } catch (const std::exception& e) {
            std::cerr << "vexel-cli inspect: " << a->image << ": grid extraction failed: " << e.what() << "\n";
            return 1;
        }

        if (a->json) {
            std::cout << formatJson(frameReportJson(report)) << "\n";
        } else {
            writeFrameSummary(std::cout, report);
        }
        std::cout.flush();

        if (!a->svg.empty()) {
            if (!writeSvgOverlayFile(a->svg, frame, report, error)) {
                std::cerr << "vexel-cli inspect: " << error << "\n";
                return 1;
            }
        }
        return std::cout && !report.correspondences.empty() ? 0 : 1;
    };
}

const CommandRegistration registration("inspect", "Run the grid extraction on one image and show every stage's results",
                                       setupInspect);

}  // namespace
}  // namespace vexel::cli
