#include "cli/output_args.h"

#include <sys/stat.h>

#include <filesystem>

#include <CLI/CLI.hpp>

namespace vexel::cli {

namespace {

// What a name stands for, to tell whether two names lead to one file: the
// file itself when it exists (links, hard links and other spellings lead
// there), else the normalised path it would be made at.
struct FileIdentity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string path;

    bool operator==(const FileIdentity& other) const {
        if (exists != other.exists) return false;
        return exists ? device == other.device && inode == other.inode : path == other.path;
    }
};

FileIdentity identify(const std::string& name) {
    FileIdentity identity;
    if (name == vexel::STANDARD_STREAM_NAME) {
        identity.path = name;
        return identity;
    }
    struct stat info {};
    if (::stat(name.c_str(), &info) == 0) {
        identity.exists = true;
        identity.device = info.st_dev;
        identity.inode = info.st_ino;
        return identity;
    }
    std::error_code ec;
    const std::filesystem::path normal = std::filesystem::weakly_canonical(std::filesystem::absolute(name, ec), ec);
    identity.path = ec ? name : normal.string();
    return identity;
}

}  // namespace

CLI::Option* OutputArgs::add(CLI::App& sub, const std::string& name, std::string& path,
                             const std::string& description) {
    CLI::Option* option = sub.add_option(name, path, description)->type_name("FILE");
    m_outputs.push_back({name, option, &path});
    return option;
}

void OutputArgs::addInPlaceFlag(CLI::App& sub) {
    sub.add_flag("--in-place", m_options.inPlace,
                 "Overwrite outputs that cannot be replaced safely (hard-linked, or in a folder that takes no new "
                 "files) where they are, keeping a .bak copy until the new file is complete");
}

std::string OutputArgs::problem(const std::vector<std::string>& inputs) const {
    std::vector<std::pair<const Output*, FileIdentity>> given;
    for (const Output& output : m_outputs) {
        if (output.option->count() == 0) continue;
        if (output.path->empty()) return output.name + ": the file name is empty";
        given.emplace_back(&output, identify(*output.path));
    }
    for (std::size_t i = 0; i < given.size(); ++i)
        for (std::size_t j = 0; j < i; ++j)
            if (given[i].second == given[j].second)
                return given[j].first->name + " and " + given[i].first->name +
                       (*given[i].first->path == vexel::STANDARD_STREAM_NAME
                            ? std::string(" both write to standard output (-)")
                            : " name the same file (" + *given[i].first->path + ")");
    // Only a file that exists can be an input.
    bool anyExists = false;
    for (const auto& output : given) anyExists |= output.second.exists;
    if (!anyExists) return {};
    for (const std::string& input : inputs) {
        struct stat info {};
        if (input == vexel::STANDARD_STREAM_NAME || ::stat(input.c_str(), &info) != 0) continue;
        for (const auto& [output, outputIdentity] : given)
            if (outputIdentity.exists && outputIdentity.device == info.st_dev && outputIdentity.inode == info.st_ino)
                return output->name + " " + *output->path + " is an input (" + input + "); it would be overwritten";
    }
    return {};
}

bool OutputArgs::writesStandardOutput() const {
    for (const Output& output : m_outputs)
        if (output.option->count() > 0 && *output.path == vexel::STANDARD_STREAM_NAME) return true;
    return false;
}

}  // namespace vexel::cli
