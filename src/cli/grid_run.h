#pragma once
// What the extract and calibrate subcommands share: loading the inputs into
// a document and describing its frames.

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "document/video_file.h"

class CVexelDoc;

namespace CLI {
class App;
}

namespace vexel::cli {

class CliUi;

// Exit statuses of the two subcommands.
constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;  // the work could not be done
constexpr int EXIT_USAGE = 2;   // bad arguments or unreadable inputs

// How the inputs are read: which frames of a video are kept, and whether a
// progress bar is drawn while one is decoded (on standard error when it is a
// terminal).
struct InputOptions {
    vexel::VideoImportOptions video;
    bool progress = false;
};

// Declares --every and --max-frames on `sub`.
void addVideoOptions(CLI::App& sub, InputOptions& options);

// Loads the inputs in the order given: image files (consecutive ones in one
// import), image lists (.iml), "-" for an image list read from standard input
// (relative names resolve against the working folder; at most once), a
// single video sequence (.vsq), a single video file (.mp4, .avi, .mov,
// .mkv) or a session (.vexel); any of the last three must be the only input. Returns EXIT_OK, or
// EXIT_USAGE with a one-line reason in `error`.
int importInputs(CVexelDoc& doc, const std::vector<std::string>& inputs, std::string& error,
                 const InputOptions& options = {});

// Reports a failure of the subcommand `command`: "vexel-cli COMMAND: reason"
// on standard error and, with `json`, the object {"error": reason} on
// standard output. Returns `status`.
int reportFailure(const char* command, const std::string& reason, int status, bool json = false);

// importInputs for the subcommand `command`: a failure is reported with
// reportFailure. Returns the exit status.
int importInputsOrReport(const char* command, CVexelDoc& doc, const std::vector<std::string>& inputs,
                         bool json = false, const InputOptions& options = {});

// How the frames are extracted: on how many threads, and whether progress
// and status lines are shown.
struct ExtractionOptions {
    int jobs = 1;
    bool quiet = false;
    bool refine = false;  // the document's Refine Corners setting
};

// The number of cores (at least 1).
int defaultJobs();

// Declares --jobs, --quiet and --refine on `sub`, `options.jobs` defaulting to the
// number of cores.
void addExtractionOptions(CLI::App& sub, ExtractionOptions& options);

// Extracts every frame of the document on `options.jobs` threads, with a
// progress bar on standard error when it is a terminal and not quiet, and
// reports the outcome through `ui`. False, with a one-line reason in
// `error`, when the extraction failed.
bool runExtraction(CVexelDoc& doc, CliUi& ui, const ExtractionOptions& options, std::string& error);

// Whether no frame could be decoded by the extraction (every frame "not read").
bool noFrameRead(CVexelDoc& doc);

// "no frame could be read (NAME: why; ...)", naming the first few frames.
std::string noFrameReadText(CVexelDoc& doc);

// [{"index", "name", "points", "failure", "rms"}]: failure says why a
// frame has no points ("not read", "no board found", "markers do not fit the
// grid"; null when it has points), rms is from the last intrinsic
// calibration (null for frames it did not use). With `withPoints` every
// frame also gets "correspondences": [{"image": [x, y], "board": [x, y, 0],
// "label": [i, j]}], the board position in cells and the corner's integer
// label, as the Python module gives them.
nlohmann::json framesJson(CVexelDoc& doc, bool withPoints = false);

// One line per frame: index, point count (and why there are none) and name.
std::string framesText(CVexelDoc& doc);

}  // namespace vexel::cli
