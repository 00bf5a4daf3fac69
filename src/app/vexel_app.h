#pragma once
// The application object: names the settings store, keeps the recent-file
// list, creates the one document, its user interface and the main window,
// imports the files named on the command line, and carries out the
// application's own commands (New, About). The framework's Open and Save
// open and save sessions (the document's commands); the sessions opened or
// saved go to the recent-file list.

#include <QObject>
#include <QStringList>

#include <memory>

class CMainFrame;
class CVexelDoc;
class QtDocumentUi;

// The most recently used files, kept in the settings store.
class RecentFileList {
public:
    static constexpr int SIZE = 4;
    RecentFileList();
    // Puts `path` first; drops the oldest beyond SIZE entries.
    void Add(const QString& path);
    QStringList Files() const { return m_files; }
    void Load();
    void Save() const;

private:
    QStringList m_files;
};

class CVexelApp : public QObject {
    Q_OBJECT

public:
    static constexpr const char* ORGANISATION = "Local AppWizard-Generated Applications";
    static constexpr const char* APPLICATION = "Vexel";
    static constexpr const char* VERSION_LINE = "Vexel Version 1.0";

    CVexelApp();
    ~CVexelApp() override;

    // Creates document, user interface and main window, starts with an empty
    // document, imports `files` and, with `show`, shows the window.
    bool InitInstance(const QStringList& files, bool show = true);
    // Imports image files and folders of them, image lists (.iml), video
    // sequences (.vsq) and video files (.mp4, .avi, .mov, .mkv) as the
    // import commands would, opens sessions (.vexel, once the work that
    // would be lost is saved or given up) and loads calibrations (.cal),
    // chosen by extension, then updates the title. Files with a video are
    // decoded on the worker once the window is shown.
    void ImportFiles(const QStringList& files);

    // New, once a calibration that changed has been saved or may be dropped.
    void OnFileNew();
    void OnAppAbout();

    CVexelDoc* Document() const { return m_doc.get(); }
    CMainFrame* MainFrame() const { return m_frame.get(); }
    QtDocumentUi* Ui() const { return m_ui.get(); }
    RecentFileList& RecentFiles() { return m_recentFiles; }

private:
    // Declared in this order so the window goes first, then the document,
    // then the interface it talks through.
    std::unique_ptr<QtDocumentUi> m_ui;
    std::unique_ptr<CVexelDoc> m_doc;
    std::unique_ptr<CMainFrame> m_frame;
    RecentFileList m_recentFiles;
};
