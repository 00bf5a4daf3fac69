// vexel-cli: the batch tool. Subcommands register themselves (command_registry.h).

#include <CLI/CLI.hpp>
#include <malloc.h>

#include <algorithm>
#include <iostream>
#include <map>

#include "cli/command_registry.h"
#include "vexel_version.h"

namespace vexel::cli {
std::vector<Command>& commands() {
    static std::vector<Command> all;
    return all;
}
}  // namespace vexel::cli

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
        int status = app.exit(e);
        return status == 0 ? 0 : 2;
    }

    for (auto& [sub, run] : runs) {
        if (sub->parsed()) return run();
    }
    // No subcommand: the usage, as for any other usage error.
    std::cerr << app.help();
    return 2;
}
