#pragma once
// The frame of a suite of vexel-cli runs: one folder for the whole suite,
// filled once by the suite's SetUpTestSuite, and the tool run on it.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/run_process.h"
#include "support/temp_dir.h"

namespace vexel::test {

// `p` in single quotes, as one word for the shell.
inline std::string quote(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

// vexel-cli with `arguments` (quoted by the caller), its standard error sent
// where the shell redirection `errors` says, stopped after `seconds` (0: never).
inline ProcessResult runCli(const std::string& arguments, const std::string& errors = "2>/dev/null",
                            int seconds = 0) {
    const std::string limit = seconds > 0 ? "timeout " + std::to_string(seconds) + " " : std::string();
    return runProcess(limit + quote(cliPath()) + " " + arguments + " " + errors);
}

// `Suite` names the suite, so that each has its own folder.
template <class Suite>
class CliSuite : public ::testing::Test {
protected:
    // Makes the suite's folder, removed with everything in it when the test
    // program ends.
    static void makeFolder(const std::string& prefix) {
        static const TempDir scratch(prefix);
        dir = scratch.path();
    }

    inline static std::filesystem::path dir;
};

}  // namespace vexel::test

using vexel::test::CliSuite;
using vexel::test::quote;
using vexel::test::runCli;
