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

bool fail(std::string* error, const std::string& path, const std::string& what, int code) {
    if (error) {
        *error = "cannot write " + path + ": " + what;
        if (code != 0) *error += std::string(" (") + std::strerror(code) + ")";
    }
    return false;
}

}  // namespace

bool replaceFileContents(const std::string& path, const std::string& bytes, std::string* error) {
    if (path.empty()) return fail(error, "\"\"", "no file name", 0);
    std::filesystem::path target(path);
    std::error_code ec;
    if (std::filesystem::is_directory(target, ec)) return fail(error, path, "it is a folder", 0);

    std::filesystem::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    std::string pattern = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');

    int fd = mkstemp(name.data());
    if (fd < 0) return fail(error, path, "cannot create a temporary file in its folder", errno);

    // A new file gets the permissions an ordinary create would give it; an
    // existing target keeps its own.
    struct stat existing{};
    if (stat(path.c_str(), &existing) == 0) {
        fchmod(fd, existing.st_mode & 07777);
    } else {
        mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
    }

    const char* data = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            int code = errno;
            ::close(fd);
            ::unlink(name.data());
            return fail(error, path, "writing failed", code);
        }
        data += n;
        left -= static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) {
        int code = errno;
        ::close(fd);
        ::unlink(name.data());
        return fail(error, path, "writing failed", code);
    }
    if (::close(fd) != 0) {
        int code = errno;
        ::unlink(name.data());
        return fail(error, path, "writing failed", code);
    }
    if (std::rename(name.data(), path.c_str()) != 0) {
        int code = errno;
        ::unlink(name.data());
        return fail(error, path, "cannot replace the file", code);
    }
    return true;
}

}  // namespace vexel
