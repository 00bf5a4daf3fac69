// vexel-cli pattern OUT.png|OUT.pgm|OUT.svg: writes the printable board.

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>
#include <string>

#include "cli/command_registry.h"
#include "cli/grid_run.h"
#include "cli/output_args.h"
#include "pattern/printable_board.h"

namespace vexel::cli {
namespace {

struct PatternArgs {
    std::string output;
    int cellPixels = 100;
    double cellMillimetres = 0.0;
    OutputArgs outputs;
};

CommandRun setupPattern(CLI::App& sub) {
    auto args = std::make_shared<PatternArgs>();
    args->outputs.add(sub, "output", args->output, "Output file: .png, .pgm or .svg")->required();
    args->outputs.addInPlaceFlag(sub);
    sub.add_option("--cell-px", args->cellPixels, "Pixels per cell in raster output (and SVG without --cell-mm)")
        ->check(CLI::Range(pattern::kMinPrintCellPixels, pattern::kMaxPrintCellPixels));
    sub.add_option("--cell-mm", args->cellMillimetres, "Cell side in millimetres (sizes the SVG, named in the caption)")
        ->check(CLI::PositiveNumber);
    sub.footer(R"(DESCRIPTION
  Writes the printable calibration board: the checkerboard with its marker
  cells and a caption. The format follows the file's extension. With
  --cell-mm the SVG is sized for printing at that cell side.

EXIT STATUS
  0 written; 2 bad arguments or the file could not be written.

EXAMPLES
  vexel-cli pattern board.png --cell-px 120
  vexel-cli pattern board.svg --cell-mm 30)");
    return [args]() {
        std::string bytes, error;
        if (std::string problem = args->outputs.problem({}); !problem.empty())
            return reportFailure("pattern", problem, EXIT_USAGE);
        if (!pattern::encodePrintableBoard(args->output, args->cellPixels, args->cellMillimetres, bytes, error))
            return reportFailure("pattern", error, EXIT_USAGE);
        if (!vexel::writeOutputFile(args->output, bytes, &error, args->outputs.options()))
            return reportFailure("pattern", error, EXIT_USAGE);
        std::cout << "wrote " << args->output << "\n";
        return 0;
    };
}

const CommandRegistration registration("pattern", "Write the printable calibration board (PNG, PGM or SVG)",
                                       setupPattern);

}  // namespace
}  // namespace vexel::cli
