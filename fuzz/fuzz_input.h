#pragma once
// What every fuzz target shares: the readers take file names, so each input
// is written to a file in a folder of the fuzzing process's own, removed
// when the process ends.

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace vexel::fuzz {

// The process's own folder, made on first use. Its name is never freed, so
// the exit handler that removes the folder can still read it.
inline const std::string& inputFolder() {
    static const std::string* const folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "vexel-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        auto* name = new std::string(pattern);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(inputFolder(), ignored);
        });
        return name;
    }();
    return *folder;
}

// Writes `size` bytes to the file `name` in the folder and returns its path.
inline std::string writeInput(const std::uint8_t* data, std::size_t size, const std::string& name) {
    const std::string path = inputFolder() + "/" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    if (std::fclose(file) != 0) std::abort();
    return path;
}

// Stops the run on a broken promise of the reader, so the input is kept.
inline void require(bool condition) {
    if (!condition) __builtin_trap();
}

}  // namespace vexel::fuzz
