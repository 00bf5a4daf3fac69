#include "calibration/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

namespace vexel {

namespace {

// Symbolic links followed before giving up, as the system itself does.
constexpr int MAX_LINK_HOPS = 40;

bool fail(std::string* error, const std::string& path, const std::string& what, int code) {
    if (error) {
        *error = "cannot write " + path + ": " + what;
        if (code != 0) *error += std::string(" (") + std::strerror(code) + ")";
    }
    return false;
}

// Writes every byte to `fd`; the errno of a failed write, else 0.
int writeAll(int fd, const std::string& bytes) {
    const char* data = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        data += n;
        left -= static_cast<size_t>(n);
    }
    return 0;
}

// The file a chain of symbolic links ends at (the path itself when it is no
// link), also when that file does not exist yet. Empty for a loop.
std::string followLinks(const std::string& path) {
    std::filesystem::path current(path);
    for (int hop = 0; hop < MAX_LINK_HOPS; ++hop) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current.string();
        std::error_code ec;
        std::filesystem::path target = std::filesystem::read_symlink(current, ec);
        if (ec) return current.string();
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    return {};
}

// Writes into the existing file itself: what a link, a device or a FIFO
// leads to keeps being that. Not atomic.
bool writeInPlace(const std::string& path, const std::string& shownName, const std::string& bytes, bool regular,
                  std::string* error) {
    const int flags = O_WRONLY | O_CLOEXEC | O_NOCTTY | (regular ? O_TRUNC : 0);
    const int fd = ::open(path.c_str(), flags);
    if (fd < 0) return fail(error, shownName, "cannot open it for writing", errno);
    if (const int code = writeAll(fd, bytes); code != 0) {
        ::close(fd);
        return fail(error, shownName, "writing failed", code);
    }
    if (regular && ::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) {
        const int code = errno;
        ::close(fd);
        return fail(error, shownName, "writing failed", code);
    }
    if (::close(fd) != 0) return fail(error, shownName, "writing failed", errno);
    return true;
}

// The bytes go to a temporary file beside `target`, renamed over it once
// complete. `createError` gets the errno when the temporary file cannot be
// made (nothing else has happened then).
bool writeAtomically(const std::string& target, const std::string& shownName, const std::string& bytes,
                     std::string* error, int& createError) {
    createError = 0;
    const std::filesystem::path path(target);
    std::filesystem::path folder = path.parent_path();
    if (folder.empty()) folder = ".";
    std::string hidden(".");
    hidden += path.filename().string();
    hidden += ".XXXXXX";
    const std::string pattern = (folder / hidden).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');

    int fd = mkstemp(name.data());
    if (fd < 0) {
        createError = errno;
        return fail(error, shownName, "cannot create a temporary file in its folder", createError);
    }

    // A new file gets the permissions an ordinary create would give it; an
    // existing target keeps its own.
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0) {
        fchmod(fd, existing.st_mode & 07777);
    } else {
        mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
    }

    int code = writeAll(fd, bytes);
    if (code == 0 && ::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) code = errno;
    if (code != 0) {
        ::close(fd);
        ::unlink(name.data());
        return fail(error, shownName, "writing failed", code);
    }
    if (::close(fd) != 0) {
        code = errno;
        ::unlink(name.data());
        return fail(error, shownName, "writing failed", code);
    }
    if (std::rename(name.data(), target.c_str()) != 0) {
        code = errno;
        ::unlink(name.data());
        return fail(error, shownName, "cannot replace the file", code);
    }
    return true;
}

}  // namespace

bool replaceFileContents(const std::string& path, const std::string& bytes, std::string* error) {
    if (path.empty()) return fail(error, "\"\"", "no file name", 0);

    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return fail(error, path, "it is a folder", 0);
        // A device, a FIFO or standard output named as a file is written to,
        // never replaced; so is a file with several names (hard links), which
        // would otherwise lose all but this one.
        if (!S_ISREG(info.st_mode)) return writeInPlace(path, path, bytes, false, error);
        if (info.st_nlink > 1) return writeInPlace(path, path, bytes, true, error);
    }
    // Through symbolic links the file they lead to is replaced; the links stay.
    const std::string target = followLinks(path);
    if (target.empty()) return fail(error, path, "too many levels of symbolic links", ELOOP);

    int createError = 0;
    if (writeAtomically(target, path, bytes, error, createError)) return true;
    // A folder that takes no new files may still hold a writable file.
    const bool folderRefused = createError == EACCES || createError == EPERM || createError == EROFS;
    if (folderRefused && ::access(target.c_str(), W_OK) == 0) return writeInPlace(target, path, bytes, true, error);
    return false;
}

}  // namespace vexel
