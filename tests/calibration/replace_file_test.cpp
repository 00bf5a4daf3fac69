// Saving keeps what the name leads to: links keep pointing at the file they
// name, hard links keep sharing it, a FIFO stays a FIFO and gets the bytes.

#include "calibration/replace_file.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "support/fifo.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

class ReplaceFileTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(dir / "real"); }
    // The folder a test made read-only can be emptied again.
    void TearDown() override { fs::permissions(dir / "real", fs::perms::owner_all, fs::perm_options::add); }

    static void write(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

    TempDir dir{"vexel_replace"};
};

TEST_F(ReplaceFileTest, SymbolicLinksStayAndTheFileTheyLeadToIsReplaced) {
    const fs::path target = dir / "real" / "camera.cal";
    write(target, "old");
    fs::create_symlink("real/camera.cal", dir / "link.cal");
    fs::create_symlink("link.cal", dir / "chain.cal");
    std::string error;
    ASSERT_TRUE(vexel::replaceFileContents((dir / "chain.cal").string(), "new", &error)) << error;
    EXPECT_TRUE(fs::is_symlink(dir / "chain.cal"));
    EXPECT_TRUE(fs::is_symlink(dir / "link.cal"));
    EXPECT_EQ(readFile(target), "new");
    // The temporary file was made beside the target, and is gone.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "real"), fs::directory_iterator()), 1);

    // A link to a file not made yet makes that file.
    fs::create_symlink("real/later.cal", dir / "dangling.cal");
    ASSERT_TRUE(vexel::replaceFileContents((dir / "dangling.cal").string(), "made", &error)) << error;
    EXPECT_TRUE(fs::is_symlink(dir / "dangling.cal"));
    EXPECT_EQ(readFile(dir / "real" / "later.cal"), "made");

    // A loop of links is refused.
    fs::create_symlink("loop2.cal", dir / "loop1.cal");
    fs::create_symlink("loop1.cal", dir / "loop2.cal");
    EXPECT_FALSE(vexel::replaceFileContents((dir / "loop1.cal").string(), "x", &error));
    EXPECT_NE(error.find("loop1.cal"), std::string::npos) << error;
}

TEST_F(ReplaceFileTest, HardLinkedFilesAreWrittenInPlace) {
    const fs::path first = dir / "first.points", second = dir / "real" / "second.points";
    write(first, "a longer old text");
    fs::create_hard_link(first, second);
    ASSERT_TRUE(vexel::replaceFileContents(second.string(), "new"));
    EXPECT_EQ(fs::hard_link_count(first), 2u);
    EXPECT_EQ(readFile(first), "new");
    EXPECT_EQ(readFile(second), "new");
}

TEST_F(ReplaceFileTest, AFifoGetsTheBytesAndStaysAFifo) {
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
    EXPECT_TRUE(vexel::replaceFileContents(fifo, "through the pipe", &error)) << error;
    reader.join();
    ::close(fd);
    EXPECT_EQ(received, "through the pipe");
    EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST_F(ReplaceFileTest, AWritableFileInAFolderThatTakesNoNewFilesIsWrittenInPlace) {
    const fs::path target = dir / "real" / "camera.cal";
    write(target, "old");
    fs::permissions(dir / "real", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    // Folder permissions do not bind the superuser: then the writing is done
    // as an ordinary user that owns the file.
    const bool root = ::geteuid() == 0;
    constexpr uid_t NOBODY = 65534;
    if (root) ASSERT_EQ(::chown(target.c_str(), NOBODY, NOBODY), 0);
    EXPECT_EXIT(
        {
            if (root && (::setgid(NOBODY) != 0 || ::setuid(NOBODY) != 0)) _exit(2);
            std::string error;
            const bool written = vexel::replaceFileContents(target.string(), "new", &error);
            const bool refused = !vexel::replaceFileContents((dir / "real" / "other.cal").string(), "x", &error) &&
                                 error.find("temporary file") != std::string::npos;
            _exit(written && refused ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(readFile(target), "new");
}

}  // namespace
