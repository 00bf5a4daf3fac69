#include "cli/grid_run.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>

#include "calibration/points_file.h"
#include "document/vexel_doc.h"

namespace vexel::cli {

namespace {

std::string lowerExtension(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

bool readable(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return false;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::fclose(f);
    return true;
}

}  // namespace

int importInputs(CVexelDoc& doc, const std::vector<std::string>& inputs, std::string& error) {
    if (inputs.empty()) {
        error = "no input given";
        return EXIT_USAGE;
    }
    for (const std::string& input : inputs) {
        if (!readable(input)) {
            error = "cannot read " + input;
            return EXIT_USAGE;
        }
        if (lowerExtension(input) == ".vsq" && inputs.size() > 1) {
            error = "a video sequence (" + input + ") must be the only input";
            return EXIT_USAGE;
        }
    }

    std::vector<std::string> images;
    auto flushImages = [&] {
        if (!images.empty()) doc.ImportImageFiles(images);
        images.clear();
    };
    for (const std::string& input : inputs) {
        std::string ext = lowerExtension(input);
        if (ext == ".vsq") {
            if (!doc.ImportVsqFile(input)) {
                error = "cannot read the video sequence " + input;
                return EXIT_USAGE;
            }
        } else if (ext == ".iml") {
            flushImages();
            int before = doc.FrameCount();
            if (!doc.ImportImageList(input)) {
                error = "cannot read the image list " + input;
                return EXIT_USAGE;
            }
            if (doc.FrameCount() == before) {
                error = "the image list " + input + " names no readable file";
                return EXIT_USAGE;
            }
        } else {
            images.push_back(input);
        }
    }
    flushImages();
    if (doc.FrameCount() <= 0) {
        error = "the inputs hold no frame";
        return EXIT_USAGE;
    }
    doc.EnsureCurrentFrameLoaded();
    return EXIT_OK;
}

int framesWithGrid(CVexelDoc& doc) {
    int count = 0;
    for (int f = 0; f < doc.FrameCount(); ++f)
        if (doc.m_gridSet.getPointCount(f) >= MIN_FRAME_POINTS) ++count;
    return count;
}

nlohmann::json framesJson(CVexelDoc& doc) {
    nlohmann::json frames = nlohmann::json::array();
    const std::vector<std::string>& names = doc.FrameNames();
    for (int f = 0; f < doc.FrameCount(); ++f) {
        nlohmann::json frame;
        frame["index"] = f;
        frame["name"] = static_cast<std::size_t>(f) < names.size() ? names[f] : std::string();
        frame["points"] = doc.m_gridSet.getPointCount(f);
        double rms = doc.m_calibrationStats.valid ? doc.m_calibrationStats.frameError(f) : -1.0;
        frame["rms"] = rms >= 0 ? nlohmann::json(rms) : nlohmann::json(nullptr);
        frames.push_back(frame);
    }
    return frames;
}

std::string framesText(CVexelDoc& doc) {
    std::string out;
    const std::vector<std::string>& names = doc.FrameNames();
    for (int f = 0; f < doc.FrameCount(); ++f) {
        out += "frame " + std::to_string(f) + ": " + std::to_string(doc.m_gridSet.getPointCount(f)) + " points";
        if (static_cast<std::size_t>(f) < names.size()) out += ", " + names[f];
        out += '\n';
    }
    return out;
}

}  // namespace vexel::cli
