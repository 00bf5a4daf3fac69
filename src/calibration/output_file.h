#pragma once
// Every output file of the program is written here, so that an output is
// either replaced completely or left as it was, and every failure is seen.
//
// The bytes go to a temporary file in the target's folder, which is renamed
// over the target only once every byte was written and synced; the
// temporary file is named ".NAME.vexel-PID-XXXXXX" after the target and the
// writing process, so a later write into the same folder removes what a
// killed run left there. Through symbolic links the file they end at is
// replaced; a target that is no regular file (a device, a FIFO) is written
// to as it is. Where replacing is impossible without losing something (the
// folder takes no new files, or the target has other names through hard
// links), the write is refused with the reason and the way out, unless
// `inPlace` is set: the target is then overwritten where it is, its old
// content first copied to NAME.bak, which is removed once the new content is
// complete (and kept, named in the error, when it is not).
//
// The name "-" stands for standard output: the bytes are written there and
// flushed, and a failed write is reported like any other.

#include <string>

namespace vexel {

// The name that stands for standard output, as input and as output.
constexpr const char* STANDARD_STREAM_NAME = "-";

struct OutputOptions {
    // Overwrite targets that cannot be replaced (see above), keeping a .bak
    // copy until the new content is complete.
    bool inPlace = false;
};

// Writes `bytes` as the whole content of the output `path`. True when the
// output now holds exactly `bytes`. On failure the target is as it was
// (with `inPlace`, as it was or restored from its .bak copy), no temporary
// file is left behind, and `error` (when given) says what went wrong and
// names the file.
bool writeOutputFile(const std::string& path, const std::string& bytes, std::string* error = nullptr,
                     const OutputOptions& options = {});

// Flushes and closes standard output, for the end of a command. False, with
// the reason in `error`, when anything written to it was lost (a full disk,
// a closed pipe, /dev/full).
bool closeStandardOutput(std::string* error = nullptr);

}  // namespace vexel
