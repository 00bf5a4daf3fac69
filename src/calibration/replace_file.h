#pragma once
// Writes a whole file so that the target is either replaced completely or
// left as it was: the bytes go to a temporary file in the target's folder,
// which is renamed over the target only when every byte was written.

#include <string>

namespace vexel {

// Returns true when `path` now holds exactly `bytes`. On failure the target
// is untouched, no temporary file is left behind and `error` (when given)
// says what went wrong, naming the file.
bool replaceFileContents(const std::string& path, const std::string& bytes, std::string* error = nullptr);

}  // namespace vexel
