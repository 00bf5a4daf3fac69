#pragma once
// The files a subcommand writes: declared with their options, checked before
// any work (an empty name, two outputs naming one file, an output naming an
// input), and written through writeOutputFile with --in-place when given.

#include <string>
#include <vector>

#include "calibration/output_file.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace vexel::cli {

class OutputArgs {
public:
    // Declares the output option `name` (an option such as "--points", or a
    // positional name) writing `path`; "-" stands for standard output.
    CLI::Option* add(CLI::App& sub, const std::string& name, std::string& path, const std::string& description);
    // Declares --in-place.
    void addInPlaceFlag(CLI::App& sub);

    // What the outputs are written with.
    const vexel::OutputOptions& options() const { return m_options; }

    // Empty when the outputs given may be written: none is given an empty
    // name, no two name the same file, and none names a file of `inputs`
    // (the same file also through links). Else the usage problem, naming
    // the option.
    std::string problem(const std::vector<std::string>& inputs) const;

    // Whether one of the outputs given is standard output ("-"): the
    // command's own report then goes elsewhere or is refused.
    bool writesStandardOutput() const;

private:
    struct Output {
        std::string name;
        CLI::Option* option;
        const std::string* path;
    };
    std::vector<Output> m_outputs;
    vexel::OutputOptions m_options;
};

}  // namespace vexel::cli
