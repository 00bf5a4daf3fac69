#pragma once
// Opening and reading input files without trusting what the name points at.
//
// A FIFO named as input blocks the reader until someone writes to it, and a
// device such as /dev/zero never ends. Every reader of user files therefore
// opens only regular files (checked before opening and again on the opened
// descriptor, which is opened without blocking) and bounds what it reads.

#include <cstddef>
#include <cstdio>
#include <string>

namespace vexel {

// The longest line of an image list; a name that long cannot be opened on
// this platform anyway.
constexpr std::size_t LIST_LINE_MAX = 4096;

// Opens `path` for reading in binary mode when it names a regular file.
// Otherwise null, with the reason (without the file's name) in `error`:
// "it is a folder", "it is not a regular file" or the system's message.
std::FILE* openRegularFile(const std::string& path, std::string* error = nullptr);

// Whether `path` names a regular file that can be opened for reading.
bool isReadableRegularFile(const std::string& path);

// Reads the whole regular file at `path` into `bytes` when it holds at most
// `limit` bytes. False, with the reason in `error`, when it cannot be opened,
// is larger or a read fails; `bytes` is then empty.
bool readRegularFile(const std::string& path, std::size_t limit, std::string& bytes, std::string* error = nullptr);

enum class LineRead { Line, TooLong, End };

// Reads the next line: a line feed ends it, a carriage return before the
// line feed (or at the end of a last line without one) is dropped. A line of
// more than `limit` bytes is read to its end but not kept (TooLong, `line`
// empty). End when the file ends before any byte of a new line.
LineRead readListLine(std::FILE* file, std::string& line, std::size_t limit = LIST_LINE_MAX);

}  // namespace vexel
