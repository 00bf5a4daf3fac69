#pragma once
// The document's only way to talk to the user. The document never opens a
// dialog or touches a window; the desktop program, the command-line tool and
// the tests each supply their own implementation.

#include <optional>
#include <string>
#include <vector>

// One frame offered as the reference frame: its index, its name and its
// correspondences (-1 when it has not been searched yet).
struct ReferenceFrameChoice {
    int frame = 0;
    std::string name;
    int points = -1;
    bool operator==(const ReferenceFrameChoice&) const = default;
};

// The answers to the question whether to save before closing.
enum class SaveChoice { Save, Discard, Cancel };

class DocumentUi {
public:
    virtual ~DocumentUi() = default;
    // Open dialog. `filter` in the form "JPEG Files (*.jpg)|*.jpg|PGM Files (*.pgm)|*.pgm||" exactly as the
    // command's text gives it; returns the chosen paths (empty: cancelled).
    virtual std::vector<std::string> chooseOpenFiles(const std::string& filter, const std::string& defaultExtension,
                                                     bool multiple) = 0;
    // Save dialog; returns the chosen path, or std::nullopt when cancelled.
    virtual std::optional<std::string> chooseSaveFile(const std::string& filter, const std::string& defaultExtension,
                                                      bool promptOverwrite) = 0;
    // "Select Reference Frame": the frames that can be chosen, in frame order, and the frame selected at first;
    // returns the chosen frame's index, or -1 when cancelled.
    virtual int chooseReferenceFrame(const std::vector<ReferenceFrameChoice>& frames, int initialFrame) = 0;
    virtual void showMessageBox(const std::string& text) = 0;  // only the commands' own message boxes
    // The question `text` with the answers Save, Discard and Cancel (closing the question is Cancel).
    virtual SaveChoice askSaveBeforeClosing(const std::string& text) = 0;
    virtual void showStatus(const std::string& text) = 0;      // one-line status: errors, progress, results
    virtual void setBusy(bool busy) = 0;                       // wait cursor on / arrow cursor back
    virtual void setTitle(const std::string& title) = 0;
    virtual void updateViews() = 0;

    // Long commands (extraction, calibration) report how far they are and
    // stop early when asked. `text` says what is being done ("Extracting
    // frame 3 of 50", or the solver's stage); `done` of `total` steps are
    // finished (total 0: the length is not known). The command may run on a
    // worker thread: implementations hand these calls to their own thread.
    virtual void progress(const std::string& text, int done, int total) {
        (void)text, (void)done, (void)total;
    }
    // The steps of the running command are over (also when it stopped early).
    virtual void endProgress() {}
    // True once the user asked the running command to stop. Commands check it
    // between steps (between frames); it must be cheap and callable from any
    // thread.
    virtual bool cancelRequested() { return false; }
};
