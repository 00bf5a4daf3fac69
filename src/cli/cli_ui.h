#pragma once
// The command-line tool's DocumentUi: the answers to the document's questions
// are set by the caller from the command's arguments beforehand; status
// messages and message boxes go to standard error; the title, the cursor and
// the views do not exist here.

#include <deque>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "document/document_ui.h"

namespace vexel::cli {

class ProgressBar;

class CliUi : public DocumentUi {
public:
    CliUi();
    ~CliUi() override;
    // For tests: messages go to `messages` instead of standard error.
    explicit CliUi(std::ostream& messages);

    // Each question takes the next answer set for it; with none left it is
    // answered like a cancelled dialog.
    void addOpenAnswer(std::vector<std::string> paths) { m_openAnswers.push_back(std::move(paths)); }
    void addSaveAnswer(std::string path) { m_saveAnswers.push_back(std::move(path)); }
    // The reference frame's index, given as it is (also when not offered).
    void addReferenceFrameAnswer(int frame) { m_referenceAnswers.push_back(frame); }
    // The answer to "save before closing?" (Cancel unless set).
    void setSaveBeforeClosingAnswer(SaveChoice choice) { m_saveBeforeClosing = choice; }

    std::vector<std::string> chooseOpenFiles(const std::string& filter, const std::string& defaultExtension,
                                             bool multiple) override;
    std::optional<std::string> chooseSaveFile(const std::string& filter, const std::string& defaultExtension,
                                              bool promptOverwrite) override;
    int chooseReferenceFrame(const std::vector<ReferenceFrameChoice>& frames, int initialFrame) override;
    void showMessageBox(const std::string& text) override;
    SaveChoice askSaveBeforeClosing(const std::string& text) override;
    void showStatus(const std::string& text) override;
    void setBusy(bool) override {}
    void setTitle(const std::string&) override {}
    void updateViews() override {}

    // Long commands draw the one-line progress bar on standard error, when
    // it is switched on (a terminal and not quiet); each run of steps starts
    // a new bar and endProgress clears its line.
    void progress(const std::string& text, int done, int total) override;
    void endProgress() override;
    void setProgressBar(bool enabled) { m_progressEnabled = enabled; }

    // Quiet: status messages are kept (lastMessage) but not printed;
    // message boxes are still printed.
    void setQuiet(bool quiet) { m_quiet = quiet; }

    // The last status or message-box text (empty when none was shown).
    const std::string& lastMessage() const { return m_lastMessage; }

private:
    std::ostream& m_messages;
    std::deque<std::vector<std::string>> m_openAnswers;
    std::deque<std::string> m_saveAnswers;
    std::deque<int> m_referenceAnswers;
    SaveChoice m_saveBeforeClosing = SaveChoice::Cancel;
    std::string m_lastMessage;
    bool m_quiet = false;
    bool m_progressEnabled = false;
    std::unique_ptr<ProgressBar> m_bar;
};

}  // namespace vexel::cli
