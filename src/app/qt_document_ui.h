#pragma once
// The desktop program's DocumentUi: file dialogs, message boxes, the wait
// cursor, the main window's title, its status bar and the view.

#include <QString>

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
    int chooseReferenceFrame(const std::vector<std::string>& names, int initialSelection) override;
    void showMessageBox(const std::string& text) override;
    SaveChoice askSaveBeforeClosing(const std::string& text) override;
    void showStatus(const std::string& text) override;
    void setBusy(bool busy) override;
    void setTitle(const std::string& title) override;
    void updateViews() override;

    // Puts back every wait cursor this object set (after a failed command).
    void ResetBusy();
    int BusyDepth() const { return m_busyDepth; }

    // "Text (*.a;*.b)|*.a;*.b|Other (*.c)|*.c||" -> "Text (*.a *.b);;Other (*.c)".
    static QString ToQtFilter(const std::string& filter);
    // ".jpg" -> "jpg".
    static QString ToDefaultSuffix(const std::string& extension);

private:
    CMainFrame* m_frame;
    int m_busyDepth = 0;
};
