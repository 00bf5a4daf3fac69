#include "calibration/regular_file.h"

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vexel {

namespace {

void setError(std::string* error, const std::string& text) {
    if (error) *error = text;
}

// The reason a file of this type is not read; empty for a regular file.
std::string typeProblem(mode_t mode) {
    if (S_ISREG(mode)) return {};
    if (S_ISDIR(mode)) return "it is a folder";
    return "it is not a regular file";
}

}  // namespace

std::FILE* openRegularFile(const std::string& path, std::string* error) {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0) {
        setError(error, path.empty() ? std::string("no file name") : std::string(std::strerror(errno)));
        return nullptr;
    }
    if (std::string problem = typeProblem(info.st_mode); !problem.empty()) {
        setError(error, problem);
        return nullptr;
    }
    // The name may have been replaced since the check: the open does not
    // block, and the opened descriptor is checked again.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        setError(error, std::strerror(errno));
        return nullptr;
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        setError(error, S_ISDIR(info.st_mode) ? "it is a folder" : "it is not a regular file");
        ::close(fd);
        return nullptr;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    std::FILE* file = ::fdopen(fd, "rb");
    if (!file) {
        setError(error, std::strerror(errno));
        ::close(fd);
    }
    return file;
}

bool isReadableRegularFile(const std::string& path) {
    std::FILE* file = openRegularFile(path);
    if (!file) return false;
    std::fclose(file);
    return true;
}

bool readRegularFile(const std::string& path, std::size_t limit, std::string& bytes, std::string* error) {
    bytes.clear();
    std::FILE* file = openRegularFile(path, error);
    if (!file) return false;
    // Read until the end or one byte more than allowed, which tells a file
    // that is too large whatever its size claims (files under /proc say 0).
    // The buffer grows as the bytes come, so a large limit costs nothing
    // for a small file.
    std::string buffer;
    std::size_t got = 0;
    while (got <= limit) {
        const std::size_t room = std::min<std::size_t>(std::max<std::size_t>(got, 64 * 1024), limit + 1 - got);
        buffer.resize(got + room);
        const std::size_t read = std::fread(buffer.data() + got, 1, room, file);
        got += read;
        if (read < room) break;
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        setError(error, "reading failed");
        return false;
    }
    if (got > limit) {
        setError(error, "it is larger than " + std::to_string(limit) + " bytes");
        return false;
    }
    buffer.resize(got);
    bytes = std::move(buffer);
    return true;
}

LineRead readListLine(std::FILE* file, std::string& line, std::size_t limit) {
    line.clear();
    bool any = false, tooLong = false;
    int c;
    while ((c = std::fgetc(file)) != EOF) {
        any = true;
        if (c == '\n') break;
        if (tooLong) continue;
        // One byte over the limit is kept for a carriage return that may
        // belong to the line end.
        if (line.size() > limit) {
            tooLong = true;
            line.clear();
            continue;
        }
        line.push_back(static_cast<char>(c));
    }
    if (!any) return LineRead::End;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (tooLong || line.size() > limit) {
        line.clear();
        return LineRead::TooLong;
    }
    return LineRead::Line;
}

}  // namespace vexel
