// vexel-cli: the batch tool. Subcommands register themselves (command_registry.h).

#include <CLI/CLI.hpp>
#include <malloc.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <new>
#include <string_view>

#include <nlohmann/json.hpp>

#include "calibration/output_file.h"
#include "cli/command_registry.h"
#include "cli/grid_run.h"
#include "cli/json_text.h"
#include "vexel_version.h"

namespace vexel::cli {
std::vector<Command>& commands() {
    static std::vector<Command> all;
    return all;
}
}  // namespace vexel::cli

namespace {

// Ends the command: what it wrote to standard output must have got there
// (a full disk, /dev/full), else the command failed.
int finish(int status) {
    std::string error;
    if (vexel::closeStandardOutput(&error)) return status;
    std::cerr << "vexel-cli: " << error << '\n';
    return status == vexel::cli::EXIT_OK ? vexel::cli::EXIT_FAILED : status;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vexel::cli;
    // Every frame brings buffers of the same few sizes (the decoded frame, the
    // vision library's work images). Kept in the heap once freed, instead of
    // being handed back to the system and faulted in anew for the next
    // frame, they cost a third less time per frame; at most 256 MB of freed
    // memory stays with the process.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    CLI::App app{"vexel-cli: find the calibration pattern in frames and calibrate a camera.", "vexel-cli"};
    app.set_version_flag("--version", "vexel-cli " VEXEL_VERSION);
    app.require_subcommand(0, 1);

    auto& all = commands();
    std::sort(all.begin(), all.end(), [](const Command& a, const Command& b) { return a.name < b.name; });
    std::map<CLI::App*, CommandRun> runs;
    for (const Command& c : all) {
        CLI::App* sub = app.add_subcommand(c.name, c.description);
        runs[sub] = c.setup(*sub);
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Usage errors exit with 2; --help and --version exit with 0.
        const int status = app.exit(e);
        if (status == 0) return finish(0);
        // A caller that asked for JSON gets the failure as JSON too.
        if (std::find(argv + 1, argv + argc, std::string_view("--json")) != argv + argc)
            std::cout << jsonText(nlohmann::json{{"error", e.what()}}, 1) << '\n';
        return finish(EXIT_USAGE);
    }

    // A command ends with a message, and with --json an object, whatever
    // escapes it.
    const bool json = std::find(argv + 1, argv + argc, std::string_view("--json")) != argv + argc;
    for (auto& [sub, run] : runs) {
        if (!sub->parsed()) continue;
        try {
            return finish(run());
        } catch (const std::exception& e) {
            const std::string reason = dynamic_cast<const std::bad_alloc*>(&e) ? "out of memory" : e.what();
            std::cerr << "vexel-cli " << sub->get_name() << ": " << reason << '\n';
            if (json) std::cout << jsonText(nlohmann::json{{"error", reason}}, 1) << '\n';
            return finish(EXIT_USAGE);
        }
    }
    // No subcommand: the usage, as for any other usage error.
    std::cerr << app.help();
    return finish(2);
}
