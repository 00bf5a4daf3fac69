#pragma once
// The rendered reference frames of tests/data/frames: their names, their
// expected pipeline results and true corner positions (JSON), the frame image,
// and a helper that puts the expected corners into a grid record so that a
// later stage can be tested from exactly the corners the reference started from.

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <nlohmann/json.hpp>

#include <fstream>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "grid/corner_mesh.h"
#include "grid/frame_image.h"
#include "grid/grid_set.h"

namespace vexel::test {

// The four rendered views, in a fixed order.
inline const std::vector<std::string>& vectorFrameNames() {
    static const std::vector<std::string> names{"frontal", "steep", "tilted", "upside_down"};
    return names;
}

// Full path of tests/data/frames/<name><suffix>, e.g. ("frontal", ".pgm").
inline std::string vectorFramePath(const std::string& name, const std::string& suffix) {
    return std::string(VEXEL_TEST_DATA_DIR) + "/frames/" + name + suffix;
}

inline nlohmann::json loadJsonFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error(path + ": cannot open file");
    try {
        return nlohmann::json::parse(in);
    } catch (const nlohmann::json::exception& e) {
        throw std::runtime_error(path + ": not valid JSON: " + e.what());
    }
}

// What the full pipeline produced for the frame: "corners", "triangles",
// "candidateCount", "cells", "markers", "correspondences", ...
inline nlohmann::json loadExpected(const std::string& name) {
    return loadJsonFile(vectorFramePath(name, ".expected.json"));
}

// The true camera, pose and the true image position of every pattern corner.
inline nlohmann::json loadTruth(const std::string& name) {
    return loadJsonFile(vectorFramePath(name, ".truth.json"));
}

// The frame as an 8-bit grey frame image (rows padded to 4 bytes).
inline cv::Mat loadFrameImage(const std::string& name) {
    const std::string path = vectorFramePath(name, ".pgm");
    cv::Mat grey = cv::imread(path, cv::IMREAD_GRAYSCALE);
    if (grey.empty()) throw std::runtime_error(path + ": cannot read image");
    return toFrameImage(grey);
}

// Makes `set` one frame of 200 points (as the pipeline does) holding the
// expected corners (each coordinate narrowed to float, which is exact for
// the stored values) and triangulates them; `diagnostics` gets what the
// triangulation reports.
inline void triangulateExpectedCorners(GridSet& set, const nlohmann::json& expected, std::ostream& diagnostics) {
    set.allocate(1, 200);
    const nlohmann::json& corners = expected.at("corners");
    if (corners.size() > static_cast<size_t>(set.maxPoints))
        throw std::runtime_error("triangulateExpectedCorners: more corners than point slots");
    FrameGrid& record = set.frames[0];
    for (size_t k = 0; k < corners.size(); ++k) {
        GridPoint& slot = record.imagePoints[k];
        slot.x = static_cast<float>(corners[k].at(0).get<double>());
        slot.y = static_cast<float>(corners[k].at(1).get<double>());
    }
    record.pointCount = static_cast<int>(corners.size());
    triangulateCorners(set, 0, diagnostics);
}

// The node lists (0-based node positions) of the expected "triangles" or
// "cells" entries, in their stored order.
inline std::vector<std::vector<int>> expectedNodeLists(const nlohmann::json& expected, const std::string& key) {
    std::vector<std::vector<int>> lists;
    for (const auto& entry : expected.at(key)) lists.push_back(entry.at("nodes").get<std::vector<int>>());
    return lists;
}

}  // namespace vexel::test
