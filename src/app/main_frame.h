#pragma once
// The main window: menu bar, dockable toolbar, status bar with the message
// pane and the last command's result, and the one view in the middle. Every
// menu, toolbar and accelerator action carries its command identifier as
// data and arrives at OnCommand, which routes it to the document, the view
// or the application.

#include <QMainWindow>

#include <functional>
#include <map>

class CCalibrationPanel;
class CCoveragePanel;
class CErrorChart;
class CFrameListDock;
class CPoseView;
class CResidualPlot;
class CVexelApp;
class CVexelDoc;
class CVexelView;
class QAction;
class QDockWidget;
class QLabel;
class QProgressDialog;
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
    CCalibrationPanel* CalibrationPanel() const { return m_calibrationPanel; }
    CErrorChart* ErrorChart() const { return m_errorChart; }
    QDockWidget* ErrorChartDock() const { return m_errorDock; }
    // The coverage figures with the verdict and the residual summary, in
    // the calibration panel above and under its report; the poses in 3-D in a dock
    // of their own that View > Poses shows.
    CCoveragePanel* CoveragePanel() const { return m_coveragePanel; }
    CResidualPlot* ResidualPlot() const { return m_residualPlot; }
    CPoseView* PoseView() const { return m_poseView; }
    QDockWidget* PoseDock() const { return m_poseDock; }
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
    // Runs `command` on the worker thread under a modal progress window with
    // Cancel, every action disabled, while this thread keeps the window
    // alive; returns once it ended. A failure is reported as by RunGuarded.
    bool RunOnWorker(const QString& name, const std::function<void()>& command);
    void SetFailureReporter(FailureReporter reporter) { m_reportFailure = std::move(reporter); }

    // Check marks of Grid, Shrink Large Images, Toolbar, Status Bar,
    // Undistorted, Coverage, Residuals, Poses, Uncertainty, Refine Corners,
    // Lens Model and Board Flex; the frame list and the charts re-read the
    // document.
    void UpdateCommandUi();
    // The frame list, the calibration panel and the error chart re-read the
    // document.
    void RefreshDocks();

    // Whether the command runs on the worker thread: the extraction and
    // calibration commands, and Grid and Save Correspondences when frames
    // are still to be searched.
    bool RunsOnWorker(int id) const;
    // A command is running (on the worker; every other command is disabled).
    bool IsCommandRunning() const { return m_running; }
    // The running command's progress window (null when none runs).
    QProgressDialog* ProgressDialog() const { return m_progress; }
    // Progress of the running command: `text` as the window's label, `done`
    // of `total` steps (total 0: a busy indicator).
    void ShowProgress(const QString& text, int done, int total);
    // The document's last status text, in the status bar's permanent field
    // that prompts and "Ready" do not replace.
    void ShowResult(const QString& text);
    QLabel* ResultField() const { return m_result; }

Q_SIGNALS:
    // Every command routed through OnCommand ends with this, after its window
    // and actions are back (`done`: it did not fail).
    void commandFinished(int id, bool done);

public:

protected:
    // Closing the window (Exit, the window's own close button) first asks
    // whether to save a calibration that changed; Cancel keeps it open.
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // Files and folders dropped on the window are opened as those named on
    // the command line are (CVexelApp::ImportFiles).
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    // The frame list dock with the calibration panel and the error chart's
    // dock under it, on the right.
    void CreateDocks();
    void RouteCommand(int id);
    // Shows the dock and brings it to the front of its tabs.
    void ShowDock(QDockWidget* dock);
    // Calibration > Cell Size...: asks for the cell side, then the document's command.
    void OnCellSize();
    // After a failed command: puts the cursor back, shows what there is and
    // reports `reason`.
    void ReportFailure(const QString& name, const QString& reason);
    QAction* MakeAction(int id, const char* menuText, const char* prompt);

    CVexelApp* m_app;
    CVexelDoc* m_doc;
    CVexelView* m_view;
    QToolBar* m_toolBar = nullptr;
    CFrameListDock* m_frameList = nullptr;
    CCalibrationPanel* m_calibrationPanel = nullptr;
    QDockWidget* m_errorDock = nullptr;
    CErrorChart* m_errorChart = nullptr;
    CCoveragePanel* m_coveragePanel = nullptr;
    CResidualPlot* m_residualPlot = nullptr;
    QDockWidget* m_poseDock = nullptr;
    CPoseView* m_poseView = nullptr;
    std::map<int, QAction*> m_actions;
    QLabel* m_result = nullptr;
    FailureReporter m_reportFailure;
    bool m_running = false;
    QProgressDialog* m_progress = nullptr;
};
