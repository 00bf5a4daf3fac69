#pragma once
// The one document: the frame list and which frame is on screen, the
// nine-slot frame cache with its lock and loader thread, the video sequence
// when frames come from a sequence file, the grid found in every frame, the
// calibration record and the display flags. Every command is one member
// function here; the user is reached only through DocumentUi.
//
// Threads: one thread at a time runs the commands (the desktop program runs
// the long ones on a worker); at most one loader pass runs beside it. While
// a command runs, other threads may use only the queries that take m_lock
// (the frame's size, CopyFrameBytes, CurrentFrameLocked). m_lock guards the
// cache slots, the current frame, the frame list while it grows and the grid
// set while it is written to a file. The loader holds m_lock for its whole
// pass and writes only the slots.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/core/mat.hpp>

#include "calibration/calibration_record.h"
#include "calibration/calibration_stats.h"
#include "calibration/camera_calibration.h"
#include "calibration/output_file.h"
#include "document/document_ui.h"
#include "document/grid_commands.h"
#include "document/video_file.h"
#include "document/video_sequence.h"
#include "grid/grid_set.h"

// One cache slot: the frame index (-1 when empty) and its decoded frame image
// (8-bit, one channel, rows padded to 4 bytes; empty when the slot is empty).
struct FrameSlot {
    int frame = -1;
    cv::Mat image;
    bool holdsImage() const { return !image.empty(); }
};

// The image files (by their extension: .jpg, .jpeg, .png, .bmp and the
// netpbm ones) directly in `folder`, sorted by name with runs of digits
// compared by their value ("IMG_2" before "IMG_10").
std::vector<std::string> imageFilesInFolder(const std::string& folder);
// That order of names.
bool naturalLess(const std::string& a, const std::string& b);

class CVexelDoc {
public:
    static constexpr int SLOT_COUNT = 9;
    static constexpr int REACH = 4;
    static constexpr int START_SLOT = 4;

    // Decodes one image file into a frame image; an empty Mat means failure,
    // with the reason ("truncated JPEG") in `*why` when it is given. Running
    // out of memory is thrown (std::bad_alloc): it says nothing of the file.
    using FrameDecoder = std::function<cv::Mat(const std::string& path, std::string* why)>;
    // One that gives no reasons.
    using PlainFrameDecoder = std::function<cv::Mat(const std::string& path)>;

    explicit CVexelDoc(DocumentUi* ui);
    ~CVexelDoc();
    CVexelDoc(const CVexelDoc&) = delete;
    CVexelDoc& operator=(const CVexelDoc&) = delete;

    // New: deletes the calibration and the sequence, clears the cache,
    // empties the frame list and forgets everything found in its frames (the
    // grids, the overlay flag, the reference frame). Frame 0 is current
    // again and the title is "Vexel".
    void OnNewDocument();
    // Before the working set is thrown away (New, Exit, closing the window,
    // Open Session): when the session changed since it was last saved or
    // opened (SessionModified), asks whether to save it first; without
    // frames, when the calibration changed since it was last saved or
    // loaded, asks whether to save that. True when the caller may go on
    // (saved, discarded, or nothing to save); false when the user cancelled
    // or the save did not happen.
    bool ConfirmClose();

    // --- commands ---------------------------------------------------------
    void OnImportImages();
    void OnImportImageSequence();
    void OnImportVsq();
    // Import Video: the default options, progress in the status message.
    void OnImportVideo();
    void OnFrameForward();
    void OnFrameBack();
    // Implemented with the calibration and grid commands.
    void OnLoadCalibration();
    void OnSaveCalibration();
    // Export Calibration in format `format` (calibrationExportFormats()):
    // asks for the file name, then writes the calibration.
    void OnExportCalibration(int format);
    void OnSaveCorrespondences();
    void OnGrid();
    // Extract Grid(s): searches every frame anew; the grid overlay is
    // switched on when any point was found.
    void OnExtractGrids();
    // Refine Corners: switches m_refineCorners. The frames already searched
    // were searched with the other setting, so every frame counts as not
    // searched again; with the overlay on they are searched at once.
    void OnRefineCorners();
    // The options choose the solver, the lens model and when it stops.
    void OnIntrinsicCalibration(const IntrinsicOptions& options);
    // Intrinsic Calibration from the menu: with IntrinsicSettings().
    void OnIntrinsicCalibration();
    // Calibration > Lens Model: the model the next intrinsic calibration
    // fits, or (OnLensModelAuto) the one it chooses from the views. Then the
    // title-and-views step.
    void OnLensModel(LensModel model);
    void OnLensModelAuto();
    // Calibration > Board Flex: switches m_boardFlex.
    void OnBoardFlex();
    // The options Intrinsic Calibration from the menu uses: the lens model
    // and board flex as chosen, the solver picked by the view count.
    IntrinsicOptions IntrinsicSettings() const;
    void OnExtrinsicCalibration();
    // Cell Size: the printed board's cell side in millimetres (0 clears
    // it), then the title-and-views step. A value that is not a finite
    // number from 0 to MAX_CELL_SIZE_MM changes nothing and is reported.
    void OnCellSize(double millimetres);
    static constexpr double MAX_CELL_SIZE_MM = 10000;

    // --- non-dialog entry points (the On... handlers end up here) ---------
    // Appends the paths to the frame list (a loaded sequence and its names are
    // dropped first) and starts a loader pass. A folder stands for the image
    // files in it (imageFilesInFolder); a folder without any is reported in
    // the status message. False when there is nothing to append.
    bool ImportImageFiles(const std::vector<std::string>& paths);
    // The same with every path taken as a file's (no folder is opened).
    bool AppendImageFiles(const std::vector<std::string>& paths);
    // Appends every name of the image-list file whose file can be opened.
    // Relative names resolve against the list file's folder. False, with a
    // status message and nothing changed (a loaded sequence stays), when the
    // list cannot be read or names no file that can be opened.
    bool ImportImageList(const std::string& path);
    // Replaces the working set with the sequence in `path`. The sequence is
    // read and checked first; a file that cannot be read leaves everything as
    // it was and is reported in the status message. A file cut short gives
    // the frames it holds whole, an empty one no frames, each with a status
    // message. Returns whether it loaded.
    bool ImportVsqFile(const std::string& path);
    // Replaces the working set with frames of the video file `path` (a
    // sequence of 8-bit grey frames, see video_file.h for which are kept).
    // The whole video is decoded first, with the wait cursor and `progress`
    // (by default the frame being decoded in the status message); a file
    // that is not a video, holds no frame or cannot be held, and a cancelled
    // import, leave everything as it was. The status message names the file
    // and says how many frames were kept of how many, or what went wrong;
    // `why`, when given, gets the problem alone.
    bool ImportVideoFile(const std::string& path, const vexel::VideoImportOptions& options = {},
                         const vexel::VideoProgress& progress = {}, std::string* why = nullptr);

    // Title text of the main window, then every view repaints. Waits for the
    // loader first when the current frame is pending.
    void UpdateTitleAndViews();
    // The title text UpdateTitleAndViews would set now (empty: leave as is).
    std::string TitleText();

    // --- frame movement and the cache -------------------------------------
    void StepForward();
    void StepBack();
    // Walks the shorter way round to frame `target`; does not start the loader.
    void GoToFrame(int target);
    // Waits for the running pass, then starts a new one (not in sequence mode).
    void StartLoader();
    // Waits for the running or last pass to end.
    void WaitForLoader();
    // Waits until the current frame is decoded, running a pass if needed, so
    // that it can be read at once. A frame that cannot be decoded stays empty.
    void EnsureCurrentFrameLoaded();
    // The loader's pass over the ring, nearest frame first. Normally run on
    // the loader thread; takes m_lock for its whole duration. Without look
    // ahead it decodes the current frame alone.
    void LoaderPass();
    // Whether loader passes decode the frames around the current one too
    // (the default, for stepping through the frames). The batch tool turns
    // it off: it decodes every frame itself while extracting.
    void SetLookAhead(bool on);
    void ClearCache();

    // --- queries on the current frame -------------------------------------
    int GetFrameWidth();
    int GetFrameHeight();
    int GetFrameChannels();
    // Copies the current frame's pixels as packed rows (width x channels bytes
    // per row, no gaps) into `buffer`, at most `capacity` bytes. Returns the
    // number of bytes copied (0 when there is nothing to copy).
    // With `shape`, also says which frame was copied and its size, read under
    // the same lock as the pixels (all zero when nothing was copied).
    struct FrameShape {
        int frame = -1;
        int width = 0;
        int height = 0;
        int channels = 0;
    };
    std::size_t CopyFrameBytes(std::uint8_t* buffer, std::size_t capacity, FrameShape* shape = nullptr);
    // The current frame's index, read under the lock: for readers on another
    // thread than the one running commands.
    int CurrentFrameLocked();
    // Copies the current frame into `image` as an 8-bit one-channel frame
    // image (rows padded to 4 bytes), making or reshaping it when its size or
    // type differs. Colour sequence frames are converted to grey. Returns
    // false, leaving `image` untouched, when there is no frame to copy.
    bool CopyFrameToImage(cv::Mat& image);

    // --- accessors --------------------------------------------------------
    // The name of frame `index` (empty when out of range): its file's path,
    // or for a sequence frame a name made on demand.
    std::string FrameName(int index) const;
    // Every frame's name, in frame order.
    std::vector<std::string> FrameNames() const;
    int FrameCount() const { return m_frameCount; }
    int CurrentFrame() const { return m_currentFrame; }
    int CurrentSlot() const { return m_currentSlot; }
    bool FramePending() const { return m_framePending; }
    bool InSequenceMode() const { return m_sequence != nullptr; }
    const VideoSequence* Sequence() const { return m_sequence.get(); }
    DocumentUi& Ui() { return *m_ui; }
    std::mutex& Lock() { return m_lock; }
    // Frame index held by slot `i` (-1 when empty or out of range); takes the lock.
    int SlotFrame(int i);
    // Replaces the decoder (tests count and fail decodes with it). Not while
    // a pass runs: waits for it first. The decoder must allow calls from
    // several threads at once (DecodeFrame).
    void SetFrameDecoder(FrameDecoder decoder);
    void SetFrameDecoder(PlainFrameDecoder decoder);
    // Decodes image frame `frame` from its file with the document's decoder,
    // as a frame image, bypassing the cache: what a loader pass would store
    // for it. Empty when the frame cannot be decoded (for whatever reason,
    // running out of memory included), is out of range or the frames come
    // from a sequence. Safe to call from several threads at once while the
    // frame list does not change.
    cv::Mat DecodeFrame(int frame) const;
    // Frame `frame` as a frame image, from its file (as DecodeFrame) or from
    // the sequence, leaving the cache and the current frame alone. Empty
    // when it cannot be read, with the reason in `*why` when given; running
    // out of memory, and any other failure that is not the file's, is
    // thrown. Safe from several threads at once while the frame list does
    // not change.
    cv::Mat ReadFrame(int frame, std::string* why = nullptr) const;
    // Slots released since creation (a slot that held an image and was freed).
    std::uint64_t ReleaseCount() const { return m_releaseCount; }

    // --- the grids of the frames (with the grid commands) -----------------
    // Frame `frame`'s record in the grid set: its points and cells, and how
    // its search ended. A frame not searched since it came into the list
    // (or out of range) gives an empty record, `searched` false.
    const FrameGrid& GridOf(int frame) const;
    // Every frame counts as not searched again and holds nothing.
    void ForgetGrids();
    // Frames of the list not searched since they came into it.
    int FramesNotExtracted() const;
    // Searches every frame not searched yet (searchGrids, from the current
    // frame onwards, with wrap-around), with the wait cursor and, when any
    // frame was searched, the outcome in the status message. With `frame`
    // >= 0 only that frame is searched, if it was not yet. Returns the
    // number of frames searched. A failure of a frame's search is thrown
    // again.
    int ExtractMissingGrids(int frame = -1);
    // The extraction driver: searches the frames as `search` says (see
    // grid_commands.h).
    GridSearchResult SearchGrids(const GridSearch& search);
    // Frames with enough points to take part in the calibrations.
    int FramesWithGrid() const;
    // Frames the grid commands search at once (1 unless set; at least 1).
    void SetExtractionThreads(int threads) { m_extractionThreads = threads > 1 ? threads : 1; }
    int ExtractionThreads() const { return m_extractionThreads; }
    // Empties the grid set and forgets everything found in the frames: the
    // per-frame state, the overlay flag, the reference frame and the
    // per-frame figures of the last calibration, the frames left out. For
    // when the frame list is emptied or replaced.
    void ClearGrids();

    // --- frames left out of the calibrations ------------------------------
    // A frame left out stays in the list and keeps its points; the
    // intrinsic and extrinsic calibrations do not use it. Replacing or
    // emptying the frame list puts every frame back; appending keeps the
    // choices made.
    bool FrameExcluded(int frame) const;
    // False (and nothing changed) when `frame` is not in the list.
    bool SetFrameExcluded(int frame, bool excluded);
    int ExcludedFrameCount() const;
    // The frame list's check box: leaves the frame out or puts it back,
    // says so in the status message, then the title-and-views step.
    void OnExcludeFrame(int frame, bool excluded);
    // Use All Frames: puts every frame left out back, then the
    // title-and-views step.
    void OnUseAllFrames();
    // Puts frame `frame` on screen (the frame list's and the chart's
    // click): the loader starts there, then the title-and-views step.
    void OnGoToFrame(int frame);
    // Remove Frame: frame `frame` leaves the list, with what was found in
    // it; the frames after it move down by one. Frames of a video sequence
    // cannot be removed. False (and nothing changed) when the frame is not
    // in the list or comes from a sequence.
    bool RemoveFrame(int frame);
    // RemoveFrame with the outcome in the status message, then the
    // title-and-views step.
    void OnRemoveFrame(int frame);

    // --- sessions (session_commands.cpp) ---------------------------------
    // Writes the working set to the session file `path` (see
    // session_file.h), which becomes the session's own file. False, with
    // the reason in `error` and the status message, when it could not be
    // written.
    bool SaveSessionFile(const std::string& path, std::string* error = nullptr);
    // Replaces the working set with the session in `path`: its frames, the
    // frames left out, the settings, what was found in each frame and the
    // calibration, without searching the frames again. A frame whose file
    // is missing or changed since the session was saved keeps nothing of
    // what was found in it, is left out and noted (FrameNote). A session
    // file that cannot be read, and one whose video cannot be read, leave
    // everything as it was; the status message says why. Returns whether
    // it opened.
    bool OpenSessionFile(const std::string& path, std::string* error = nullptr);
    // Saves the session to its own file, asking for one the first time or
    // with `ask`. False when the question was cancelled or the file could
    // not be written.
    bool SaveSession(bool ask = false);
    // Save Session and Save Session As: SaveSession, then the
    // title-and-views step.
    void OnSaveSession();
    void OnSaveSessionAs();
    // Open Session: asks for the file, then whether to save the work first.
    void OnOpenSession();
    // The session's own file (empty until saved or opened).
    const std::string& SessionPath() const { return m_sessionPath; }
    // Whether there is work that its session file does not hold: frames
    // searched, left out or calibrated, changed since the session was last
    // saved or opened (or never saved).
    bool SessionModified();
    // What is known about frame `frame`'s file beyond its search: "file
    // missing", "file changed since the session was saved"; empty mostly.
    std::string FrameNote(int frame) const;

    // --- the results, for the views and the hosts -------------------------
    const GridSet& Grids() const { return m_gridSet; }
    // The calibration, or null before one was computed or loaded.
    const CalibrationRecord* Calibration() const { return m_calibration.get(); }
    // How well the last calibrations fit their views.
    const CalibrationStats& Stats() const { return m_calibrationStats; }
    // The frame of the last extrinsic calibration (-1: none).
    int ReferenceFrame() const { return m_referenceFrame; }
    // Whether the calibration changed since it was last saved or loaded.
    bool CalibrationModified() const { return m_calibrationModified; }
    bool ShowGrid() const { return m_showGrid; }
    // Whether the grid search refines the labelled corners once more
    // (ExtractOptions::refineCorners); off by default, kept over New.
    bool RefineCorners() const { return m_refineCorners; }
    void SetRefineCorners(bool on) { m_refineCorners = on; }
    // Where the grid search writes the triangulation's diagnostic lines and
    // the line saying why it gave a frame up; null (the default): dropped.
    void SetGridStreams(std::ostream* diagnostics, std::ostream* errors) {
        m_diagnostics = diagnostics;
        m_errors = errors;
    }
    std::ostream* Diagnostics() const { return m_diagnostics; }
    std::ostream* Errors() const { return m_errors; }
    // How Intrinsic Calibration from the menu fits (IntrinsicSettings): the
    // lens model, whether it is chosen from the views, whether the board's
    // bend is estimated.
    LensModel LensModelSetting() const { return m_lensModel; }
    bool ChooseLensModel() const { return m_chooseLensModel; }
    bool BoardFlexOn() const { return m_boardFlex; }
    // The board's cell side in millimetres (0: not set, poses in cells).
    double CellSizeMm() const { return m_cellSizeMm; }
    void SetCellSizeMm(double millimetres) { m_cellSizeMm = millimetres; }
    // Why the last calibration command failed (empty: it did not).
    const std::string& CalibrationProblem() const { return m_calibrationProblem; }
    // A calibration command failed: the status message says why, and the
    // reason is kept for the calibration panel.
    void ReportCalibrationProblem(const std::string& text) {
        m_calibrationProblem = text;
        Ui().showStatus(text);
    }

private:
    friend struct DocumentTestAccess;  // the tests' hand-made working sets
    friend bool LoadCalibrationFile(CVexelDoc& doc, const std::string& path);
    friend bool SaveCalibrationFile(CVexelDoc& doc, const std::string& path, int form, std::string* error,
                                    const vexel::OutputOptions& output);

    // --- the working set --------------------------------------------------
    // Fields read by the loader are written only with m_lock held or while
    // no pass runs.
    std::array<FrameSlot, SLOT_COUNT> m_slots;
    // One path per image frame. Empty in sequence mode: a sequence's frame
    // names are made from its path when asked for (FrameName).
    std::vector<std::string> m_frameNames;
    int m_currentFrame = 0;
    int m_frameCount = 0;
    int m_currentSlot = START_SLOT;
    bool m_framePending = false;
    std::unique_ptr<VideoSequence> m_sequence;
    std::unique_ptr<CalibrationRecord> m_calibration;
    int m_referenceFrame = -1;
    std::mutex m_lock;
    std::thread m_loaderThread;
    GridSet m_gridSet;
    bool m_showGrid = false;
    bool m_refineCorners = false;
    // How Intrinsic Calibration from the menu fits: the lens model (set
    // also by a calibration and by Load Calibration, so that it is the
    // model of the calibration held), whether it is chosen from the views,
    // and whether the board's bend is estimated. Kept over New.
    LensModel m_lensModel = LensModel::OpenCv4;
    bool m_chooseLensModel = false;
    bool m_boardFlex = false;
    // Per frame whether the calibrations leave it out (frames beyond its
    // end are used).
    std::vector<bool> m_excludedFrames;
    CalibrationStats m_calibrationStats;
    bool m_calibrationModified = false;
    std::ostream* m_diagnostics = nullptr;
    std::ostream* m_errors = nullptr;
    int m_extractionThreads = 1;
    DocumentUi* m_ui;
    FrameDecoder m_decode;
    std::uint64_t m_releaseCount = 0;
    bool m_lookAhead = true;
    // The board's cell side in millimetres, 0 when not set: poses are then
    // given in cells. A setting: kept over New.
    double m_cellSizeMm = 0;
    // Why the last calibration command (load, intrinsic, extrinsic) failed;
    // empty when it succeeded or none ran since New.
    std::string m_calibrationProblem;
    // Per frame what is known about its file (FrameNote; frames beyond its
    // end have no note).
    std::vector<std::string> m_frameNotes;
    std::string m_sessionPath;
    std::size_t m_sessionState = 0;
    bool m_sessionSaved = false;

    // Both with m_lock held.
    void ReleaseSlot(int i);
    void StoreSlot(int i, int frame, cv::Mat image);
    void TrimCache();
    void LoadFrameIntoSlot(int frame, int slot);
    // DecodeFrame with the reason and the exceptions passed on (ReadFrame).
    cv::Mat DecodeFrameFile(int frame, std::string* why) const;
    void ClearFrameNames();
    // Drops a loaded sequence and its synthesized names (image imports).
    void DropSequence();
    // Puts m_currentFrame back inside the list after it changed length.
    void KeepCurrentFrameInList();
    bool SlotHoldsFrame(int slot, int frame) const;
    bool SequenceHasCurrentFrame() const;
    // Makes `sequence`, read from `path`, the working set (Import VSQ and
    // Import Video).
    void InstallSequence(std::unique_ptr<VideoSequence> sequence, const std::string& path);
    // Sizes the grid set for every frame, keeping the records of the frames
    // already searched; false when it cannot be had.
    bool PrepareGridFrames();
    // Makes `result`, calibrated from `views` at `size`, the calibration
    // and its fit; `framesOtherSize` frames with points were left out for
    // their size; `options` are those it was calibrated with.
    void KeepIntrinsicResult(const IntrinsicResult& result, const CalibrationViews& views, cv::Size size,
                             int framesOtherSize, const IntrinsicOptions& options);

    // A hash of the session as last saved or opened, without the current frame.
    std::size_t SessionState();
};
