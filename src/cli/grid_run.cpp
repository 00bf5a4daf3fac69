#include "cli/grid_run.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <thread>

#include <CLI/CLI.hpp>

#include "calibration/name_text.h"
#include "cli/cli_ui.h"
#include "cli/json_text.h"
#include "cli/progress_bar.h"
#include "document/grid_commands.h"
#include "calibration/regular_file.h"
#include "document/vexel_doc.h"
#include "document/video_file.h"

namespace vexel::cli {

namespace {

std::string lowerExtension(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

constexpr const char* STDIN_NAME = "-";

// The image list on standard input, read as a list file is: one path per
// line, a carriage return before the line feed dropped, empty lines skipped,
// lines too long for a path and names that are no readable file left out.
// `skipped` counts those.
std::vector<std::string> readStdinList(int& skipped) {
    std::vector<std::string> names;
    skipped = 0;
    std::string line;
    for (LineRead read; (read = readListLine(stdin, line)) != LineRead::End;) {
        if (read == LineRead::Line && line.empty()) continue;
        if (read == LineRead::Line && isReadableRegularFile(line))
            names.push_back(line);
        else
            ++skipped;
    }
    return names;
}

}  // namespace

int defaultJobs() {
    unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? static_cast<int>(cores) : 1;
}

void addVideoOptions(CLI::App& sub, InputOptions& options) {
    sub.add_option("--every", options.video.every, "Of a video file keep one frame in N (default 1; a larger step when --max-frames needs one)")
        ->type_name("N")
        ->check(CLI::Range(1, 1000000));
    sub.add_option("--max-frames", options.video.maxFrames,
                   "Of a video file keep at most M frames, evenly spaced from the first (default " +
                       std::to_string(vexel::VideoImportOptions{}.maxFrames) + ")")
        ->type_name("M")
        ->check(CLI::Range(1, VideoSequence::MAX_FILE_FRAMES));
}

void addExtractionOptions(CLI::App& sub, ExtractionOptions& options) {
    options.jobs = defaultJobs();
    sub.add_option("-j,--jobs", options.jobs, "Extract frames on N threads (default: the number of cores)")
        ->type_name("N")
        ->check(CLI::Range(1, 1024));
    sub.add_flag("-q,--quiet", options.quiet,
                 "Nothing on standard error but errors: no progress bar, no status lines, no frame's diagnostics");
    sub.add_flag("--refine", options.refine, "Refine the labelled corners once more (Calibration > Refine Corners)");
}

bool runExtraction(CVexelDoc& doc, CliUi& ui, const ExtractionOptions& options, std::string& error) {
    ui.setProgressBar(!options.quiet && ProgressBar::stderrIsTerminal());
    // A session keeps what was found in its frames, unless they were
    // searched with the other Refine Corners setting; --refine switches it on.
    const bool fromSession = !doc.SessionPath().empty();
    const bool refine = options.refine || (fromSession && doc.RefineCorners());
    if (refine != doc.RefineCorners()) doc.ForgetGrids();
    doc.SetRefineCorners(refine);
    // A frame's own messages (labels not trusted, ...) are diagnostics here.
    if (options.quiet) doc.SetGridStreams(doc.Diagnostics(), nullptr);
    doc.SetExtractionThreads(options.jobs);
    GridSearch search;
    search.threads = options.jobs;
    search.everyFrame = !fromSession;
    search.statusPerFrame = false;
    // A frame that could not be searched (a broken geometry check, an
    // exhausted resource) ends this command with a message naming it; it is
    // never counted as a frame without a board.
    const GridSearchResult result = doc.SearchGrids(search);
    if (result.failure) {
        error = "grid extraction failed: " + searchFailureText(doc, result);
        return false;
    }
    ui.showStatus(extractionSummary(doc));
    return true;
}

int importInputs(CVexelDoc& doc, const std::vector<std::string>& inputs, std::string& error,
                 const InputOptions& options) {
    // Every frame is decoded by the extraction itself; the cache need hold
    // only the current one.
    doc.SetLookAhead(false);
    if (inputs.empty()) {
        error = "no input given";
        return EXIT_USAGE;
    }
    int stdinLists = 0;
    for (const std::string& input : inputs) {
        if (input == STDIN_NAME) {
            if (++stdinLists > 1) {
                error = "standard input (-) can be read only once";
                return EXIT_USAGE;
            }
            continue;
        }
        // A folder stands for the image files in it.
        std::error_code folderError;
        if (std::filesystem::is_directory(input, folderError)) continue;
        std::string why;
        std::FILE* file = openRegularFile(input, &why);
        if (!file) {
            error = "cannot read " + input + ": " + why;
            return EXIT_USAGE;
        }
        std::fclose(file);
        if (lowerExtension(input) == ".vsq" && inputs.size() > 1) {
            error = "a video sequence (" + input + ") must be the only input";
            return EXIT_USAGE;
        }
        if (isVideoFileName(input) && inputs.size() > 1) {
            error = "a video file (" + input + ") must be the only input";
            return EXIT_USAGE;
        }
        if (lowerExtension(input) == ".vexel" && inputs.size() > 1) {
            error = "a session (" + input + ") must be the only input";
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
        if (input == STDIN_NAME) {
            int skipped = 0;
            std::vector<std::string> names = readStdinList(skipped);
            if (names.empty()) {
                error = "the image list on standard input names no readable file";
                if (skipped > 0) error += " (" + std::to_string(skipped) + " names could not be opened)";
                return EXIT_USAGE;
            }
            images.insert(images.end(), names.begin(), names.end());
        } else if (ext == ".vexel") {
            std::string why;
            if (!doc.OpenSessionFile(input, &why)) {
                error = "cannot open the session " + input + ": " + why;
                return EXIT_USAGE;
            }
        } else if (ext == ".vsq") {
            if (!doc.ImportVsqFile(input)) {
                error = "cannot read the video sequence " + input;
                return EXIT_USAGE;
            }
        } else if (isVideoFileName(input)) {
            ProgressBar bar(std::cerr, options.progress && ProgressBar::stderrIsTerminal());
            // Without an announced count the bar shows the frames decoded.
            std::string why;
            const bool imported = doc.ImportVideoFile(
                input, options.video,
                [&](int decoded, int expected) {
                    bar.update(decoded, std::max(expected, decoded));
                    return true;
                },
                &why);
            bar.finish();
            if (!imported) {
                error = "cannot import the video " + input + ": " + why;
                return EXIT_USAGE;
            }
        } else if (ext == ".iml") {
            flushImages();
            // The list itself was readable above: a list that imports
            // nothing names no file that can be opened.
            if (!doc.ImportImageList(input)) {
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

int reportFailure(const char* command, const std::string& reason, int status, bool json) {
    // The reason is one line, though it may name a file whose name holds a
    // line feed.
    std::cerr << "vexel-cli " << command << ": " << printableName(reason) << '\n';
    if (json) std::cout << jsonText(nlohmann::json{{"error", reason}}, 1) << '\n';
    return status;
}

int importInputsOrReport(const char* command, CVexelDoc& doc, const std::vector<std::string>& inputs, bool json,
                         const InputOptions& options) {
    std::string error;
    const int status = importInputs(doc, inputs, error, options);
    return status == EXIT_OK ? status : reportFailure(command, error, status, json);
}

bool noFrameRead(CVexelDoc& doc) {
    for (int f = 0; f < doc.FrameCount(); ++f)
        if (doc.GridOf(f).failure != GridFailure::NotRead) return false;
    return true;
}

std::string noFrameReadText(CVexelDoc& doc) {
    constexpr int NAMED = 3;
    std::string text = "no frame could be read (";
    const int count = doc.FrameCount();
    for (int f = 0; f < count && f < NAMED; ++f)
        text += (f > 0 ? "; " : "") + doc.FrameName(f) + ": " + doc.GridOf(f).unreadReason;
    if (count > NAMED) text += "; " + std::to_string(count - NAMED) + " more";
    return text + ")";
}

nlohmann::json framesJson(CVexelDoc& doc, bool withPoints) {
    nlohmann::json frames = nlohmann::json::array();
    const std::vector<std::string>& names = doc.FrameNames();
    for (int f = 0; f < doc.FrameCount(); ++f) {
        nlohmann::json frame;
        frame["index"] = f;
        frame["name"] = static_cast<std::size_t>(f) < names.size() ? names[f] : std::string();
        const FrameGrid& grid = doc.GridOf(f);
        frame["points"] = grid.pointCount;
        frame["failure"] = grid.failure == GridFailure::None ? nlohmann::json(nullptr)
                                                             : nlohmann::json(frameFailureText(grid));
        double rms = doc.Stats().valid ? doc.Stats().frameError(f) : -1.0;
        frame["rms"] = rms >= 0 ? nlohmann::json(rms) : nlohmann::json(nullptr);
        if (withPoints) {
            nlohmann::json points = nlohmann::json::array();
            const std::size_t count = std::min({static_cast<std::size_t>(std::max(grid.pointCount, 0)),
                                                grid.imagePoints.size(), grid.patternPoints.size()});
            for (std::size_t j = 0; j < count; ++j) {
                const GridPoint& image = grid.imagePoints[j];
                const GridPoint& board = grid.patternPoints[j];
                points.push_back({{"image", {image.x, image.y}},
                                  {"board", {board.x, board.y, 0.0}},
                                  {"label", {std::lround(board.x), std::lround(board.y)}}});
            }
            frame["correspondences"] = points;
        }
        frames.push_back(frame);
    }
    return frames;
}

std::string framesText(CVexelDoc& doc) {
    std::string out;
    const std::vector<std::string>& names = doc.FrameNames();
    for (int f = 0; f < doc.FrameCount(); ++f) {
        const FrameGrid& grid = doc.GridOf(f);
        out += "frame " + std::to_string(f) + ": " + std::to_string(grid.pointCount) + " points";
        if (grid.failure != GridFailure::None) out += " (" + frameFailureText(grid) + ")";
        if (static_cast<std::size_t>(f) < names.size()) out += ", " + printableName(names[f]);
        out += '\n';
    }
    return out;
}

}  // namespace vexel::cli
