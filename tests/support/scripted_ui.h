#pragma once
// A DocumentUi for tests: answers come from queues filled by the test, and
// every call is recorded as one string, in call order:
//   "open|<filter>|<ext>|multi" (or "|single"), "save|<filter>|<ext>|prompt" (or "|noprompt"),
//   "reference|<initial frame>|<frames offered>", "message|<text>", "close|<text>", "status|<text>", "busy|1" / "busy|0",
//   "title|<text>", "views".
// An empty queue answers like a cancelled dialog. Progress reports are kept
// apart, in `progressCalls` as "<text>|<done>|<total>".

#include <algorithm>
#include <atomic>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "document/document_ui.h"

namespace vexel::test {

class ScriptedUi : public DocumentUi {
public:
    std::deque<std::vector<std::string>> openAnswers;
    std::deque<std::optional<std::string>> saveAnswers;
    std::deque<int> referenceAnswers;
    std::deque<SaveChoice> closeAnswers;
    std::vector<std::string> calls;
    // The frames offered by the last reference-frame question.
    std::vector<ReferenceFrameChoice> lastReferenceChoices;

    std::vector<std::string> chooseOpenFiles(const std::string& filter, const std::string& defaultExtension,
                                             bool multiple) override {
        calls.push_back("open|" + filter + "|" + defaultExtension + (multiple ? "|multi" : "|single"));
        if (openAnswers.empty()) return {};
        std::vector<std::string> answer = std::move(openAnswers.front());
        openAnswers.pop_front();
        return answer;
    }

    std::optional<std::string> chooseSaveFile(const std::string& filter, const std::string& defaultExtension,
                                              bool promptOverwrite) override {
        calls.push_back("save|" + filter + "|" + defaultExtension + (promptOverwrite ? "|prompt" : "|noprompt"));
        if (saveAnswers.empty()) return std::nullopt;
        std::optional<std::string> answer = std::move(saveAnswers.front());
        saveAnswers.pop_front();
        return answer;
    }

    int chooseReferenceFrame(const std::vector<ReferenceFrameChoice>& frames, int initialFrame) override {
        calls.push_back("reference|" + std::to_string(initialFrame) + "|" + std::to_string(frames.size()));
        lastReferenceChoices = frames;
        if (referenceAnswers.empty()) return -1;
        int answer = referenceAnswers.front();
        referenceAnswers.pop_front();
        return answer;
    }

    void showMessageBox(const std::string& text) override { calls.push_back("message|" + text); }
    SaveChoice askSaveBeforeClosing(const std::string& text) override {
        calls.push_back("close|" + text);
        if (closeAnswers.empty()) return SaveChoice::Cancel;
        SaveChoice answer = closeAnswers.front();
        closeAnswers.pop_front();
        return answer;
    }
    void showStatus(const std::string& text) override { calls.push_back("status|" + text); }
    void setBusy(bool busy) override { calls.push_back(busy ? "busy|1" : "busy|0"); }
    void setTitle(const std::string& title) override { calls.push_back("title|" + title); }
    void updateViews() override { calls.push_back("views"); }

    void progress(const std::string& text, int done, int total) override {
        progressCalls.push_back(text + "|" + std::to_string(done) + "|" + std::to_string(total));
        if (cancelAfterProgress >= 0 && static_cast<int>(progressCalls.size()) >= cancelAfterProgress) cancel = true;
    }
    void endProgress() override { ++endProgressCalls; }
    bool cancelRequested() override { return cancel; }

    std::vector<std::string> progressCalls;
    int endProgressCalls = 0;
    // Set by the test (from any thread), or once `cancelAfterProgress`
    // progress reports have come (-1: never).
    std::atomic<bool> cancel{false};
    int cancelAfterProgress = -1;

    // The recorded calls that start with `prefix` (e.g. "status|").
    std::vector<std::string> callsStartingWith(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const std::string& c : calls)
            if (c.compare(0, prefix.size(), prefix) == 0) out.push_back(c);
        return out;
    }

    // The text of the last "title|" call, or std::nullopt when the title was never set.
    std::optional<std::string> lastTitle() const {
        auto it = std::find_if(calls.rbegin(), calls.rend(),
                               [](const std::string& c) { return c.compare(0, 6, "title|") == 0; });
        if (it == calls.rend()) return std::nullopt;
        return it->substr(6);
    }

    // The text of the last "status|" call, or an empty string.
    std::string lastStatus() const {
        auto it = std::find_if(calls.rbegin(), calls.rend(),
                               [](const std::string& c) { return c.compare(0, 7, "status|") == 0; });
        return it == calls.rend() ? std::string() : it->substr(7);
    }
};

}  // namespace vexel::test

// Usable unqualified as well.
using vexel::test::ScriptedUi;
