// vexel-cli pattern OUT.pdf|OUT.png|OUT.pgm|OUT.svg: writes the printable board.

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "cli/command_registry.h"
#include "cli/grid_run.h"
#include "cli/output_args.h"
#include "document/plugin_library.h"
#include "pattern/printable_board.h"

namespace vexel::cli {
namespace {

struct PatternArgs {
    std::string output;
    int cellPixels = 100;
    double cellMillimetres = 0.0;
    std::string paper = "A4";
    double dotsPerInch = 0.0;
    bool quiet = false;
    CLI::Option* cellPixelsOption = nullptr;
    CLI::Option* paperOption = nullptr;
    CLI::Option* dpiOption = nullptr;
    OutputArgs outputs;
};

std::string lowerExtension(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

// The millimetres of a cell side to one decimal, rounded down, so that the
// size named always fits.
std::string millimetresDown(double mm) {
    const long tenths = static_cast<long>(std::floor(mm * 10 + 1e-9));
    return std::to_string(tenths / 10) + (tenths % 10 ? "." + std::to_string(tenths % 10) : "");
}

int fail(const std::string& reason, int status) { return reportFailure("pattern", reason, status); }

int writePdf(const PatternArgs& a) {
    const pattern::Paper paper = *pattern::paperNamed(a.paper);
    const std::optional<pattern::PageLayout> layout = pattern::layoutOnPaper(paper, a.cellMillimetres);
    if (!layout) {
        return fail(a.output + ": cells of " + millimetresDown(a.cellMillimetres) + " mm do not fit on " + paper.name +
                        " paper; the largest that fit are " + millimetresDown(pattern::largestCellMm(paper)) + " mm",
                    EXIT_USAGE);
    }
    std::string error;
    auto write = pluginFunction<pattern::BoardPdfWriter>("print", pattern::BOARD_PDF_WRITER, error);
    std::string bytes;
    if (!write || !write(*layout, bytes, error)) return fail(a.output + ": " + error, EXIT_FAILED);
    if (!writeOutputFile(a.output, bytes, &error, a.outputs.options())) return fail(error, EXIT_USAGE);
    if (!a.quiet)
        std::cout << "wrote " << a.output << " (" << paper.name << ", cells of "
                  << millimetresDown(layout->cellMm) << " mm)\n";
    return EXIT_OK;
}

int runPattern(const PatternArgs& a) {
    if (std::string problem = a.outputs.problem({}); !problem.empty()) return fail(problem, EXIT_USAGE);
    const std::string ext = lowerExtension(a.output);
    if (a.paperOption->count() > 0 && ext != ".pdf") return fail("--paper applies to PDF output only", EXIT_USAGE);
    if (a.dpiOption->count() > 0 && ext != ".png") return fail("--dpi applies to PNG output only", EXIT_USAGE);
    if (ext == ".pdf") return writePdf(a);

    int cellPixels = a.cellPixels;
    double dotsPerInch = a.dotsPerInch;
    if (ext == ".png" && a.dotsPerInch > 0.0 && a.cellMillimetres > 0.0) {
        // The resolution and the printed size give the cell's pixels.
        if (a.cellPixelsOption->count() > 0)
            return fail("give two of --cell-px, --cell-mm and --dpi, not all three", EXIT_USAGE);
        cellPixels = static_cast<int>(std::lround(a.cellMillimetres * a.dotsPerInch / 25.4));
        dotsPerInch = 0.0;
    }
    std::string bytes, error;
    if (!pattern::encodePrintableBoard(a.output, cellPixels, a.cellMillimetres, bytes, error, dotsPerInch) ||
        !writeOutputFile(a.output, bytes, &error, a.outputs.options()))
        return fail(error, EXIT_USAGE);
    if (!a.quiet) std::cout << "wrote " << a.output << "\n";
    return EXIT_OK;
}

CommandRun setupPattern(CLI::App& sub) {
    auto a = std::make_shared<PatternArgs>();
    a->outputs.add(sub, "output", a->output, "Output file: .pdf, .png, .pgm or .svg")->required();
    a->outputs.addInPlaceFlag(sub);
    a->cellPixelsOption =
        sub.add_option("--cell-px", a->cellPixels, "Pixels per cell in raster output (and SVG without --cell-mm)")
            ->check(CLI::Range(pattern::kMinPrintCellPixels, pattern::kMaxPrintCellPixels));
    sub.add_option("--cell-mm", a->cellMillimetres,
                   "Cell side in millimetres (PDF: default the largest whole number that fits the paper)")
        ->check(CLI::PositiveNumber);
    std::string paperNames;
    for (const pattern::Paper& p : pattern::papers()) paperNames += (paperNames.empty() ? "" : "|") + std::string(p.name);
    a->paperOption = sub.add_option("--paper", a->paper, "Paper of the PDF: " + paperNames + " (default A4)")
                         ->check([](const std::string& name) {
                             return pattern::paperNamed(name) ? std::string() : "unknown paper " + name;
                         })
                         ->type_name("PAPER");
    a->dpiOption = sub.add_option("--dpi", a->dotsPerInch, "Resolution stored in the PNG file, dots per inch")
                       ->check(CLI::Range(1.0, 100000.0))
                       ->type_name("DPI");
    sub.add_flag("-q,--quiet", a->quiet, "Nothing on standard output; errors only on standard error");
    sub.footer(R"(DESCRIPTION
  Writes the printable calibration board: the checkerboard with its marker
  cells and a caption naming the cell side. The format follows the file's
  extension.
  PDF: one page of the --paper at exact scale, the board centred with its
  bright margin, the cells as large as fit (a whole number of millimetres)
  or --cell-mm; a cell size that does not fit is refused, naming the largest
  that fits. Print it at 100 % (actual size, no fit to page).
  PNG: with --cell-mm the file carries the resolution that prints the cells
  at that size (from --cell-px, or with --dpi the pixels per cell follow);
  with --dpi alone the caption names the size that resolution gives.
  SVG: with --cell-mm the sheet is sized in millimetres.

EXIT STATUS
  0 written; 1 the PDF could not be made; 2 bad arguments, a cell size that
  does not fit, or the file could not be written.

EXAMPLES
  vexel-cli pattern board.pdf --paper Letter
  vexel-cli pattern board.pdf --paper A3 --cell-mm 20
  vexel-cli pattern board.png --cell-mm 15 --dpi 300
  vexel-cli pattern board.svg --cell-mm 15)");
    return [a]() { return runPattern(*a); };
}

const CommandRegistration registration("pattern", "Write the printable calibration board (PDF, PNG, PGM or SVG)",
                                       setupPattern);

}  // namespace
}  // namespace vexel::cli
