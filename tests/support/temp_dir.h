#pragma once
// A scratch folder of the tests' own and the one way they read a file back.

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace vexel::test {

// A fresh, empty folder under the system's temporary folder, named after
// `prefix`, the process and a running number (so tests run at once never
// share one), removed with everything in it when the object goes.
class TempDir {
public:
    explicit TempDir(const std::string& prefix) {
        static std::atomic<int> serial{0};
        m_path = std::filesystem::temp_directory_path() /
                 (prefix + "_" + std::to_string(::getpid()) + "_" + std::to_string(serial++));
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    operator const std::filesystem::path&() const { return m_path; }
    std::filesystem::path operator/(const std::filesystem::path& name) const { return m_path / name; }
    std::string string() const { return m_path.string(); }

private:
    std::filesystem::path m_path;
};

// The whole file as bytes; empty when it cannot be read.
inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace vexel::test

using vexel::test::readFile;
using vexel::test::TempDir;
