#pragma once
// The session file (.vexel): the whole working set as one JSON text, so that
// closing the program loses nothing and reopening shows everything at once,
// without searching the frames again. It holds where the frames come from
// (image files with paths relative to the session file, or one video
// sequence or video file), each frame's size and modification time, which
// frames are left out, the settings, what the search found in each frame
// (its points and grid cells, or why it has none) and the calibration with
// its figures and image size. The pixels are not in it: they are read from
// the frames' files again.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "calibration/calibration_record.h"
#include "calibration/calibration_stats.h"
#include "grid/grid_set.h"

class CVexelDoc;

// The newest version read. A session whose calibration has another lens
// model than the default is written as version 2, which readers of version
// 1 refuse rather than take its coefficients for the default model's; any
// other session is written as version 1.
constexpr int SESSION_VERSION = 2;
// The largest session file read; a session of a thousand frames takes a few
// tens of megabytes.
constexpr std::size_t SESSION_FILE_MAX = 512u * 1024u * 1024u;
// The most frames a session may hold.
constexpr int SESSION_FRAMES_MAX = 1000000;

// A file's size and modification time, to tell whether it changed since the
// session was saved (size -1: not known).
struct FileStamp {
    std::int64_t size = -1;
    std::int64_t modified = 0;
    bool operator==(const FileStamp&) const = default;
};

// The stamp of the file at `path`; size -1 when there is no such file.
FileStamp fileStamp(const std::string& path);

// One frame as the session keeps it.
struct SessionFrame {
    std::string name;  // image files: the path as written (relative to the session's folder or absolute)
    FileStamp stamp;   // image files only
    bool leftOut = false;
    bool searched = false;
    std::string failure;  // why a searched frame has no points ("not read", ...); empty otherwise
    int width = 0, height = 0;  // the size it was searched at
    std::vector<GridPoint> imagePoints, patternPoints;
    // The cells of its grid: their corners, and each cell as indices into them.
    std::vector<double> cornerX, cornerY;
    std::vector<std::vector<int>> cells;
};

struct SessionData {
    // Where the frames come from: "images", "vsq" (a video sequence file) or
    // "video" (a video file, with the numbers of the frames kept).
    std::string source = "images";
    std::string sourcePath;
    FileStamp sourceStamp;
    std::vector<int> sourceFrameNumbers;
    std::vector<SessionFrame> frames;
    int currentFrame = 0;
    bool refineCorners = false;
    double cellSizeMm = 0;
    bool showGrid = false;
    // How the next intrinsic calibration fits: the lens model, or chosen
    // from the views; whether the board's bend is estimated.
    LensModel lensModel = LensModel::OpenCv4;
    bool chooseLensModel = false;
    bool boardFlex = false;
    bool hasCalibration = false;
    CalibrationRecord record;
    CalibrationStats stats;
    int referenceFrame = -1;
};

// The session text: one JSON object, "format": "vexel session", "version".
// Numbers are written so that they read back to the same bits, whatever
// the numeric locale.
std::string formatSession(const SessionData& session);

// Reads a session text. False, with the problem in `error` ("line 3: ...",
// "frame 4: a cell names corner 17 of 12", "it was written by a newer
// version of the program"), when it is no session this program can read;
// `session` is then left as it was.
bool parseSession(std::string_view text, SessionData& session, std::string& error);

// The document's working set as a session whose file is in `folder` (frame
// paths are written relative to it where they can be).
SessionData captureSession(CVexelDoc& doc, const std::string& folder);
