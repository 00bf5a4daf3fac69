#pragma once
// The desktop program's DocumentUi: file dialogs, message boxes, the wait
// cursor, the main window's title, its status bar and the view. A long
// command runs on a worker thread; every call it makes here is carried out
// on the user-interface thread: questions and view updates while the worker
// waits for them, status, title, cursor and progress without waiting (in
// the order they were made).

#include <QString>

#include <atomic>
#include <functional>

#include "document/document_ui.h"

class CMainFrame;

class QtDocumentUi : public DocumentUi {
public:
    explicit QtDocumentUi(CMainFrame* frame = nullptr) : m_frame(frame) {}
    ~QtDocumentUi() override;
    void SetMainFrame(CMainFrame* frame) { m_frame = frame; }

    std::vector<std::string> chooseOpenFiles(const std::string& filter, const std::string& defaultExtension,
                                             bool multiple) override;
    std::optional<std::string> chooseSaveFile(const std::string& filter, const std::string& defaultExtension,
                                              bool promptOverwrite) override;
    int chooseReferenceFrame(const std::vector<ReferenceFrameChoice>& frames, int initialFrame) override;
    void showMessageBox(const std::string& text) override;
    SaveChoice askSaveBeforeClosing(const std::string& text) override;
    void showStatus(const std::string& text) override;
    void setBusy(bool busy) override;
    void setTitle(const std::string& title) override;
    void updateViews() override;
    void progress(const std::string& text, int done, int total) override;
    bool cancelRequested() override { return m_cancel.load(std::memory_order_relaxed); }

    // The Cancel button of the running command; cleared when a command starts.
    void RequestCancel() { m_cancel = true; }
    void ResetCancel() { m_cancel = false; }

    // Puts back every wait cursor this object set (after a failed command).
    void ResetBusy();
    int BusyDepth() const { return m_busyDepth; }

    // "Text (*.a;*.b)|*.a;*.b|Other (*.c)|*.c||" -> "Text (*.a *.b);;Other (*.c)".
    static QString ToQtFilter(const std::string& filter);
    // ".jpg" -> "jpg".
    static QString ToDefaultSuffix(const std::string& extension);

private:
    // Runs `call` on the user-interface thread: at once when already there,
    // else waiting for it (`wait`) or queued behind the calls before it.
    void OnUiThread(const std::function<void()>& call, bool wait);
    // Runs a dialog with the arrow cursor and the progress window out of the way.
    template <typename Dialog>
    auto AskUser(Dialog&& dialog);

    CMainFrame* m_frame;
    int m_busyDepth = 0;
    std::atomic<bool> m_cancel{false};
};
