// vexel-cli calibrate INPUT...: finds the grid in every frame, calibrates the
// camera from all frames and, with --reference, the pose of one frame; prints
// the calibration report and writes the files asked for.

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "document/calibration_commands.h"
#include "calibration/calibration_export.h"
#include "calibration/calibration_file.h"
#include "calibration/calibration_insight.h"
#include "calibration/calibration_quality.h"
#include "calibration/calibration_report.h"
#include "calibration/fixed_format.h"
#include "cli/cli_ui.h"
#include "cli/command_registry.h"
#include "cli/grid_run.h"
#include "cli/html_report.h"
#include "cli/json_text.h"
#include "cli/output_args.h"
#include "document/vexel_doc.h"

namespace vexel::cli {
namespace {

struct CalibrateArgs {
    std::vector<std::string> inputs;
    std::string points;
    std::string cal;
    std::string calForm = "labelled";
    int reference = -1;
    CLI::Option* referenceOption = nullptr;
    bool json = false;
    std::string opencvYaml;
    std::string rosYaml;
    std::string report;
    std::string mrcalCorners;
    std::string mrcalModel;
    std::string kalibrYaml;
    std::string colmapCameras;
    bool withPoints = false;
    std::string session;
    double cellMm = 0;
    std::string cameraName = "camera";
    std::string solver = "auto";
    std::string model = "opencv4";
    bool boardFlex = false;
    std::vector<int> leaveOut;
    ExtractionOptions extraction;
    InputOptions input;
    OutputArgs outputs;
};

// The quality section of the text output (the standard deviations are in
// the report lines already): every used frame's error and the frames that
// fit far worse than the rest.
void writeQuality(std::ostream& out, CVexelDoc& doc) {
    const CalibrationStats& stats = doc.Stats();
    const std::vector<std::string>& names = doc.FrameNames();
    auto name = [&](int f) { return static_cast<std::size_t>(f) < names.size() ? names[f] : std::string(); };
    out << "RMS reprojection error per frame (pixels):\n";
    for (std::size_t i = 0; i < stats.frames.size() && i < stats.perViewErrors.size(); ++i) {
        out << "  frame " << stats.frames[i] << ": " << formatFixed(stats.perViewErrors[i]) << ", "
            << (i < stats.pointCounts.size() ? stats.pointCounts[i] : 0) << " points, " << printableName(name(stats.frames[i]))
            << '\n';
    }
    std::vector<int> suspects = suspectFrames(stats);
    if (!suspects.empty()) {
        out << "Likely bad detections (error far above the other frames'):\n";
        for (int f : suspects) out << "  frame " << f << ": " << formatFixed(stats.frameError(f)) << " px, " << printableName(name(f)) << '\n';
    }
}


int calFormValue(const std::string& name) {
    if (name == "binary") return CAL_BINARY;
    if (name == "text") return CAL_TEXT;
    return CAL_LABELLED;
}

// The coverage figures against their marks, the verdict, and the
// projection uncertainty at the image's centre and corners.
void addInsightJson(nlohmann::json& out, const CalibrationInsight& insight) {
    const CoverageFigures& f = insight.coverage;
    out["coverage"] = {{"imageShare", f.imageShare},
                       {"zoneShares", f.zoneShares},
                       {"smallestTilt", f.smallestTilt},
                       {"largestTilt", f.largestTilt},
                       {"nearest", f.nearest},
                       {"farthest", f.farthest},
                       {"typicalDepth", f.typicalDepth},
                       {"goodEnough",
                        {{"imageShare", GOOD_IMAGE_SHARE},
                         {"zoneShare", GOOD_ZONE_SHARE},
                         {"largestTilt", GOOD_LARGEST_TILT},
                         {"distanceRatio", GOOD_DISTANCE_RATIO}}},
                       {"imageGood", insight.verdict.imageGood},
                       {"tiltGood", insight.verdict.tiltGood},
                       {"distanceGood", insight.verdict.distanceGood}};
    out["verdict"] = insight.verdict.line;
    out["verdictGood"] = insight.verdict.good();
    nlohmann::json uncertainty;
    uncertainty["depth"] = insight.uncertainty.empty() ? nlohmann::json() : nlohmann::json(insight.uncertainty.depth);
    const char* const keys[5] = {"centre", "topLeft", "topRight", "bottomLeft", "bottomRight"};
    for (std::size_t i = 0; i < 5; ++i) {
        const double v = insight.uncertaintyAtPoints[i];
        uncertainty[keys[i]] = std::isfinite(v) ? nlohmann::json(v) : nlohmann::json();
    }
    out["uncertainty"] = uncertainty;
}

nlohmann::json values(const CalibrationRecord& r, std::size_t first, std::size_t count) {
    nlohmann::json out = nlohmann::json::array();
    for (std::size_t i = 0; i < count; ++i) out.push_back(r.values[first + i]);
    return out;
}

int runCalibrate(const CalibrateArgs& a) {
    CliUi ui;
    ui.setQuiet(a.extraction.quiet);
    CVexelDoc doc(&ui);
    doc.SetGridStreams(nullptr, &std::cerr);
    auto fail = [&](const std::string& reason) { return reportFailure("calibrate", reason, EXIT_FAILED, a.json); };

    if (!a.rosYaml.empty() && !isValidUtf8(a.cameraName))
        return reportFailure("calibrate", "--camera-name is not UTF-8 text", EXIT_USAGE, a.json);
    InputOptions input = a.input;
    input.progress = !a.extraction.quiet;
    if (std::string problem = a.outputs.problem(a.inputs); !problem.empty())
        return reportFailure("calibrate", problem, EXIT_USAGE, a.json);
    if (a.json && a.outputs.writesStandardOutput())
        return reportFailure("calibrate", "--json and an output named - would both write to standard output",
                             EXIT_USAGE, a.json);
    // An export that cannot carry the chosen lens model is refused before any
    // work (with --model auto the model is known only at the end).
    if (LensModel model; a.model != "auto" && parseLensModelName(a.model, model)) {
        const std::pair<const std::string*, bool (*)(const ExportedCamera&, std::string&, std::string&)> exports[] = {
            {&a.mrcalModel, formatMrcalModel}, {&a.kalibrYaml, formatKalibrCamchain}};
        for (const auto& [path, format] : exports) {
            std::string reason;
            if (!path->empty() && !toolExportTakes(format, model, reason))
                return reportFailure("calibrate", "cannot write " + *path + ": " + reason, EXIT_USAGE, a.json);
        }
    }
    if (int status = importInputsOrReport("calibrate", doc, a.inputs, a.json, input); status != EXIT_OK) return status;
    // The files of the frames that image lists named are inputs too.
    if (std::string problem = a.outputs.problem(doc.FrameNames()); !problem.empty())
        return reportFailure("calibrate", problem, EXIT_USAGE, a.json);
    std::string error;
    bool withReference = a.referenceOption && a.referenceOption->count() > 0;
    if (withReference && (a.reference < 0 || a.reference >= doc.FrameCount())) {
        return reportFailure("calibrate",
                             "--reference " + std::to_string(a.reference) + " is not a frame (there are " +
                                 std::to_string(doc.FrameCount()) + ")",
                             EXIT_USAGE, a.json);
    }

    for (int frame : a.leaveOut) {
        if (!doc.SetFrameExcluded(frame, true))
            return reportFailure("calibrate",
                                 "--leave-out " + std::to_string(frame) + " is not a frame (there are " +
                                     std::to_string(doc.FrameCount()) + ")",
                                 EXIT_USAGE, a.json);
    }

    if (a.cellMm > 0) doc.SetCellSizeMm(a.cellMm);
    if (!runExtraction(doc, ui, a.extraction, error)) return reportFailure("calibrate", error, EXIT_USAGE, a.json);
    if (noFrameRead(doc)) return reportFailure("calibrate", noFrameReadText(doc), EXIT_USAGE, a.json);
    if (doc.FramesWithGrid() == 0) return fail("no frame with 4 or more points");
    IntrinsicOptions intrinsic;
    parseSolverName(a.solver, intrinsic.solver);
    intrinsic.chooseModel = a.model == "auto";
    parseLensModelName(a.model, intrinsic.model);
    intrinsic.boardFlex = a.boardFlex;
    if (a.boardFlex && intrinsic.solver == IntrinsicSolver::Library)
        return reportFailure("calibrate", "--board-flex needs the sparse solver (--solver auto or sparse)", EXIT_USAGE,
                             a.json);
    doc.OnIntrinsicCalibration(intrinsic);
    if (!doc.Calibration() || !doc.Stats().valid) return fail(ui.lastMessage());

    if (withReference) {
        ui.addReferenceFrameAnswer(a.reference);
        doc.OnExtrinsicCalibration();
        if (doc.Stats().extrinsicFrame != a.reference) return fail(ui.lastMessage());
    }

    const vexel::OutputOptions& output = a.outputs.options();
    if (!a.points.empty() && !SaveCorrespondencesFile(doc, a.points, &error, output)) return fail(error);
    if (!a.cal.empty() && !SaveCalibrationFile(doc, a.cal, calFormValue(a.calForm), &error, output))
        return fail(error);
    if (!a.opencvYaml.empty() &&
        !writeOpenCvYaml(a.opencvYaml, *doc.Calibration(), doc.Stats(), &error, output, doc.CellSizeMm()))
        return fail(error);
    if (!a.rosYaml.empty() &&
        !writeCameraInfoYaml(a.rosYaml, *doc.Calibration(), doc.Stats(), a.cameraName, &error, output))
        return fail(error);
    if (!a.mrcalCorners.empty() && !SaveMrcalCornersFile(doc, a.mrcalCorners, &error, output)) return fail(error);
    const ExportedCamera camera = exportedCamera(*doc.Calibration(), doc.Stats());
    if (!a.mrcalModel.empty() && !writeToolExport(a.mrcalModel, formatMrcalModel, camera, &error, output))
        return fail(error);
    if (!a.kalibrYaml.empty() && !writeToolExport(a.kalibrYaml, formatKalibrCamchain, camera, &error, output))
        return fail(error);
    if (!a.colmapCameras.empty() && !writeToolExport(a.colmapCameras, formatColmapCameras, camera, &error, output))
        return fail(error);
    if (!a.report.empty() && !writeCalibrationReport(a.report, doc, withReference, error, output)) return fail(error);

    if (!a.session.empty() && !doc.SaveSessionFile(a.session, &error)) return fail(error);

    const CalibrationRecord& r = *doc.Calibration();
    const CalibrationStats& stats = doc.Stats();
    if (a.json) {
        nlohmann::json out;
        out["frames"] = framesJson(doc, a.withPoints);
        for (int f = 0; f < doc.FrameCount(); ++f) out["frames"][static_cast<std::size_t>(f)]["leftOut"] = doc.FrameExcluded(f);
        out["framesUsed"] = stats.frames.size();
        out["framesOtherSize"] = stats.framesOtherSize;
        out["imageSize"] = {{"width", stats.imageSize.width}, {"height", stats.imageSize.height}};
        out["camera"] = {{"fx", r.fx()}, {"fy", r.fy()}, {"cx", r.cx()}, {"cy", r.cy()},
                         {"matrix", values(r, CalibrationRecord::CAMERA, 9)}};
        out["model"] = lensModelName(r.model);
        out["distortion"] = r.distortionCoefficients();
        out["rms"] = stats.rms;
        out["solver"] = stats.solver;
        nlohmann::json deviations;
        const std::vector<std::string> parameters = intrinsicParameterNames(r.model);
        for (std::size_t i = 0; i < parameters.size(); ++i) deviations[parameters[i]] = stats.stdDeviations[i];
        out["stdDev"] = deviations;
        if (!stats.modelChoice.empty()) {
            out["modelChoice"] = stats.modelChoice;
            nlohmann::json tried;
            for (const auto& [model, rms] : stats.modelCandidates)
                tried[lensModelName(model)] = rms >= 0 ? nlohmann::json(rms) : nlohmann::json(nullptr);
            out["modelRms"] = tried;
        }
        if (stats.flex.estimated) {
            out["boardFlex"] = {{"alongX", stats.flex.alongX}, {"alongY", stats.flex.alongY},
                                {"sdX", stats.flex.sdX},       {"sdY", stats.flex.sdY},
                                {"atCentre", stats.flex.atCentre()}};
            if (doc.CellSizeMm() > 0) out["boardFlex"]["atCentreMm"] = stats.flex.atCentre() * doc.CellSizeMm();
        }
        out["suspectFrames"] = suspectFrames(stats);
        out["rotation"] = values(r, CalibrationRecord::ROTATION, 9);
        out["translation"] = values(r, CalibrationRecord::TRANSLATION, 3);
        if (doc.CellSizeMm() > 0) {
            nlohmann::json millimetres = nlohmann::json::array();
            for (int i = 0; i < 3; ++i) millimetres.push_back(r.translation(i) * doc.CellSizeMm());
            out["translationMm"] = millimetres;
            out["cellSizeMm"] = doc.CellSizeMm();
        }
        out["poseFrame"] = stats.poseFrame;
        out["referenceFrame"] = withReference ? a.reference : -1;
        out["warnings"] = stats.warnings;
        if (stats.insight) addInsightJson(out, *stats.insight);
        std::cout << jsonText(out, 1) << '\n';
    } else {
        // An output written to standard output keeps it to itself.
        std::ostream& report = a.outputs.writesStandardOutput() ? std::cerr : std::cout;
        for (const std::string& line : calibrationReportLines(r, withReference)) report << line << '\n';
        for (const std::string& line : calibrationQualityLines(r, stats, doc.CellSizeMm())) report << line << '\n';
        report << "frames used = " << stats.frames.size() << " of " << doc.FrameCount() << " (" << stats.imageSize.width
               << " x " << stats.imageSize.height << "), pose of frame " << stats.poseFrame << '\n';
        report << "solver = " << stats.solver << '\n';
        writeQuality(report, doc);
        if (withReference)
            for (const std::string& line : poseUnitLines(r, doc.CellSizeMm())) report << line << '\n';
        if (stats.insight) {
            const std::vector<std::string> lines = insightLines(*stats.insight);
            report << "Coverage:\n";
            for (std::size_t i = 0; i + 1 < lines.size(); ++i) report << "  " << lines[i] << '\n';
            report << lines.back() << '\n';
        }
        for (const std::string& warning : stats.warnings) report << "Warning: " << warning << '\n';
    }
    return EXIT_OK;
}

CommandRun setupCalibrate(CLI::App& sub) {
    auto a = std::make_shared<CalibrateArgs>();
    sub.add_option("inputs", a->inputs,
                   "Image files or folders of them, image lists (.iml), - for an image list on standard input, one "
                   "video sequence (.vsq), one video file (.mp4, .avi, .mov, .mkv) or one session (.vexel)")
        ->required()
        ->type_name("INPUT");
    a->outputs.add(sub, "--points", a->points, "Write the correspondences to this .points file");
    a->outputs.add(sub, "--cal", a->cal, "Write the calibration to this .cal file");
    sub.add_option("--cal-form", a->calForm, "Form of the .cal file (default labelled)")
        ->check(CLI::IsMember({"labelled", "text", "binary"}));
    a->referenceOption =
        sub.add_option("--reference", a->reference, "Also compute the pose of this frame (counted from 0)");
    a->outputs.add(sub, "--opencv-yaml", a->opencvYaml,
                   "Write camera matrix, distortion and reprojection errors as an OpenCV FileStorage YAML file");
    a->outputs.add(sub, "--ros-yaml", a->rosYaml, "Write the camera model as a camera_info YAML file");
    a->outputs.add(sub, "--mrcal-corners", a->mrcalCorners,
                   "Write every frame's corners as mrcal's corner list (corners.vnl; a board of 10 x 11 corners)");
    a->outputs.add(sub, "--mrcal-model", a->mrcalModel, "Write the camera as an mrcal .cameramodel file");
    a->outputs.add(sub, "--kalibr-yaml", a->kalibrYaml, "Write the camera as a Kalibr camchain YAML file (cam0)");
    a->outputs.add(sub, "--colmap-cameras", a->colmapCameras, "Write the camera as COLMAP's cameras.txt");
    a->outputs.addInPlaceFlag(sub);
    a->outputs.add(sub, "--report", a->report,
                   "Write one self-contained HTML page with the parameters, warnings, per-frame errors, residual "
                   "plots, poses and the uncertainty map");
    sub.add_option("--camera-name", a->cameraName, "camera_name in the --ros-yaml file (default camera)")
        ->type_name("NAME");
    sub.add_option("--session", a->session,
                   "Write the session (frames, what was found in them, the calibration) to this .vexel file, which "
                   "the desktop program opens and calibrate reads back")
        ->type_name("FILE");
    sub.add_option("--cell-mm", a->cellMm,
                   "Side of one printed cell in millimetres: the pose's translation and the board's bend are given in "
                   "millimetres too, and the OpenCV YAML gets square_size")
        ->type_name("MM")
        ->check(CLI::Range(0.0, CVexelDoc::MAX_CELL_SIZE_MM));
    sub.add_option("--solver", a->solver,
                   "Intrinsic solver: library, sparse, or auto (default: the library's up to 40 frames, the sparse "
                   "solver above)")
        ->check(CLI::IsMember({"auto", "library", "sparse"}));
    sub.add_option("--model", a->model,
                   "Lens model: opencv4 (k1 k2 p1 p2, the default), opencv5 (+ k3), rational (k1 .. k6, p1, p2), "
                   "fisheye (equidistant, k1 .. k4), or auto (the simplest that fits)")
        ->check(CLI::IsMember({"opencv4", "opencv5", "rational", "fisheye", "auto"}));
    sub.add_flag("--board-flex", a->boardFlex,
                 "Also estimate how far the board bends out of its plane (with the sparse solver)");
    sub.add_option("--leave-out", a->leaveOut,
                   "Leave these frames (counted from 0) out of the calibrations; they are still searched")
        ->delimiter(',')
        ->type_name("FRAME,...");
    sub.add_flag("--json", a->json, "Print the results as one JSON object");
    sub.add_flag("--with-points", a->withPoints, "With --json, give every frame's correspondences too");
    addExtractionOptions(sub, a->extraction);
    addVideoOptions(sub, a->input);
    sub.footer(R"(DESCRIPTION
  Finds the pattern's grid in every frame, calibrates the camera from every
  frame with 4 or more points (focal lengths, principal point and the
  distortion coefficients of the lens model: by default two radial and two
  tangential) and, with --reference, computes the pose of that frame. Prints the calibration report, the RMS reprojection
  error, the standard deviations of fx, fy, cx, cy and the coefficients, the error
  of every frame used, and names the frames whose error is far above the
  rest (over 3 times the median and over 0.5 px) as likely bad detections,
  then how well the frames cover the image, the range of tilts and of
  distances, each against a mark that is good enough, the projection
  uncertainty at the centre and the worst corner, and a verdict line that
  says which pictures to add ("verdict: coverage good; tilt range small: add
  views tilted by 30-50 degrees; ..."),
  and says which solver ran: the vision library's, which solves one dense
  system and slows down with the cube of the frame count, or the sparse
  solver, which eliminates every frame's pose and takes seconds for
  hundreds of frames; both reach the same minimum.
  Of a video file only evenly spaced frames are kept (one in --every, or
  more apart so that at most --max-frames are kept), converted to grey.
  Only the frames of the image size most frames have take part. Warnings
  follow when fewer than 3 distinct views were used, when a standard
  deviation of fx, fy, cx or cy is over 1 % of fx, or when frames were left
  out for their size; when the lens model does not fit (RMS above 0.5 px, or
  residuals growing towards the image corners), naming a model that fits;
  and when the residuals show a bent board.
  --model auto fits every lens model and keeps the simplest (fewest
  parameters: opencv4, fisheye, opencv5, rational) whose RMS is within 5 %
  (plus 0.005 px) of the best; the report says which and why. A calibration
  with another model than opencv4 is written in the labelled .cal form only,
  whose first line is "m" and second the model's name. --board-flex
  estimates a parabolic bend of the board along each of its axes with the
  camera and reports how far its centre stands above its corners.
  A session (.vexel, saved by the desktop program or by
  --session) brings its frames, the frames left out and what was found in
  them: only frames not searched yet are searched. Frames named by --leave-out keep their points but take
  no part in either calibration. With --json everything goes out as one JSON object
  instead ("warnings", "imageSize", "framesOtherSize", and "poseFrame" for the
  frame the pose belongs to, "coverage" with the figures and their marks,
  "verdict", "verdictGood", and "uncertainty" in pixels at the centre and
  the four corners for a point at the boards' typical depth), and a failure
  as an object with "error". --report writes the same as an HTML page. Every
  file is replaced only once it is completely written; one that cannot be
  replaced safely (hard-linked, or in a folder that takes no new files) is
  refused unless --in-place is given. Any output named - goes to standard
  output; the report then goes to standard error, and --json is refused.
  Into other tools: --mrcal-corners writes every corner of the 10 x 11
  corner board for every frame, row by row from the top-left corner of the
  printed side, with level "-" (left out by mrcal) for a corner not found,
  so that partial views reach mrcal-calibrate-cameras (--object-width-n 10
  --object-height-n 11); --mrcal-model, --kalibr-yaml and --colmap-cameras
  write the camera in those tools' own files. --json --with-points adds
  every frame's correspondences.

EXIT STATUS
  0 calibrated; 1 no frame with 4 or more points, the calibration failed or a
  file or standard output could not be written; 2 bad arguments (an output
  with an empty name, naming an input or another output among them),
  unreadable inputs, no frame could be read or a frame could not be
  searched (out of memory, ...).

EXAMPLES
  vexel-cli calibrate views.iml --cal camera.cal --opencv-yaml camera.yml
  vexel-cli calibrate fisheye/*.jpg --model auto --ros-yaml camera_info.yaml
  vexel-cli calibrate shots/*.jpg --report report.html
  vexel-cli calibrate clip.mp4 --max-frames 200 --cal camera.cal
  vexel-cli calibrate photos/ --mrcal-corners corners.vnl --mrcal-model camera.cameramodel
  vexel-cli calibrate photos/ --cell-mm 25 --session photos.vexel
  vexel-cli calibrate photos.vexel --reference 3 --opencv-yaml camera.yml
  ls shots/*.jpg | vexel-cli calibrate - --reference 0 --ros-yaml camera_info.yaml --jobs 2)");
    return [a]() { return runCalibrate(*a); };
}

const CommandRegistration registration("calibrate", "Calibrate the camera from the pattern in the frames",
                                       setupCalibrate);

}  // namespace
}  // namespace vexel::cli
