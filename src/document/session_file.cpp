#include "document/session_file.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <system_error>

#include <nlohmann/json.hpp>

#include "document/grid_commands.h"
#include "document/vexel_doc.h"
#include "geomlib/g_node.h"
#include "grid/grid_element.h"

using nlohmann::json;
// Written in the order the keys are set, so that the file reads from the top.
using ordered = nlohmann::ordered_json;
namespace fs = std::filesystem;

namespace {

const char* const FORMAT_NAME = "vexel session";
const char* const SOURCES[] = {"images", "vsq", "video"};
const char* const FAILURES[] = {"not read", "no board found", "markers do not fit the grid"};
// A cell of the grid has four corners; a few more are allowed for cells a
// later program may keep.
constexpr std::size_t CELL_CORNERS_MAX = 8;

ordered stampJson(const FileStamp& stamp) { return ordered{{"size", stamp.size}, {"modified", stamp.modified}}; }

ordered frameJson(const SessionFrame& frame) {
    ordered out;
    if (!frame.name.empty()) out["name"] = frame.name;
    if (frame.stamp.size >= 0) out["file"] = stampJson(frame.stamp);
    if (frame.leftOut) out["leftOut"] = true;
    out["searched"] = frame.searched;
    if (!frame.searched) return out;
    out["size"] = {frame.width, frame.height};
    if (!frame.failure.empty()) out["failure"] = frame.failure;
    ordered points = ordered::array();
    for (std::size_t i = 0; i < frame.imagePoints.size(); ++i)
        points.push_back({static_cast<double>(frame.imagePoints[i].x), static_cast<double>(frame.imagePoints[i].y),
                          static_cast<double>(frame.patternPoints[i].x), static_cast<double>(frame.patternPoints[i].y)});
    out["points"] = std::move(points);
    ordered corners = ordered::array();
    for (std::size_t i = 0; i < frame.cornerX.size(); ++i) corners.push_back({frame.cornerX[i], frame.cornerY[i]});
    out["corners"] = std::move(corners);
    out["cells"] = frame.cells;
    return out;
}

ordered calibrationJson(const SessionData& session) {
    const CalibrationStats& stats = session.stats;
    ordered out;
    out["record"] = session.record.values;
    const LensModel model = session.record.model;
    const int coefficients = lensCoefficientCount(model);
    if (model != LensModel::OpenCv4) {
        // The record holds the first four coefficients; the others follow.
        out["lensModel"] = lensModelName(model);
        out["moreDistortion"] = std::vector<double>(session.record.moreDistortion.begin(),
                                                    session.record.moreDistortion.begin() + (coefficients - 4));
    }
    out["imageSize"] = {stats.imageSize.width, stats.imageSize.height};
    out["referenceFrame"] = session.referenceFrame;
    ordered figures;
    figures["valid"] = stats.valid;
    figures["frames"] = stats.frames;
    figures["pointCounts"] = stats.pointCounts;
    figures["perViewErrors"] = stats.perViewErrors;
    figures["rms"] = stats.rms;
    figures["framesOtherSize"] = stats.framesOtherSize;
    figures["stdDeviations"] = std::vector<double>(stats.stdDeviations.begin(),
                                                   stats.stdDeviations.begin() + 4 + coefficients);
    figures["solver"] = stats.solver;
    if (!stats.modelChoice.empty()) figures["modelChoice"] = stats.modelChoice;
    if (stats.flex.estimated)
        figures["boardFlex"] = {stats.flex.alongX, stats.flex.alongY, stats.flex.sdX, stats.flex.sdY};
    figures["distinctViews"] = stats.distinctViews;
    figures["warnings"] = stats.warnings;
    figures["extrinsicFrame"] = stats.extrinsicFrame;
    figures["extrinsicRms"] = stats.extrinsicRms;
    figures["poseFrame"] = stats.poseFrame;
    out["figures"] = std::move(figures);
    return out;
}

// --- reading -------------------------------------------------------------

// Thrown for a session that cannot be read; the text says why.
struct Refused {
    std::string why;
};

[[noreturn]] void refuse(const std::string& why) { throw Refused{why}; }

const json& member(const json& object, const char* key, const std::string& where) {
    const auto it = object.find(key);
    if (it == object.end()) refuse(where + "\"" + key + "\" is missing");
    return *it;
}

const json* optional(const json& object, const char* key) {
    const auto it = object.find(key);
    return it == object.end() || it->is_null() ? nullptr : &*it;
}

double number(const json& value, const std::string& what) {
    if (!value.is_number()) refuse(what + " is not a number");
    const double x = value.get<double>();
    if (!std::isfinite(x)) refuse(what + " is not a finite number");
    return x;
}

std::int64_t integer(const json& value, const std::string& what, std::int64_t least, std::int64_t most) {
    if (!value.is_number_integer()) refuse(what + " is not a whole number");
    const std::int64_t x = value.is_number_unsigned() && value.get<std::uint64_t>() > INT64_MAX
                               ? INT64_MAX
                               : value.get<std::int64_t>();
    if (x < least || x > most)
        refuse(what + " is " + std::to_string(x) + ", outside " + std::to_string(least) + " to " +
               std::to_string(most));
    return x;
}

int index(const json& value, const std::string& what, int least, int most) {
    return static_cast<int>(integer(value, what, least, most));
}

bool flag(const json& value, const std::string& what) {
    if (!value.is_boolean()) refuse(what + " is not true or false");
    return value.get<bool>();
}

std::string text(const json& value, const std::string& what) {
    if (!value.is_string()) refuse(what + " is not a text");
    return value.get<std::string>();
}

const json& array(const json& value, const std::string& what) {
    if (!value.is_array()) refuse(what + " is not a list");
    return value;
}

const json& object(const json& value, const std::string& what) {
    if (!value.is_object()) refuse(what + " is not an object");
    return value;
}

template <std::size_t N>
std::string oneOf(const std::string& value, const char* const (&names)[N], const std::string& what) {
    for (const char* name : names)
        if (value == name) return value;
    refuse(what + " \"" + value + "\" is unknown");
}

FileStamp readStamp(const json& value, const std::string& what) {
    object(value, what);
    FileStamp stamp;
    stamp.size = integer(member(value, "size", what + ": "), what + " size", 0, INT64_MAX);
    stamp.modified = integer(member(value, "modified", what + ": "), what + " time", INT64_MIN, INT64_MAX);
    return stamp;
}

SessionFrame readFrame(const json& value, const std::string& where) {
    object(value, where);
    const std::string at = where + ": ";
    SessionFrame frame;
    if (const json* name = optional(value, "name")) frame.name = text(*name, at + "the name");
    if (const json* stamp = optional(value, "file")) frame.stamp = readStamp(*stamp, at + "the file");
    if (const json* leftOut = optional(value, "leftOut")) frame.leftOut = flag(*leftOut, at + "leftOut");
    frame.searched = flag(member(value, "searched", at), at + "searched");
    if (!frame.searched) return frame;

    const json& size = array(member(value, "size", at), at + "the size");
    if (size.size() != 2) refuse(at + "the size is not a width and a height");
    frame.width = index(size[0], at + "the width", 0, 1 << 20);
    frame.height = index(size[1], at + "the height", 0, 1 << 20);
    if (const json* failure = optional(value, "failure"))
        frame.failure = oneOf(text(*failure, at + "the failure"), FAILURES, at + "the failure");

    const json& points = array(member(value, "points", at), at + "the points");
    if (points.size() > static_cast<std::size_t>(GRID_POINTS_PER_FRAME))
        refuse(at + "more than " + std::to_string(GRID_POINTS_PER_FRAME) + " points");
    if (!points.empty() && !frame.failure.empty()) refuse(at + "a frame with points has a failure");
    for (const json& point : points) {
        if (!point.is_array() || point.size() != 4) refuse(at + "a point is not four numbers");
        const auto f = [&](int i) { return static_cast<float>(number(point[static_cast<std::size_t>(i)], at + "a point")); };
        frame.imagePoints.push_back({f(0), f(1)});
        frame.patternPoints.push_back({f(2), f(3)});
    }
    const json& corners = array(member(value, "corners", at), at + "the corners");
    for (const json& corner : corners) {
        if (!corner.is_array() || corner.size() != 2) refuse(at + "a corner is not two numbers");
        frame.cornerX.push_back(number(corner[0], at + "a corner"));
        frame.cornerY.push_back(number(corner[1], at + "a corner"));
    }
    const int cornerCount = static_cast<int>(frame.cornerX.size());
    for (const json& cell : array(member(value, "cells", at), at + "the cells")) {
        if (!cell.is_array() || cell.size() < 3 || cell.size() > CELL_CORNERS_MAX)
            refuse(at + "a cell is not a list of 3 to " + std::to_string(CELL_CORNERS_MAX) + " corners");
        std::vector<int> indices;
        for (const json& i : cell) {
            indices.push_back(index(i, at + "a cell's corner", 0, cornerCount - 1));
            if (std::count(indices.begin(), indices.end() - 1, indices.back()) > 0)
                refuse(at + "a cell names one corner twice");
        }
        frame.cells.push_back(std::move(indices));
    }
    return frame;
}

std::vector<int> frameList(const json& value, const std::string& what, int frames) {
    std::vector<int> list;
    for (const json& f : array(value, what)) list.push_back(index(f, what, 0, frames - 1));
    return list;
}

template <typename T, typename Read>
std::vector<T> listOf(const json& value, const std::string& what, Read read) {
    std::vector<T> list;
    for (const json& item : array(value, what)) list.push_back(read(item));
    return list;
}

void readCalibration(const json& value, SessionData& session) {
    object(value, "the calibration");
    const std::string at = "the calibration: ";
    const int frames = static_cast<int>(session.frames.size());
    const json& record = array(member(value, "record", at), at + "the record");
    if (record.size() != CalibrationRecord::SIZE)
        refuse(at + "the record holds " + std::to_string(record.size()) + " numbers, not " +
               std::to_string(CalibrationRecord::SIZE));
    for (std::size_t i = 0; i < CalibrationRecord::SIZE; ++i)
        session.record.values[i] = number(record[i], at + "record value " + std::to_string(i));
    if (!(session.record.fx() > 0 && session.record.fy() > 0)) refuse(at + "fx or fy is not above 0");
    if (const json* model = optional(value, "lensModel")) {
        const std::string name = text(*model, at + "the lens model");
        if (!parseLensModelName(name, session.record.model)) refuse(at + "unknown lens model \"" + name + "\"");
        const int more = lensCoefficientCount(session.record.model) - 4;
        const json& coefficients = array(member(value, "moreDistortion", at), at + "moreDistortion");
        if (coefficients.size() != static_cast<std::size_t>(more))
            refuse(at + "the " + name + " model has " + std::to_string(more + 4) + " coefficients, not " +
                   std::to_string(coefficients.size() + 4));
        for (int i = 0; i < more; ++i)
            session.record.moreDistortion[static_cast<std::size_t>(i)] =
                number(coefficients[static_cast<std::size_t>(i)], at + "a coefficient");
    }
    const std::size_t parameters = 4 + static_cast<std::size_t>(lensCoefficientCount(session.record.model));
    const json& size = array(member(value, "imageSize", at), at + "the image size");
    if (size.size() != 2) refuse(at + "the image size is not a width and a height");
    CalibrationStats& stats = session.stats;
    stats.imageSize.width = index(size[0], at + "the image width", 0, 1 << 20);
    stats.imageSize.height = index(size[1], at + "the image height", 0, 1 << 20);
    session.referenceFrame = index(member(value, "referenceFrame", at), at + "the reference frame", -1, frames - 1);

    const json& figures = object(member(value, "figures", at), at + "the figures");
    const std::string in = at + "figures: ";
    stats.valid = flag(member(figures, "valid", in), in + "valid");
    stats.frames = frameList(member(figures, "frames", in), in + "a frame", frames);
    stats.pointCounts = listOf<int>(member(figures, "pointCounts", in), in + "the point counts",
                                    [&](const json& n) { return index(n, in + "a point count", 0, GRID_POINTS_PER_FRAME); });
    stats.perViewErrors = listOf<double>(member(figures, "perViewErrors", in), in + "the errors",
                                         [&](const json& e) { return number(e, in + "an error"); });
    if (stats.pointCounts.size() != stats.frames.size() || stats.perViewErrors.size() != stats.frames.size())
        refuse(in + "the frames, their point counts and their errors differ in number");
    stats.rms = number(member(figures, "rms", in), in + "the RMS error");
    stats.framesOtherSize = index(member(figures, "framesOtherSize", in), in + "framesOtherSize", 0, frames);
    const json& deviations = array(member(figures, "stdDeviations", in), in + "the deviations");
    if (deviations.size() != parameters)
        refuse(in + "the deviations are not " + std::to_string(parameters) + " numbers");
    for (std::size_t i = 0; i < parameters; ++i) stats.stdDeviations[i] = number(deviations[i], in + "a deviation");
    stats.solver = text(member(figures, "solver", in), in + "the solver");
    if (const json* choice = optional(figures, "modelChoice")) stats.modelChoice = text(*choice, in + "modelChoice");
    if (const json* flex = optional(figures, "boardFlex")) {
        const json& bend = array(*flex, in + "boardFlex");
        if (bend.size() != 4) refuse(in + "boardFlex is not 4 numbers");
        stats.flex.estimated = true;
        stats.flex.alongX = number(bend[0], in + "boardFlex");
        stats.flex.alongY = number(bend[1], in + "boardFlex");
        stats.flex.sdX = number(bend[2], in + "boardFlex");
        stats.flex.sdY = number(bend[3], in + "boardFlex");
    }
    stats.distinctViews = index(member(figures, "distinctViews", in), in + "distinctViews", 0, frames);
    stats.warnings = listOf<std::string>(member(figures, "warnings", in), in + "the warnings",
                                         [&](const json& w) { return text(w, in + "a warning"); });
    stats.extrinsicFrame = index(member(figures, "extrinsicFrame", in), in + "extrinsicFrame", -1, frames - 1);
    stats.extrinsicRms = number(member(figures, "extrinsicRms", in), in + "extrinsicRms");
    stats.poseFrame = index(member(figures, "poseFrame", in), in + "poseFrame", -1, frames - 1);
    session.hasCalibration = true;
}

void readSession(const json& root, SessionData& session) {
    object(root, "the file");
    if (!root.contains("format") || root["format"] != FORMAT_NAME) refuse("it is not a session file");
    const int version = index(member(root, "version", ""), "the version", 1, INT32_MAX);
    if (version > SESSION_VERSION)
        refuse("it was written by a newer version of the program (session version " + std::to_string(version) + ")");

    const json& source = object(member(root, "source", ""), "the source");
    session.source = oneOf(text(member(source, "kind", "the source: "), "the source"), SOURCES, "the source");
    if (session.source != "images") {
        session.sourcePath = text(member(source, "path", "the source: "), "the source's path");
        if (const json* stamp = optional(source, "file")) session.sourceStamp = readStamp(*stamp, "the source's file");
    }
    if (const json* numbers = optional(source, "frameNumbers"))
        session.sourceFrameNumbers = listOf<int>(*numbers, "the source's frame numbers",
                                                 [](const json& n) { return index(n, "a frame number", 0, INT32_MAX); });

    const json& frames = array(member(root, "frames", ""), "the frames");
    if (frames.size() > static_cast<std::size_t>(SESSION_FRAMES_MAX))
        refuse("more than " + std::to_string(SESSION_FRAMES_MAX) + " frames");
    for (std::size_t f = 0; f < frames.size(); ++f) {
        session.frames.push_back(readFrame(frames[f], "frame " + std::to_string(f)));
        if (session.source == "images" && session.frames.back().name.empty())
            refuse("frame " + std::to_string(f) + ": an image frame has no name");
    }
    const int count = static_cast<int>(session.frames.size());
    if (session.source == "video" && session.sourceFrameNumbers.size() != session.frames.size())
        refuse("the video's frame numbers and the frames differ in number");
    session.currentFrame = index(member(root, "currentFrame", ""), "the current frame", 0, std::max(count - 1, 0));

    const json& settings = object(member(root, "settings", ""), "the settings");
    session.refineCorners = flag(member(settings, "refineCorners", "the settings: "), "refineCorners");
    session.cellSizeMm = number(member(settings, "cellSizeMm", "the settings: "), "the cell size");
    if (!(session.cellSizeMm >= 0 && session.cellSizeMm <= CVexelDoc::MAX_CELL_SIZE_MM))
        refuse("the cell size is outside 0 to " + std::to_string(static_cast<int>(CVexelDoc::MAX_CELL_SIZE_MM)) + " mm");
    session.showGrid = flag(member(settings, "showGrid", "the settings: "), "showGrid");
    // Sessions of earlier versions fit the default model on a flat board.
    if (const json* model = optional(settings, "lensModel")) {
        const std::string name = text(*model, "the lens model setting");
        session.chooseLensModel = name == "auto";
        if (!session.chooseLensModel && !parseLensModelName(name, session.lensModel))
            refuse("the settings: unknown lens model \"" + name + "\"");
    }
    if (const json* flex = optional(settings, "boardFlex")) session.boardFlex = flag(*flex, "boardFlex");
    if (const json* calibration = optional(root, "calibration")) readCalibration(*calibration, session);
}

// `path` written relative to `folder` when it lies below it or beside it;
// otherwise absolute.
std::string relativeName(const std::string& path, const fs::path& folder) {
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    if (error) return path;
    const fs::path relative = absolute.lexically_normal().lexically_relative(folder);
    return relative.empty() ? absolute.lexically_normal().generic_string() : relative.generic_string();
}

// The cells of grid frame `frame` that are in its grid, with their corners.
void captureCells(const GridSet& grid, int frame, SessionFrame& out) {
    std::map<const g_node*, int> corners;
    const int count = grid.getCellCount(frame);
    for (int i = 0; i < count; ++i) {
        GridElement* cell = grid.getCell(frame, i);
        if (!cell || !cell->inGrid) continue;
        g_container<g_node*>& nodes = cell->nodes();
        std::vector<int> indices;
        for (std::uint32_t k = 0; k < nodes.numberOfItems(); ++k) {
            const g_node* node = nodes.item(k);
            auto [it, added] = corners.emplace(node, static_cast<int>(out.cornerX.size()));
            if (added) {
                const g_vector p = node->getCoordinates();
                out.cornerX.push_back(p.x);
                out.cornerY.push_back(p.y);
            }
            indices.push_back(it->second);
        }
        if (indices.size() >= 3) out.cells.push_back(std::move(indices));
    }
}

}  // namespace

FileStamp fileStamp(const std::string& path) {
    FileStamp stamp;
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error || !fs::is_regular_file(status)) return stamp;
    const auto size = fs::file_size(path, error);
    if (error) return stamp;
    const auto modified = fs::last_write_time(path, error);
    if (error) return stamp;
    stamp.size = static_cast<std::int64_t>(size);
    stamp.modified = static_cast<std::int64_t>(modified.time_since_epoch().count());
    return stamp;
}

std::string formatSession(const SessionData& session) {
    ordered root;
    root["format"] = FORMAT_NAME;
    root["version"] = session.hasCalibration && session.record.model != LensModel::OpenCv4 ? 2 : 1;
    ordered source{{"kind", session.source}};
    if (session.source != "images") {
        source["path"] = session.sourcePath;
        if (session.sourceStamp.size >= 0) source["file"] = stampJson(session.sourceStamp);
    }
    if (!session.sourceFrameNumbers.empty()) source["frameNumbers"] = session.sourceFrameNumbers;
    root["source"] = std::move(source);
    root["currentFrame"] = session.currentFrame;
    root["settings"] = {{"refineCorners", session.refineCorners},
                        {"cellSizeMm", session.cellSizeMm},
                        {"showGrid", session.showGrid},
                        {"lensModel", session.chooseLensModel ? "auto" : lensModelName(session.lensModel)},
                        {"boardFlex", session.boardFlex}};
    root["calibration"] = session.hasCalibration ? calibrationJson(session) : ordered(nullptr);
    // One line per frame, so that the file stays readable and diffs well.
    // Texts that are not UTF-8 cannot be held by JSON; SaveSessionFile
    // refuses frame names of that kind before it gets here.
    const auto replace = ordered::error_handler_t::replace;
    std::string out = root.dump(1, ' ', false, replace);
    out.erase(out.size() - 2);  // the closing "\n}"
    out += ",\n \"frames\": [";
    for (std::size_t f = 0; f < session.frames.size(); ++f)
        out += (f == 0 ? "\n  " : ",\n  ") + frameJson(session.frames[f]).dump(-1, ' ', false, replace);
    out += session.frames.empty() ? "]\n}\n" : "\n ]\n}\n";
    return out;
}

bool parseSession(std::string_view text, SessionData& session, std::string& error) {
    json root;
    try {
        root = json::parse(text.begin(), text.end());
    } catch (const json::exception& e) {
        // "[json.exception.parse_error.101] parse error at line 3, column 5: ...";
        // a number beyond a double's range ("1E+888") is an out_of_range error.
        const std::string what = e.what();
        std::size_t at = what.find("at line");
        if (at == std::string::npos) at = what.find("] ") == std::string::npos ? 0 : what.find("] ") + 2;
        error = "it is not JSON text (" + what.substr(at) + ")";
        return false;
    }
    SessionData read;
    try {
        readSession(root, read);
    } catch (const Refused& refused) {
        error = refused.why;
        return false;
    } catch (const json::exception& e) {
        error = std::string("it cannot be read (") + e.what() + ")";
        return false;
    }
    session = std::move(read);
    return true;
}

SessionData captureSession(CVexelDoc& doc, const std::string& folder) {
    SessionData session;
    std::error_code error;
    const fs::path base = fs::absolute(folder.empty() ? fs::path(".") : fs::path(folder), error).lexically_normal();
    if (const VideoSequence* sequence = doc.Sequence()) {
        const std::string& path = sequence->SourcePath();
        session.source = vexel::isVideoFileName(path) ? "video" : "vsq";
        session.sourcePath = relativeName(path, base);
        session.sourceStamp = fileStamp(path);
        if (session.source == "video") session.sourceFrameNumbers = sequence->SourceFrameNumbers();
    }
    const int count = doc.FrameCount();
    const GridSet& grid = doc.Grids();
    for (int f = 0; f < count; ++f) {
        SessionFrame frame;
        if (!doc.InSequenceMode()) {
            const std::string name = doc.FrameName(f);
            frame.name = relativeName(name, base);
            frame.stamp = fileStamp(name);
        }
        frame.leftOut = doc.FrameExcluded(f);
        const FrameGrid& status = doc.GridOf(f);
        frame.searched = status.searched;
        if (frame.searched) {
            frame.width = status.size.width;
            frame.height = status.size.height;
            if (status.pointCount <= 0) frame.failure = gridFailureText(status.failure);
            for (int j = 0; j < status.pointCount; ++j) {
                GridPoint image{}, pattern{};
                if (!grid.getImagePoint(f, j, image) || !grid.getPatternPoint(f, j, pattern)) break;
                frame.imagePoints.push_back(image);
                frame.patternPoints.push_back(pattern);
            }
            captureCells(grid, f, frame);
        }
        session.frames.push_back(std::move(frame));
    }
    session.currentFrame = count > 0 ? doc.CurrentFrame() : 0;
    session.refineCorners = doc.RefineCorners();
    session.cellSizeMm = doc.CellSizeMm();
    session.showGrid = doc.ShowGrid();
    session.lensModel = doc.LensModelSetting();
    session.chooseLensModel = doc.ChooseLensModel();
    session.boardFlex = doc.BoardFlexOn();
    if (doc.Calibration()) {
        session.hasCalibration = true;
        session.record = *doc.Calibration();
        session.stats = doc.Stats();
        session.referenceFrame = doc.ReferenceFrame();
    }
    return session;
}
