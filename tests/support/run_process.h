#pragma once
// Runs a command line through the shell and captures its standard output and
// exit status, for tests of the command-line tool.

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace vexel::test {

struct ProcessResult {
    int status = -1;
    std::string out;
};

inline ProcessResult runProcess(const std::string& commandLine) {
    ProcessResult result;
    FILE* pipe = popen(commandLine.c_str(), "r");
    if (!pipe) return result;
    std::array<char, 4096> buffer{};
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.out.append(buffer.data(), n);
    int raw = pclose(pipe);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return result;
}

inline std::string cliPath() { return VEXEL_CLI_PATH; }

}  // namespace vexel::test
