#pragma once
// Writes a whole file so that the target is either replaced completely or
// left as it was: the bytes go to a temporary file in the target's folder,
// which is renamed over the target only when every byte was written.
//
// What the name leads to is kept: through symbolic links the file they end
// at is replaced, and the bytes are written into the existing file itself,
// without the atomic replacement, when it is no regular file (a device, a
// FIFO, standard output), has other names (hard links), or sits in a folder
// that takes no new files while the file itself is writable.

#include <string>

namespace vexel {

// Returns true when `path` now holds exactly `bytes`. On failure no temporary
// file is left behind, the target is untouched (unless it was being written
// in place) and `error` (when given) says what went wrong, naming the file.
bool replaceFileContents(const std::string& path, const std::string& bytes, std::string* error = nullptr);

}  // namespace vexel
