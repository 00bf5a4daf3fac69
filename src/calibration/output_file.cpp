#include "calibration/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <vector>

namespace vexel {

namespace {

// Symbolic links followed before giving up, as the system itself does.
constexpr int MAX_LINK_HOPS = 40;
// Marks the temporary files of this program: ".NAME.vexel-PID-XXXXXX".
constexpr const char* TEMPORARY_MARK = ".vexel-";
// Bytes of the target's name kept in a temporary file's name, so that the
// longest names still leave room for the rest.
constexpr std::size_t TEMPORARY_NAME_PART = 160;

bool fail(std::string* error, const std::string& path, const std::string& what, int code = 0) {
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

// Syncs and closes `fd` (closed in every case); the errno of a failure, else
// 0. File systems that cannot sync (EINVAL, EROFS on some) are not a failure.
int syncAndClose(int fd, bool sync) {
    int code = 0;
    if (sync && ::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) code = errno;
    if (::close(fd) != 0 && code == 0) code = errno;
    return code;
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

std::filesystem::path folderOf(const std::string& target) {
    std::filesystem::path folder = std::filesystem::path(target).parent_path();
    return folder.empty() ? std::filesystem::path(".") : folder;
}

// The process that made a temporary file of this program named `name`, or
// 0 when the name is not one of them.
pid_t temporaryFileOwner(const std::string& name) {
    const std::size_t mark = name.rfind(TEMPORARY_MARK);
    if (name.empty() || name[0] != '.' || mark == std::string::npos) return 0;
    std::size_t i = mark + std::strlen(TEMPORARY_MARK);
    long long pid = 0;
    const std::size_t digits = i;
    for (; i < name.size() && name[i] >= '0' && name[i] <= '9' && i - digits < 10; ++i) pid = pid * 10 + (name[i] - '0');
    if (i == digits || i >= name.size() || name[i] != '-' || name.size() - i - 1 != 6) return 0;
    return static_cast<pid_t>(pid);
}

// Removes the temporary files that runs of this program, killed while they
// wrote, left in `folder`: ours by their name and owner, and the process
// that made them no longer runs.
void removeStaleTemporaries(const std::filesystem::path& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const pid_t owner = temporaryFileOwner(entry->d_name);
        if (owner <= 0 || owner == ::getpid()) continue;
        struct stat info {};
        if (::fstatat(dirFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode) ||
            info.st_uid != ::geteuid())
            continue;
        if (::kill(owner, 0) == 0 || errno != ESRCH) continue;
        ::unlinkat(dirFd, entry->d_name, 0);
    }
    ::closedir(dir);
}

// Writes into a target that is no regular file (a device, a FIFO): what it
// is stays what it is.
bool writeToSpecialFile(const std::string& target, const std::string& shown, const std::string& bytes,
                        std::string* error) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return fail(error, shown, "cannot open it for writing", errno);
    int code = writeAll(fd, bytes);
    const int closed = syncAndClose(fd, false);
    if (code == 0) code = closed;
    return code == 0 || fail(error, shown, "writing failed", code);
}

// The bytes go to a temporary file beside `target`, renamed over it once
// complete. `createError` gets the errno when the temporary file cannot be
// made (nothing else has happened then).
bool writeReplacing(const std::string& target, const std::string& shown, const std::string& bytes,
                    std::string* error, int& createError) {
    createError = 0;
    const std::filesystem::path folder = folderOf(target);
    removeStaleTemporaries(folder);
    const std::string name = std::filesystem::path(target).filename().string();
    std::string hidden(".");
    hidden.append(name, 0, TEMPORARY_NAME_PART);
    hidden += TEMPORARY_MARK;
    hidden += std::to_string(::getpid());
    hidden += "-XXXXXX";
    const std::string pattern = (folder / hidden).string();
    std::vector<char> temporary(pattern.begin(), pattern.end());
    temporary.push_back('\0');

    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        createError = errno;
        return fail(error, shown, "cannot create a temporary file in its folder", createError);
    }
    // A new file gets the permissions an ordinary create would give it; an
    // existing target keeps its own, and its owner where that is allowed.
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0) {
        ::fchmod(fd, existing.st_mode & 07777);
        if ((existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()) &&
            ::fchown(fd, existing.st_uid, existing.st_gid) != 0) {
            // Only a privileged writer can give the file away; it is then ours.
        }
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }
    int code = writeAll(fd, bytes);
    const int closed = syncAndClose(fd, code == 0);
    if (code == 0) code = closed;
    if (code != 0) {
        ::unlink(temporary.data());
        return fail(error, shown, "writing failed", code);
    }
    if (std::rename(temporary.data(), target.c_str()) != 0) {
        code = errno;
        ::unlink(temporary.data());
        return fail(error, shown, "cannot replace the file", code);
    }
    return true;
}

// Reads the whole regular file `path`; the errno of a failure, else 0.
int readAll(const std::string& path, std::string& bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return errno;
    bytes.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int code = errno;
            ::close(fd);
            return code;
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return 0;
}

// Overwrites `target` where it is; its old content waits in a .bak copy
// (beside it, or in the temporary folder when its folder takes no new
// files) until the new content is complete.
bool writeInPlace(const std::string& target, const std::string& shown, const std::string& bytes,
                  std::string* error) {
    std::string old;
    if (const int code = readAll(target, old); code != 0)
        return fail(error, shown, "cannot read it to keep a copy", code);
    struct stat info {};
    ::stat(target.c_str(), &info);

    std::string backup = target + ".bak";
    int fd = ::open(backup.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, info.st_mode & 0666);
    if (fd < 0 && errno == EEXIST)
        return fail(error, shown, backup + " already exists (a copy kept by an earlier write?); move it away first");
    if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
        std::error_code ec;
        const std::string pattern =
            (std::filesystem::temp_directory_path(ec) / (std::filesystem::path(target).filename().string().substr(
                                                             0, TEMPORARY_NAME_PART) +
                                                         ".XXXXXX.bak"))
                .string();
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        fd = ::mkostemps(name.data(), 4, O_CLOEXEC);
        if (fd >= 0) backup = name.data();
    }
    if (fd < 0) return fail(error, shown, "cannot keep a copy of it in " + backup, errno);
    int code = writeAll(fd, old);
    const int closed = syncAndClose(fd, code == 0);
    if (code == 0) code = closed;
    if (code != 0) {
        ::unlink(backup.c_str());
        return fail(error, shown, "cannot keep a copy of it in " + backup, code);
    }

    // O_TRUNC only once the copy is safe.
    fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        code = errno;
        ::unlink(backup.c_str());
        return fail(error, shown, "cannot open it for writing", code);
    }
    code = writeAll(fd, bytes);
    const int done = syncAndClose(fd, code == 0);
    if (code == 0) code = done;
    if (code == 0) {
        ::unlink(backup.c_str());
        return true;
    }
    // Put the old content back; the copy stays when that fails too.
    fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
    const bool restored = fd >= 0 && writeAll(fd, old) == 0 && syncAndClose(fd, true) == 0;
    if (fd >= 0 && !restored) ::close(fd);
    if (restored) {
        ::unlink(backup.c_str());
        return fail(error, shown, "writing failed, the old content was put back", code);
    }
    return fail(error, shown, "writing failed, the old content is in " + backup, code);
}

bool writeStandardOutput(const std::string& bytes, std::string* error) {
    // What the program printed through the C++ stream comes first.
    std::cout.flush();
    errno = 0;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() &&
                         std::fflush(stdout) == 0 && !std::ferror(stdout);
    return written || fail(error, "standard output", "writing failed", errno);
}

}  // namespace

bool writeOutputFile(const std::string& path, const std::string& bytes, std::string* error,
                     const OutputOptions& options) {
    if (path.empty()) return fail(error, "\"\"", "no file name");
    if (path == STANDARD_STREAM_NAME) return writeStandardOutput(bytes, error);

    struct stat info {};
    const bool exists = ::stat(path.c_str(), &info) == 0;
    if (exists && S_ISDIR(info.st_mode)) return fail(error, path, "it is a folder");
    // A device, a FIFO or standard output (/dev/stdout) is written to.
    if (exists && !S_ISREG(info.st_mode)) return writeToSpecialFile(path, path, bytes, error);
    // Through symbolic links the file they lead to is replaced; the links stay.
    const std::string target = followLinks(path);
    if (target.empty()) return fail(error, path, "too many levels of symbolic links", ELOOP);
    const char* const how =
        "; write it under another name, or overwrite it in place (vexel-cli --in-place), which keeps a .bak copy "
        "until the new file is complete";
    if (exists && info.st_nlink > 1) {
        // Replacing it would leave its other names with the old content.
        if (options.inPlace) return writeInPlace(target, path, bytes, error);
        return fail(error, path, std::string("it has other names (hard links), which replacing it would cut off") + how);
    }
    int createError = 0;
    if (writeReplacing(target, path, bytes, error, createError)) return true;
    const bool folderRefused = createError == EACCES || createError == EPERM || createError == EROFS;
    if (!folderRefused || !exists) return false;
    if (options.inPlace) return writeInPlace(target, path, bytes, error);
    return fail(error, path,
                std::string("its folder takes no new files (") + std::strerror(createError) +
                    "), so it cannot be replaced safely" + how);
}

bool closeStandardOutput(std::string* error) {
    // The first failure's errno is the reason; later calls may clear it.
    errno = 0;
    std::cout.flush();
    bool ok = static_cast<bool>(std::cout);
    int code = errno;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        ok = false;
        if (code == 0) code = errno;
    }
    if (std::fclose(stdout) != 0) {
        if (ok || code == 0) code = errno;
        ok = false;
    }
    // Nothing may reach the closed stream any more, not even the final
    // flush of the C++ stream.
    std::cout.setstate(std::ios::badbit);
    if (!ok && error) {
        *error = "cannot write to standard output";
        if (code != 0) *error += std::string(": ") + std::strerror(code);
    }
    return ok;
}

}  // namespace vexel
