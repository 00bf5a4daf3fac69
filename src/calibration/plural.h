#pragma once
// Counts in the texts the user reads.

#include <string>

namespace vexel {

// "1 frame", "3 frames": the count and the word that goes with it.
inline std::string plural(int count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace vexel
