#pragma once
// The main window: menu bar, dockable toolbar, status bar with the message
// pane and the lock-key indicators, and the one view in the middle. Every
// menu, toolbar and accelerator action carries its command identifier as
// data and arrives at OnCommand, which routes it to the document, the view
// or the application.

#include <QMainWindow>

#include <functional>
#include <map>

class CErrorChart;
class CFrameListDock;
class CVexelApp;
class CVexelDoc;
class CVexelView;
class QAction;
class QDockWidget;
class QLabel;
class QToolBar;

class CMainFrame : public QMainWindow {
    Q_OBJECT

public:
    // Reports a command that failed: the command's name and the reason.
    using FailureReporter = std::function<void(const QString& command, const QString& reason)>;

    CMainFrame(CVexelApp* app, CVexelDoc* doc, QWidget* parent = nullptr);
    ~CMainFrame() override;

    CVexelView* View() const { return m_view; }
    QToolBar* ToolBar() const { return m_toolBar; }
    CFrameListDock* FrameList() const { return m_frameList; }
    CErrorChart* ErrorChart() const { return m_errorChart; }
    QDockWidget* ErrorChartDock() const { return m_errorDock; }
    // The action of a command identifier (menus, toolbar and accelerators share it).
    QAction* Action(int id) const;
    // The command's name as its menu shows it, without '&' and "...".
    QString CommandName(int id) const;

    // Runs one command. An exception that escapes it is caught here and
    // reported, naming the command; the window and the document live on.
    // Returns false when the command failed.
    bool OnCommand(int id);
    // Runs `command` under the same guard as OnCommand.
    bool RunGuarded(const QString& name, const std::function<void()>& command);
    void SetFailureReporter(FailureReporter reporter) { m_reportFailure = std::move(reporter); }

    // Check marks of Grid, Shrink Large Images, Toolbar, Status Bar,
    // Undistorted and Coverage; the frame list and the chart re-read the
    // document.
    void UpdateCommandUi();
    // The frame list and the error chart re-read the document.
    void RefreshDocks();

protected:
    // Closing the window (Exit, the window's own close button) first asks
    // whether to save a calibration that changed; Cancel keeps it open.
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    // The frame list dock with the error chart's dock under it, on the right.
    void CreateDocks();
    void RouteCommand(int id);
    QAction* MakeAction(int id, const char* menuText, const char* prompt);

    CVexelApp* m_app;
    CVexelDoc* m_doc;
    CVexelView* m_view;
    QToolBar* m_toolBar = nullptr;
    CFrameListDock* m_frameList = nullptr;
    QDockWidget* m_errorDock = nullptr;
    CErrorChart* m_errorChart = nullptr;
    std::map<int, QAction*> m_actions;
    QLabel* m_indicators[3] = {nullptr, nullptr, nullptr};
    FailureReporter m_reportFailure;
};
