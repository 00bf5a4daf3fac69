#include "document/plugin_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>
#include <vector>

// The modules folder relative to the programs' folder and to the Python
// module's folder, set by the build.
#ifndef VEXEL_MODULES_FROM_PROGRAMS
#define VEXEL_MODULES_FROM_PROGRAMS "../lib/vexel"
#endif
#ifndef VEXEL_MODULES_FROM_PYTHON
#define VEXEL_MODULES_FROM_PYTHON VEXEL_MODULES_FROM_PROGRAMS
#endif

namespace vexel {

namespace {

namespace fs = std::filesystem;

// The folders of the running program and of the shared object that holds
// this code (the same file unless it is the Python module).
std::vector<fs::path> ownFolders() {
    std::vector<fs::path> folders;
    std::error_code ec;
    const fs::path program = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) folders.push_back(program.parent_path());
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&pluginSymbol), &info) && info.dli_fname && info.dli_fname[0] == '/') {
        const fs::path object = fs::canonical(info.dli_fname, ec);
        if (!ec && (folders.empty() || object.parent_path() != folders.front()))
            folders.push_back(object.parent_path());
    }
    return folders;
}

std::mutex& modulesMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

void* pluginSymbol(const char* module, const char* symbol, std::string& error) {
    std::lock_guard<std::mutex> lock(modulesMutex());
    static std::map<std::string, void*> handles;
    const std::string file = std::string("vexel-") + module + ".so";
    void*& handle = handles[module];
    if (!handle) {
        std::string reasons;
        for (const fs::path& folder : ownFolders()) {
            for (const char* relative : {VEXEL_MODULES_FROM_PROGRAMS, VEXEL_MODULES_FROM_PYTHON}) {
                const fs::path candidate = (folder / relative / file).lexically_normal();
                std::error_code ec;
                if (!fs::is_regular_file(candidate, ec)) continue;
                handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
                if (handle) break;
                const char* why = dlerror();
                reasons = why ? why : candidate.string() + ": cannot be loaded";
            }
            if (handle) break;
        }
        if (!handle) {
            error = reasons.empty() ? "the program's module " + file + " is not installed" : reasons;
            return nullptr;
        }
    }
    dlerror();
    void* address = dlsym(handle, symbol);
    if (!address) error = "the program's module " + file + " lacks " + symbol;
    return address;
}

}  // namespace vexel
