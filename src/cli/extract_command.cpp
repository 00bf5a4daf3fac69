// vexel-cli extract INPUT...: finds the grid in every frame and reports the
// correspondences found, optionally writing them to a .points file.

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "document/calibration_commands.h"
#include "cli/cli_ui.h"
#include "cli/command_registry.h"
#include "cli/grid_run.h"
#include "cli/json_text.h"
#include "cli/output_args.h"
#include "document/vexel_doc.h"

namespace vexel::cli {
namespace {

struct ExtractArgs {
    std::vector<std::string> inputs;
    std::string points;
    std::string mrcalCorners;
    bool json = false;
    bool withPoints = false;
    ExtractionOptions extraction;
    InputOptions input;
    OutputArgs outputs;
};

int runExtract(const ExtractArgs& a) {
    CliUi ui;
    ui.setQuiet(a.extraction.quiet);
    CVexelDoc doc(&ui);
    doc.SetGridStreams(nullptr, &std::cerr);

    InputOptions input = a.input;
    input.progress = !a.extraction.quiet;
    if (std::string problem = a.outputs.problem(a.inputs); !problem.empty())
        return reportFailure("extract", problem, EXIT_USAGE, a.json);
    if (a.json && a.outputs.writesStandardOutput())
        return reportFailure("extract", "--json and an output named - would both write to standard output",
                             EXIT_USAGE, a.json);
    if (int status = importInputsOrReport("extract", doc, a.inputs, a.json, input); status != EXIT_OK) return status;
    // The files of the frames that image lists named are inputs too.
    if (std::string problem = a.outputs.problem(doc.FrameNames()); !problem.empty())
        return reportFailure("extract", problem, EXIT_USAGE, a.json);
    std::string error;
    if (!runExtraction(doc, ui, a.extraction, error)) return reportFailure("extract", error, EXIT_USAGE, a.json);
    if (noFrameRead(doc)) return reportFailure("extract", noFrameReadText(doc), EXIT_USAGE, a.json);

    if (!a.points.empty() && !SaveCorrespondencesFile(doc, a.points, &error, a.outputs.options()))
        return reportFailure("extract", error, EXIT_FAILED, a.json);
    if (!a.mrcalCorners.empty() && !SaveMrcalCornersFile(doc, a.mrcalCorners, &error, a.outputs.options()))
        return reportFailure("extract", error, EXIT_FAILED, a.json);

    const int withGrid = doc.FramesWithGrid();
    const char* const noGrid = "no frame with 4 or more points";
    if (a.json) {
        nlohmann::json out;
        out["frames"] = framesJson(doc, a.withPoints);
        if (withGrid == 0) out["error"] = noGrid;
        std::cout << jsonText(out, 1) << '\n';
    } else {
        // An output written to standard output keeps it to itself.
        (a.outputs.writesStandardOutput() ? std::cerr : std::cout) << framesText(doc) << gridCountText(doc) << '\n';
    }
    if (withGrid == 0) {
        std::cerr << "vexel-cli extract: " << noGrid << '\n';
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

CommandRun setupExtract(CLI::App& sub) {
    auto a = std::make_shared<ExtractArgs>();
    sub.add_option("inputs", a->inputs,
                   "Image files, image lists (.iml), - for an image list on standard input, one video "
                   "sequence (.vsq) or one video file (.mp4, .avi, .mov, .mkv)")
        ->required()
        ->type_name("INPUT");
    a->outputs.add(sub, "--points", a->points, "Write the correspondences to this .points file");
    a->outputs.add(sub, "--mrcal-corners", a->mrcalCorners,
                   "Write every frame's corners as mrcal's corner list (corners.vnl; a board of 10 x 11 corners)");
    a->outputs.addInPlaceFlag(sub);
    sub.add_flag("--json", a->json, "Print the frames as one JSON object");
    sub.add_flag("--with-points", a->withPoints,
                 "With --json, give every frame's correspondences: image and board position and the corner's "
                 "label");
    addExtractionOptions(sub, a->extraction);
    addVideoOptions(sub, a->input);
    sub.footer(R"(DESCRIPTION
  Finds the calibration pattern's grid in every frame and pairs each grid
  corner's image position with its position on the pattern. Prints one line
  per frame (its point count, why it has none, and its name) and a summary,
  or with --json one JSON object {"frames": [{"index", "name", "points",
  "failure", "rms"}]}, with "error" when the command failed. The output is the
  same whatever the number of jobs. A progress bar is drawn on standard error
  when it is a terminal.
  A video file is decoded first and its frames converted to grey; of a long
  video only evenly spaced frames are kept (one in --every, or more
  apart so that at most --max-frames are kept), named "VIDEO Frame N" with N the frame's number in the
  video. --mrcal-corners writes mrcal's corner list as calibrate does. Any
  output named - goes to standard output; the frame lines then go to
  standard error, and --json is refused.

EXIT STATUS
  0 at least one frame has 4 or more points; 1 no frame has, or a file or
  standard output could not be written; 2 bad arguments (an output with an
  empty name, naming an input or another output among them), unreadable
  inputs, no frame could be read or a frame could not be searched (out of
  memory, ...).

EXAMPLES
  vexel-cli extract views/*.pgm --points views.points
  vexel-cli extract clip.mp4 --every 10 --points clip.points
  vexel-cli extract views/*.pgm --mrcal-corners - > corners.vnl
  find shots -name '*.jpg' | sort | vexel-cli extract - --json --jobs 4)");
    return [a]() { return runExtract(*a); };
}

const CommandRegistration registration("extract", "Find the calibration pattern's grid in every frame", setupExtract);

}  // namespace
}  // namespace vexel::cli
