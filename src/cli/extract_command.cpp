// vexel-cli extract INPUT...: finds the grid in every frame and reports the
// correspondences found, optionally writing them to a .points file.

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "calibration/calibration_commands.h"
#include "cli/cli_ui.h"
#include "cli/command_registry.h"
#include "cli/grid_run.h"
#include "document/vexel_doc.h"

namespace vexel::cli {
namespace {

struct ExtractArgs {
    std::vector<std::string> inputs;
    std::string points;
    bool json = false;
};

int runExtract(const ExtractArgs& a) {
    CliUi ui;
    CVexelDoc doc(&ui);
    doc.m_diagnostics = nullptr;

    std::string error;
    int status = importInputs(doc, a.inputs, error);
    if (status != EXIT_OK) {
        std::cerr << "vexel-cli extract: " << error << '\n';
        return status;
    }
    doc.OnExtractGrids();

    if (!a.points.empty() && !SaveCorrespondencesFile(doc, a.points, &error)) {
        std::cerr << "vexel-cli extract: " << error << '\n';
        return EXIT_FAILED;
    }

    int withGrid = framesWithGrid(doc);
    if (a.json) {
        nlohmann::json out;
        out["frames"] = framesJson(doc);
        std::cout << out.dump(1) << '\n';
    } else {
        std::cout << framesText(doc) << withGrid << " of " << doc.FrameCount()
                  << " frames with 4 or more points, " << doc.m_gridSet.getTotalPointCount() << " points\n";
    }
    if (withGrid == 0) {
        std::cerr << "vexel-cli extract: no frame with 4 or more points\n";
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

CommandRun setupExtract(CLI::App& sub) {
    auto a = std::make_shared<ExtractArgs>();
    sub.add_option("inputs", a->inputs, "Image files, image lists (.iml) or one video sequence (.vsq)")->required();
    sub.add_option("--points", a->points, "Write the correspondences to this .points file");
    sub.add_flag("--json", a->json, "Print the frames as one JSON object");
    return [a]() { return runExtract(*a); };
}

const CommandRegistration registration("extract", "Find the calibration pattern's grid in every frame", setupExtract);

}  // namespace
}  // namespace vexel::cli
