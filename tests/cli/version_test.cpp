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

TEST(CliBasics, NoSubcommandPrintsTheUsageOnStandardError) {
    auto r = runProcess(cliPath() + " 2>&1 >/dev/null");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("Subcommands:"), std::string::npos) << r.out;
    EXPECT_EQ(runProcess(cliPath() + " 2>/dev/null").out, "");
}

#ifdef VEXEL_APP_PATH
TEST(DesktopProgram, AnswersHelpAndVersionWithoutAWindow) {
    // With the window system's plugin pointed at a display that does not
    // exist, opening a window would fail.
    const std::string app = std::string("env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb ") + VEXEL_APP_PATH;
    auto version = runProcess(app + " --version 2>&1");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "vexel 1.0\n");
    auto help = runProcess(app + " --help 2>&1");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: vexel [OPTION] [FILE...]"), std::string::npos) << help.out;
}
#endif
