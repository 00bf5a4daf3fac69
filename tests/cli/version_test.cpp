#include <gtest/gtest.h>

#include "support/run_process.h"

using vexel::test::cliPath;
using vexel::test::runProcess;

TEST(CliBasics, VersionAndHelp) {
    auto version = runProcess(cliPath() + " --version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "vexel-cli 1.0\n");

    auto help = runProcess(cliPath() + " --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("vexel-cli"), std::string::npos);
}

TEST(CliBasics, UnknownOptionIsUsageError) {
    auto r = runProcess(cliPath() + " --no-such-option 2>/dev/null");
    EXPECT_EQ(r.status, 2);
}
