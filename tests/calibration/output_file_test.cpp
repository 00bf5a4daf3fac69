// An output is replaced completely or left as it was: links keep pointing at
// the file they name, what cannot be replaced safely is refused unless it is
// to be overwritten in place (with a copy kept until the new content is
// complete), a FIFO gets the bytes, a killed run's temporary files go with
// the next write, and a failed write to standard output is seen.

#include "calibration/output_file.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <thread>

#include "support/fifo.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using vexel::OutputOptions;
using vexel::writeOutputFile;

namespace {

class OutputFileTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(dir / "real"); }
    // The folder a test made read-only can be emptied again.
    void TearDown() override { fs::permissions(dir / "real", fs::perms::owner_all, fs::perm_options::add); }

    static void write(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }
    static long files(const fs::path& folder) {
        return std::distance(fs::directory_iterator(folder), fs::directory_iterator());
    }

    TempDir dir{"vexel_output"};
};

// Runs `body` in a child process whose files can grow to `limit` bytes at
// most, as on a disk that fills up; returns its exit status.
template <typename Body>
int withFileSizeLimit(rlim_t limit, Body body) {
    const pid_t child = ::fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead
        const rlimit small{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &small);
        _exit(body() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(OutputFileTest, SymbolicLinksStayAndTheFileTheyLeadToIsReplaced) {
    const fs::path target = dir / "real" / "camera.cal";
    write(target, "old");
    fs::create_symlink("real/camera.cal", dir / "link.cal");
    fs::create_symlink("link.cal", dir / "chain.cal");
    std::string error;
    ASSERT_TRUE(writeOutputFile((dir / "chain.cal").string(), "new", &error)) << error;
    EXPECT_TRUE(fs::is_symlink(dir / "chain.cal"));
    EXPECT_TRUE(fs::is_symlink(dir / "link.cal"));
    EXPECT_EQ(readFile(target), "new");
    // The temporary file was made beside the target, and is gone.
    EXPECT_EQ(files(dir / "real"), 1);

    // A link to a file not made yet makes that file.
    fs::create_symlink("real/later.cal", dir / "dangling.cal");
    ASSERT_TRUE(writeOutputFile((dir / "dangling.cal").string(), "made", &error)) << error;
    EXPECT_TRUE(fs::is_symlink(dir / "dangling.cal"));
    EXPECT_EQ(readFile(dir / "real" / "later.cal"), "made");

    // A loop of links is refused.
    fs::create_symlink("loop2.cal", dir / "loop1.cal");
    fs::create_symlink("loop1.cal", dir / "loop2.cal");
    EXPECT_FALSE(writeOutputFile((dir / "loop1.cal").string(), "x", &error));
    EXPECT_NE(error.find("loop1.cal"), std::string::npos) << error;
}

TEST_F(OutputFileTest, HardLinkedFilesAreRefusedUnlessOverwrittenInPlaceWithACopyKept) {
    const fs::path first = dir / "first.points", second = dir / "real" / "second.points";
    const std::string old = "frame0\n1.000000 2.000000 3.000000 4.000000\n\n";
    write(first, old);
    fs::create_hard_link(first, second);
    std::string error;
    EXPECT_FALSE(writeOutputFile(second.string(), "new", &error));
    EXPECT_NE(error.find("hard links"), std::string::npos) << error;
    EXPECT_NE(error.find("--in-place"), std::string::npos) << error;
    EXPECT_EQ(readFile(first), old);

    // On a disk that fills up half way the old content comes back.
    EXPECT_EQ(withFileSizeLimit(old.size() + 10,
                                [&] {
                                    std::string why;
                                    return !writeOutputFile(second.string(), std::string(4000, 'x'), &why, {true}) &&
                                           why.find("put back") != std::string::npos;
                                }),
              0);
    EXPECT_EQ(readFile(first), old);
    EXPECT_FALSE(fs::exists(second.string() + ".bak"));

    ASSERT_TRUE(writeOutputFile(second.string(), "new", &error, OutputOptions{true})) << error;
    EXPECT_EQ(fs::hard_link_count(first), 2u);
    EXPECT_EQ(readFile(first), "new");
    EXPECT_EQ(files(dir / "real"), 1);  // no copy left once complete

    // A copy an earlier write left is never overwritten.
    write(second.string() + ".bak", "kept");
    EXPECT_FALSE(writeOutputFile(second.string(), "newer", &error, OutputOptions{true}));
    EXPECT_EQ(readFile(second.string() + ".bak"), "kept");
    EXPECT_EQ(readFile(first), "new");
}

TEST_F(OutputFileTest, AFailedWriteLeavesTheTargetAndNoTemporaryFile) {
    const fs::path target = dir / "real" / "board.png";
    write(target, "old picture");
    EXPECT_EQ(withFileSizeLimit(100, [&] { return !writeOutputFile(target.string(), std::string(5000, 'p')); }), 0);
    EXPECT_EQ(readFile(target), "old picture");
    EXPECT_EQ(files(dir / "real"), 1);
}

TEST_F(OutputFileTest, AKilledRunsTemporaryFilesGoWithTheNextWriteThere) {
    // A process that has ended, as a killed run has.
    const pid_t gone = ::fork();
    if (gone == 0) _exit(0);
    ::waitpid(gone, nullptr, 0);
    const fs::path stale = dir / ("camera.cal.vexel-" + std::to_string(gone) + "-a1B2c3");
    const fs::path staleHidden = dir / (".camera.cal.vexel-" + std::to_string(gone) + "-a1B2c3");
    const fs::path running = dir / (".other.cal.vexel-" + std::to_string(::getppid()) + "-zzzzzz");
    const fs::path foreign = dir / ".camera.cal.XYZ123";
    for (const fs::path& p : {stale, staleHidden, running, foreign}) write(p, "partial");
    ASSERT_TRUE(writeOutputFile((dir / "points.points").string(), "x"));
    EXPECT_FALSE(fs::exists(staleHidden));
    // Names not of this program, or of a process that runs, stay.
    EXPECT_TRUE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(running));
    EXPECT_TRUE(fs::exists(foreign));
}

TEST_F(OutputFileTest, AFifoGetsTheBytesAndStaysAFifo) {
    const std::string fifo = (dir / "pipe.yaml").string();
    ASSERT_TRUE(vexel::test::makeFifo(fifo));
    // The reader does not block, so a writer that replaced the FIFO instead
    // of opening it fails the test rather than hanging it.
    const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    std::string received;
    std::thread reader([&] {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        char buffer[64];
        while (std::chrono::steady_clock::now() < until) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) received.append(buffer, static_cast<size_t>(n));
            if (n == 0 && !received.empty()) break;  // the writer is done
            if (n <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    std::string error;
    EXPECT_TRUE(writeOutputFile(fifo, "through the pipe", &error)) << error;
    reader.join();
    ::close(fd);
    EXPECT_EQ(received, "through the pipe");
    EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST_F(OutputFileTest, AFileInAFolderThatTakesNoNewFilesIsOverwrittenOnlyInPlace) {
    const fs::path target = dir / "real" / "camera.cal";
    write(target, "old");
    fs::permissions(dir / "real", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    // Folder permissions do not bind the superuser: then the writing is done
    // as an ordinary user that owns the file.
    const bool root = ::geteuid() == 0;
    constexpr uid_t NOBODY = 65534;
    if (root) {
        ASSERT_EQ(::chown(target.c_str(), NOBODY, NOBODY), 0);
    }
    EXPECT_EXIT(
        {
            if (root && (::setgid(NOBODY) != 0 || ::setuid(NOBODY) != 0)) _exit(2);
            std::string error;
            const bool refused = !writeOutputFile(target.string(), "new", &error) &&
                                 error.find("folder takes no new files") != std::string::npos;
            const bool unchanged = readFile(target) == "old";
            const bool written = writeOutputFile(target.string(), "new", &error, OutputOptions{true});
            const bool newRefused = !writeOutputFile((dir / "real" / "other.cal").string(), "x", &error) &&
                                    error.find("temporary file") != std::string::npos;
            _exit(refused && unchanged && written && newRefused ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(readFile(target), "new");
}

TEST_F(OutputFileTest, StandardOutputFailuresAreSeen) {
    // Standard output on a full disk: written as an output named "-", and
    // what the program printed, once it is flushed and closed.
    const auto onFullDisk = [](auto body) {
        const int full = ::open("/dev/full", O_WRONLY);
        if (full < 0 || ::dup2(full, STDOUT_FILENO) < 0) _exit(2);
        _exit(body() ? 0 : 1);
    };
    EXPECT_EXIT(onFullDisk([] {
                    std::string error;
                    return !writeOutputFile("-", std::string(10000, 'j'), &error) &&
                           error == "cannot write standard output: writing failed (No space left on device)";
                }),
                ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(onFullDisk([] {
                    std::cout << "{\"frames\": []}\n";
                    std::string error;
                    return !vexel::closeStandardOutput(&error) &&
                           error == "cannot write to standard output: No space left on device";
                }),
                ::testing::ExitedWithCode(0), "");
}

}  // namespace
