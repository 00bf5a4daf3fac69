// Core headers first: they use identifiers that Qt defines as macros.
#include "document/calibration_commands.h"
#include "document/vexel_doc.h"
#include "geomlib/fatal_error.h"

#include "app/main_frame.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QEventLoop>
#include <QFile>
#include <QInputDialog>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QProgressDialog>
#include <QStatusBar>
#include <QToolBar>

#include <algorithm>
#include <exception>
#include <new>
#include <thread>
#include <vector>

#include <opencv2/core.hpp>

#include "app/calibration_panel.h"
#include "app/command_ids.h"
#include "app/residual_plot.h"
#include "app/qt_document_ui.h"
#include "app/vexel_app.h"
#include "view/vexel_view.h"

using namespace vexel;

namespace {

// One command: the menu text in "&Text\tAccelerator" form and the status-bar
// prompt in "Prompt\nTooltip" form.
struct CommandText {
    int id;
    const char* menuText;
    const char* prompt;
};

const CommandText COMMANDS[] = {
    {cmd::FILE_NEW, "&New\tCtrl+N", "Create a new document\nNew"},
    {cmd::IMPORT_IMAGES, "&Import Image(s)...", "Load individual image(s)\nImport Image(s)"},
    {cmd::IMPORT_IMAGE_SEQUENCE, "Import Image &Sequence...",
     "Load an image-list file. (Text file containing names of image files.)\nImport Image Sequence"},
    {cmd::IMPORT_VSQ, "Import &VSQ...", "Load a Tessary video sequence file."},
    {cmd::IMPORT_VIDEO, "Import Vi&deo...", "Load the frames of a video file (.mp4, .avi, .mov, .mkv).\nImport Video"},
    {cmd::LOAD_CALIBRATION, "&Load Calibration...", "Load a calibration (.cal) file.\nOpen Calibration"},
    {cmd::SAVE_CORRESPONDENCES, "Save C&orrespondences...",
     "Save correspondences to a .points file.\nSave Pattern Correspondences"},
    {cmd::SAVE_CALIBRATION, "Save &Calibration...", "Save calibration to (.cal) file.\nSave Calibration"},
    {cmd::APP_EXIT, "E&xit", "Quit the application; prompts to save documents\nExit"},
    {cmd::VIEW_TOOLBAR, "&Toolbar", "Show or hide the toolbar\nToggle ToolBar"},
    {cmd::VIEW_STATUS_BAR, "&Status Bar", "Show or hide the status bar\nToggle StatusBar"},
    {cmd::GRID, "&Grid", "Toggles whether the grid is overlayed on the images.\nView Grid Quads"},
    {cmd::SHRINK_LARGE_IMAGES, "Shrin&k Large Images",
     "Toggles whether large images are displayed at reduced or actual size\nShrink Large Images"},
    {cmd::FRAME_FORWARD, "Frame &Forward\tRight", "Advance one frame in the sequence.\nForward one frame"},
    {cmd::FRAME_BACK, "Frame &Back\tLeft", "Move back one frame in the sequence.\nBack one frame"},
    {cmd::EXTRACT_GRIDS, "&Extract Grid(s)\tF5",
     "Extract pattern grid from image(s). Creates point correspondences for calibration."},
    {cmd::REFINE_CORNERS, "&Refine Corners",
     "Toggles whether the grid corners are refined once more after labelling.\nRefine Corners"},
    {cmd::INTRINSIC_CALIBRATION, "&Intrinsic Calibration\tF6", "Calibrate intrinsic camera parameters."},
    {cmd::EXTRINSIC_CALIBRATION, "E&xtrinsic Calibration\tF7",
     "Find cameras position and orientation. Requires intrinsic calibration."},
    {cmd::APP_ABOUT, "&About Vexel...", "Display program information, version number and copyright\nAbout"},
    {cmd::VIEW_UNDISTORTED, "&Undistorted",
     "Draws the frame with the lens distortion of the calibration removed\nUndistorted"},
    {cmd::VIEW_COVERAGE, "&Coverage",
     "Draws the correspondences of every frame over the current frame\nCoverage"},
    {cmd::VIEW_RESIDUALS, "&Residuals",
     "Draws every correspondence's detected and reprojected point and the error between them, enlarged\nResiduals"},
    {cmd::VIEW_POSES, "&Poses", "Shows the board of every frame in front of the camera in 3-D\nPoses"},
    {cmd::VIEW_UNCERTAINTY, "Unc&ertainty",
     "Draws how far a projection may be off across the frame, and where more views are needed\nUncertainty"},
    {cmd::USE_ALL_FRAMES, "&Use All Frames", "Puts every frame left out back into the calibrations\nUse All Frames"},
    {cmd::LENS_MODEL_OPENCV4, "opencv&4 (k1 k2 p1 p2)",
     "Fits two radial and two tangential distortion coefficients (the default)\nopencv4 lens model"},
    {cmd::LENS_MODEL_OPENCV5, "opencv&5 (k1 k2 p1 p2 k3)",
     "Fits a third radial coefficient too, for strong barrel or pincushion distortion\nopencv5 lens model"},
    {cmd::LENS_MODEL_RATIONAL, "&rational (k1 .. k6, p1 p2)",
     "Fits the rational radial model, for wide-angle lenses\nrational lens model"},
    {cmd::LENS_MODEL_FISHEYE, "&fisheye (equidistant, k1 .. k4)",
     "Fits the equidistant fisheye model, for fields of view of 120 degrees and more\nfisheye lens model"},
    {cmd::LENS_MODEL_AUTO, "&auto", "Fits every lens model and keeps the simplest that fits\nChoose the lens model"},
    {cmd::BOARD_FLEX, "&Board Flex",
     "Toggles whether the calibration also estimates how far the board bends out of its plane\nBoard Flex"},
    {cmd::VIEW_FIT_TO_WINDOW, "Fit to &Window", "Shows the whole frame in the window\nFit to Window"},
    {cmd::ZOOM_IN, "Zoom &In\tCtrl++", "Shows the frame larger\nZoom In"},
    {cmd::ZOOM_OUT, "Zoom &Out\tCtrl+-", "Shows the frame smaller\nZoom Out"},
    {cmd::ACTUAL_SIZE, "&Actual Size\tCtrl+0", "Shows one frame pixel per screen pixel\nActual Size"},
    {cmd::OPEN_SESSION, "O&pen Session...", "Open a session (.vexel): frames, results and calibration\nOpen Session"},
    {cmd::SAVE_SESSION, "Save S&ession", "Save the frames, their results and the calibration to the session's file\nSave Session"},
    {cmd::SAVE_SESSION_AS, "Save Session &As...", "Save the session to a new file\nSave Session As"},
    {cmd::CELL_SIZE, "Cell &Size...",
     "Sets the printed board's cell side in millimetres, so that poses are given in millimetres\nCell Size"},
    // Accelerators without a menu item.
    {cmd::FILE_OPEN, "&Open...\tCtrl+O", "Open an existing document\nOpen"},
    {cmd::FILE_SAVE, "&Save\tCtrl+S", "Save the active document\nSave"},
    {cmd::FILE_PRINT, "&Print...\tCtrl+P", "Print the active document\nPrint"},
    {cmd::EDIT_UNDO, "&Undo\tCtrl+Z", "Undo the last action\nUndo"},
    {cmd::EDIT_CUT, "Cu&t\tCtrl+X", "Cut the selection and put it on the Clipboard\nCut"},
    {cmd::EDIT_COPY, "&Copy\tCtrl+C", "Copy the selection and put it on the Clipboard\nCopy"},
    {cmd::EDIT_PASTE, "&Paste\tCtrl+V", "Insert Clipboard contents\nPaste"},
    {cmd::NEXT_PANE, "Next Pane\tCtrl+F6", "Switch to the next window pane\nNext Pane"},
    {cmd::PREV_PANE, "Previous Pane\tCtrl+Shift+F6", "Switch back to the previous window pane\nPrevious Pane"},
};

// Calibration > Lens Model, in the order of the LensModel values, then auto.
const int LENS_MODEL_COMMANDS[] = {cmd::LENS_MODEL_OPENCV4, cmd::LENS_MODEL_OPENCV5, cmd::LENS_MODEL_RATIONAL,
                                   cmd::LENS_MODEL_FISHEYE, cmd::LENS_MODEL_AUTO};

// Further keys of the same command.
struct ExtraKey {
    int id;
    const char* key;
};
const ExtraKey EXTRA_KEYS[] = {
    {cmd::EDIT_UNDO, "Alt+Backspace"},
    {cmd::EDIT_CUT, "Shift+Del"},
    {cmd::EDIT_COPY, "Ctrl+Ins"},
    {cmd::EDIT_PASTE, "Shift+Ins"},
    {cmd::FRAME_FORWARD, "PgDown"},
    {cmd::FRAME_BACK, "PgUp"},
    {cmd::ZOOM_IN, "Ctrl+="},
};

// Toolbar buttons left to right; 0 is a separator.
const int TOOLBAR[] = {cmd::FILE_NEW,
                       cmd::LOAD_CALIBRATION,
                       cmd::SAVE_CALIBRATION,
                       0,
                       cmd::IMPORT_IMAGES,
                       cmd::IMPORT_IMAGE_SEQUENCE,
                       cmd::SAVE_CORRESPONDENCES,
                       0,
                       cmd::GRID,
                       cmd::SHRINK_LARGE_IMAGES,
                       0,
                       cmd::FRAME_BACK,
                       cmd::FRAME_FORWARD,
                       0,
                       cmd::APP_ABOUT};

// The command's 16 x 15 button picture, drawn for `ratio` device pixels per
// pixel so that it stays sharp on high-density screens.
QPixmap toolPixmap(int id, int ratio) {
    QPixmap pixmap(16 * ratio, 15 * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    const QColor ink(0, 0, 0), paper(255, 255, 255), accent(0, 0, 160);
    p.setPen(ink);
    auto page = [&](int x, int y) {
        p.setBrush(paper);
        p.drawRect(x, y, 9, 12);
    };
    auto disk = [&](QColor colour) {
        p.setBrush(colour);
        p.drawRect(1, 1, 13, 12);
        p.setBrush(paper);
        p.drawRect(4, 1, 7, 5);
        p.fillRect(5, 9, 5, 4, ink);
    };
    auto arrow = [&](bool right) {
        QPolygon shape;
        if (right)
            shape << QPoint(3, 2) << QPoint(12, 7) << QPoint(3, 12);
        else
            shape << QPoint(12, 2) << QPoint(3, 7) << QPoint(12, 12);
        p.setBrush(accent);
        p.drawPolygon(shape);
    };
    switch (id) {
        case cmd::FILE_NEW: page(3, 1); break;
        case cmd::LOAD_CALIBRATION:
            page(1, 1);
            p.drawText(QRect(1, 1, 10, 13), Qt::AlignCenter, QStringLiteral("c"));
            p.setBrush(accent);
            p.drawPolygon(QPolygon() << QPoint(10, 5) << QPoint(15, 9) << QPoint(10, 13));
            break;
        case cmd::SAVE_CALIBRATION: disk(accent); break;
        case cmd::IMPORT_IMAGES:
            p.setBrush(QColor(120, 170, 230));
            p.drawRect(1, 2, 13, 10);
            p.setBrush(QColor(40, 130, 40));
            p.drawPolygon(QPolygon() << QPoint(2, 11) << QPoint(6, 6) << QPoint(9, 9) << QPoint(11, 7)
                                     << QPoint(14, 11));
            break;
        case cmd::IMPORT_IMAGE_SEQUENCE:
            for (int k = 2; k >= 0; --k) {
                p.setBrush(k == 0 ? QColor(120, 170, 230) : paper);
                p.drawRect(1 + 2 * k, 1 + 2 * k, 9, 8);
            }
            break;
        case cmd::SAVE_CORRESPONDENCES:
            disk(QColor(40, 130, 40));
            break;
        case cmd::GRID:
            p.setPen(QPen(QColor(0, 0, 255), 1));
            for (int k = 1; k <= 14; k += 4) {
                p.drawLine(k, 1, k, 13);
                p.drawLine(1, k, 13, k);
            }
            break;
        case cmd::SHRINK_LARGE_IMAGES:
            p.setBrush(paper);
            p.drawRect(1, 1, 13, 12);
            p.setBrush(accent);
            p.drawRect(5, 5, 5, 4);
            break;
        case cmd::FRAME_BACK: arrow(false); break;
        case cmd::FRAME_FORWARD: arrow(true); break;
        case cmd::APP_ABOUT: {
            QFont font = p.font();
            font.setPixelSize(13);
            font.setBold(true);
            p.setFont(font);
            p.setPen(accent);
            p.drawText(QRect(0, 0, 16, 15), Qt::AlignCenter, QStringLiteral("?"));
            break;
        }
        default: break;
    }
    p.end();
    return pixmap;
}

QIcon toolIcon(int id) {
    QIcon icon;
    for (int ratio : {1, 2}) icon.addPixmap(toolPixmap(id, ratio));
    return icon;
}

// What a failure that escaped a command was, in words.
QString failureReason(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const Fatal_Error& e) {
        return QStringLiteral("a geometry check failed (%1)").arg(QString::fromLocal8Bit(e.what()));
    } catch (const cv::Exception& e) {
        return QStringLiteral("the vision library reported an error (%1)").arg(QString::fromLocal8Bit(e.what()));
    } catch (const std::bad_alloc&) {
        return QStringLiteral("out of memory");
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("unknown error");
    }
}

}  // namespace

CMainFrame::CMainFrame(CVexelApp* app, CVexelDoc* doc, QWidget* parent)
    : QMainWindow(parent), m_app(app), m_doc(doc), m_view(new CVexelView(doc, this)) {
    setWindowTitle(QStringLiteral("Vexel"));
    setCentralWidget(m_view);
    m_reportFailure = [this](const QString& command, const QString& reason) {
        QMessageBox::critical(this, QStringLiteral("Vexel"),
                              QStringLiteral("The command \"%1\" failed: %2\nThe document has been kept.")
                                  .arg(command, reason));
    };
    CreateActions();
    CreateMenus();
    CreateToolBar();
    CreateStatusBar();
    CreateDocks();
    setAcceptDrops(true);
    // Frames larger than the window are shown whole.
    m_view->SetZoom(CVexelView::Zoom::Fit);
    connect(m_view, &CVexelView::UndistortionRefused, this, &CMainFrame::ShowResult);
    UpdateCommandUi();
    // 1024 x 768, or 90 % of the screen where that is smaller.
    QSize size(1024, 768);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QSize room = screen->availableGeometry().size() * 0.9;
        size = size.boundedTo(room);
    }
    resize(size);
}

CMainFrame::~CMainFrame() {
    // A command still running would use this window; it is asked to stop and
    // waited for (its questions are still answered meanwhile).
    while (m_running) {
        if (m_app && m_app->Ui()) m_app->Ui()->RequestCancel();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
}

QAction* CMainFrame::MakeAction(int id, const char* menuText, const char* prompt) {
    const QString full = QString::fromLatin1(menuText);
    const qsizetype tab = full.indexOf(QLatin1Char('\t'));
    auto* action = new QAction(tab < 0 ? full : full.left(tab), this);
    action->setData(id);
    QList<QKeySequence> keys;
    if (tab >= 0) keys << QKeySequence(full.mid(tab + 1), QKeySequence::PortableText);
    for (const ExtraKey& extra : EXTRA_KEYS)
        if (extra.id == id) keys << QKeySequence(QString::fromLatin1(extra.key), QKeySequence::PortableText);
    if (!keys.isEmpty()) action->setShortcuts(keys);
    action->setShortcutContext(Qt::WindowShortcut);

    const QString text = QString::fromLatin1(prompt);
    const qsizetype newline = text.indexOf(QLatin1Char('\n'));
    action->setStatusTip(newline < 0 ? text : text.left(newline));
    if (newline >= 0) action->setToolTip(text.mid(newline + 1));
    connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    // Every action is the window's own, so its keys work also when its menu
    // is closed or it has no menu item at all.
    addAction(action);
    m_actions[id] = action;
    return action;
}

void CMainFrame::CreateActions() {
    for (const CommandText& command : COMMANDS) MakeAction(command.id, command.menuText, command.prompt);
    const std::vector<CalibrationExportFormat>& formats = calibrationExportFormats();
    for (std::size_t i = 0; i < formats.size() && cmd::EXPORT_CALIBRATION_FIRST + static_cast<int>(i) <= cmd::EXPORT_CALIBRATION_LAST; ++i) {
        const std::string prompt = std::string("Export the calibration: ") + formats[i].name;
        MakeAction(cmd::EXPORT_CALIBRATION_FIRST + static_cast<int>(i), formats[i].name, prompt.c_str());
    }
    for (int id : {cmd::GRID, cmd::SHRINK_LARGE_IMAGES, cmd::VIEW_TOOLBAR, cmd::VIEW_STATUS_BAR,
                   cmd::VIEW_UNDISTORTED, cmd::VIEW_COVERAGE, cmd::REFINE_CORNERS, cmd::VIEW_FIT_TO_WINDOW,
                   cmd::VIEW_RESIDUALS, cmd::VIEW_POSES, cmd::VIEW_UNCERTAINTY,
                   cmd::BOARD_FLEX})
        m_actions[id]->setCheckable(true);
    // One lens model at a time is checked.
    auto* models = new QActionGroup(this);
    for (int id : LENS_MODEL_COMMANDS) {
        m_actions[id]->setCheckable(true);
        models->addAction(m_actions[id]);
    }
    for (auto& [id, action] : m_actions) action->setIcon(toolIcon(id));
}

QAction* CMainFrame::Action(int id) const {
    auto it = m_actions.find(id);
    return it == m_actions.end() ? nullptr : it->second;
}

QString CMainFrame::CommandName(int id) const {
    QAction* action = Action(id);
    if (!action) return QStringLiteral("command %1").arg(id);
    QString name = action->text();
    name.remove(QLatin1Char('&'));
    if (name.endsWith(QStringLiteral("..."))) name.chop(3);
    return name;
}

void CMainFrame::CreateMenus() {
    auto add = [this](QMenu* menu, std::initializer_list<int> ids) {
        for (int id : ids) {
            if (id == 0)
                menu->addSeparator();
            else
                menu->addAction(m_actions.at(id));
        }
    };
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    add(file, {cmd::FILE_NEW, cmd::IMPORT_IMAGES, cmd::IMPORT_IMAGE_SEQUENCE, cmd::IMPORT_VSQ, cmd::IMPORT_VIDEO,
               cmd::LOAD_CALIBRATION, 0,
               cmd::SAVE_CORRESPONDENCES, cmd::SAVE_CALIBRATION});
    QMenu* exports = file->addMenu(QStringLiteral("Expor&t Calibration"));
    exports->menuAction()->setObjectName(QStringLiteral("exportCalibration"));
    for (int id = cmd::EXPORT_CALIBRATION_FIRST; id <= cmd::EXPORT_CALIBRATION_LAST; ++id)
        if (QAction* action = Action(id)) exports->addAction(action);
    add(file, {0, cmd::OPEN_SESSION, cmd::SAVE_SESSION, cmd::SAVE_SESSION_AS, 0, cmd::APP_EXIT});
    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    add(view, {cmd::VIEW_TOOLBAR, cmd::VIEW_STATUS_BAR, 0, cmd::GRID, cmd::SHRINK_LARGE_IMAGES, 0, cmd::FRAME_FORWARD,
               cmd::FRAME_BACK, 0, cmd::VIEW_UNDISTORTED, cmd::VIEW_COVERAGE, 0, cmd::VIEW_FIT_TO_WINDOW,
               cmd::ZOOM_IN, cmd::ZOOM_OUT, cmd::ACTUAL_SIZE, 0, cmd::VIEW_RESIDUALS, cmd::VIEW_POSES,
               cmd::VIEW_UNCERTAINTY});
    QMenu* calibration = menuBar()->addMenu(QStringLiteral("&Calibration"));
    add(calibration, {cmd::EXTRACT_GRIDS, cmd::INTRINSIC_CALIBRATION, cmd::EXTRINSIC_CALIBRATION, 0,
                      cmd::REFINE_CORNERS, cmd::USE_ALL_FRAMES, 0, cmd::CELL_SIZE, 0});
    QMenu* lens = calibration->addMenu(QStringLiteral("&Lens Model"));
    for (int id : LENS_MODEL_COMMANDS) {
        if (id == cmd::LENS_MODEL_AUTO) lens->addSeparator();
        lens->addAction(m_actions.at(id));
    }
    connect(lens, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUi);
    add(calibration, {cmd::BOARD_FLEX});
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    add(help, {cmd::APP_ABOUT});
    for (QMenu* menu : {file, view, calibration, help})
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUi);
}

void CMainFrame::CreateToolBar() {
    m_toolBar = new QToolBar(QStringLiteral("Toolbar"), this);
    m_toolBar->setObjectName(QStringLiteral("toolBar"));
    m_toolBar->setIconSize(QSize(16, 15));
    m_toolBar->setMovable(true);
    m_toolBar->setFloatable(true);
    m_toolBar->setAllowedAreas(Qt::AllToolBarAreas);
    m_toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    for (int id : TOOLBAR) {
        if (id == 0)
            m_toolBar->addSeparator();
        else
            m_toolBar->addAction(m_actions.at(id));
    }
    addToolBar(Qt::TopToolBarArea, m_toolBar);
}

void CMainFrame::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    // The last result of a command stays here while prompts come and go in
    // the message pane. (No lock-key indicators: the toolkit cannot read
    // those keys' state.)
    m_result = new QLabel(bar);
    m_result->setObjectName(QStringLiteral("result"));
    m_result->setMinimumWidth(0);
    m_result->setTextFormat(Qt::PlainText);
    m_result->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    bar->addPermanentWidget(m_result);
    // The message pane says "Ready" whenever nothing else is shown there.
    connect(bar, &QStatusBar::messageChanged, this, [bar](const QString& message) {
        if (message.isEmpty()) bar->showMessage(QStringLiteral("Ready"));
    });
    bar->showMessage(QStringLiteral("Ready"));
}

void CMainFrame::UpdateCommandUi() {
    // The document is not read while a command changes it on the worker.
    if (!m_running) {
        if (QAction* grid = Action(cmd::GRID)) grid->setChecked(m_doc && m_doc->ShowGrid());
        if (QAction* refine = Action(cmd::REFINE_CORNERS)) refine->setChecked(m_doc && m_doc->RefineCorners());
        if (QAction* flex = Action(cmd::BOARD_FLEX)) flex->setChecked(m_doc && m_doc->BoardFlexOn());
        if (m_doc) {
            const int checked = m_doc->ChooseLensModel()
                                    ? cmd::LENS_MODEL_AUTO
                                    : LENS_MODEL_COMMANDS[static_cast<int>(m_doc->LensModelSetting())];
            if (QAction* model = Action(checked)) model->setChecked(true);
        }
        if (QAction* undistorted = Action(cmd::VIEW_UNDISTORTED)) undistorted->setChecked(m_view->Undistorted());
        // The lists follow when the command has finished.
        RefreshDocks();
    }
    if (QAction* shrink = Action(cmd::SHRINK_LARGE_IMAGES)) shrink->setChecked(m_view->ShrinkLargeImages());
    if (QAction* tools = Action(cmd::VIEW_TOOLBAR)) tools->setChecked(m_toolBar && !m_toolBar->isHidden());
    if (QAction* status = Action(cmd::VIEW_STATUS_BAR)) status->setChecked(!statusBar()->isHidden());
    if (QAction* coverage = Action(cmd::VIEW_COVERAGE)) coverage->setChecked(m_view->Coverage());
    if (QAction* fit = Action(cmd::VIEW_FIT_TO_WINDOW)) fit->setChecked(m_view->ZoomMode() == CVexelView::Zoom::Fit);
    if (QAction* residuals = Action(cmd::VIEW_RESIDUALS)) residuals->setChecked(m_view->Residuals());
    if (QAction* uncertainty = Action(cmd::VIEW_UNCERTAINTY)) uncertainty->setChecked(m_view->Uncertainty());
    if (QAction* poses = Action(cmd::VIEW_POSES)) poses->setChecked(m_poseDock && !m_poseDock->isHidden());
}

bool CMainFrame::RunGuarded(const QString& name, const std::function<void()>& command) {
    // A command on this thread starts with no stop asked for, as one on the
    // worker does: a Cancel pressed for an earlier command is over. (While a
    // command runs on the worker, its Cancel stays.)
    if (!m_running && m_app && m_app->Ui()) m_app->Ui()->ResetCancel();
    try {
        command();
        return true;
    } catch (...) {
        ReportFailure(name, failureReason(std::current_exception()));
    }
    return false;
}

void CMainFrame::ReportFailure(const QString& name, const QString& reason) {
    // The command left early: put the cursor back and show what there is.
    if (m_app && m_app->Ui()) m_app->Ui()->ResetBusy();
    try {
        m_view->OnUpdate();
    } catch (...) {
    }
    UpdateCommandUi();
    if (m_reportFailure) m_reportFailure(name, reason);
}

bool CMainFrame::RunsOnWorker(int id) const {
    if (!m_doc) return false;
    switch (id) {
        case cmd::EXTRACT_GRIDS:
        case cmd::INTRINSIC_CALIBRATION:
        case cmd::EXTRINSIC_CALIBRATION:
        case cmd::IMPORT_VIDEO:
        // A session of a video decodes it again.
        case cmd::OPEN_SESSION:
        case cmd::FILE_OPEN: return true;
        // Quick unless they first search the frames not searched yet.
        case cmd::GRID: return !m_doc->ShowGrid() && m_doc->FramesNotExtracted() > 0;
        case cmd::SAVE_CORRESPONDENCES: return m_doc->FramesNotExtracted() > 0;
        default: return false;
    }
}

bool CMainFrame::RunOnWorker(const QString& name, const std::function<void()>& command) {
    QtDocumentUi* ui = m_app ? m_app->Ui() : nullptr;
    if (ui) ui->ResetCancel();
    m_running = true;
    // Every action that is enabled now is disabled for the command's length.
    std::vector<QAction*> disabled;
    for (auto& [id, action] : m_actions)
        if (action->isEnabled()) {
            action->setEnabled(false);
            disabled.push_back(action);
        }
    // While the worker runs, the view draws what it took from the document
    // at the last update and the pixels it copies under the lock.
    m_view->SetDocumentBusy(true);

    QProgressDialog dialog(QStringLiteral("%1...").arg(name), QStringLiteral("Cancel"), 0, 0, this);
    dialog.setWindowTitle(name);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setAutoReset(false);
    dialog.setAutoClose(false);
    dialog.setMinimumDuration(0);
    dialog.setMinimumWidth(360);
    connect(&dialog, &QProgressDialog::canceled, this, [ui, &dialog] {
        if (ui) ui->RequestCancel();
        dialog.setLabelText(QStringLiteral("Stopping after this step..."));
        // The window stays until the command has stopped.
        dialog.show();
    });
    m_progress = &dialog;
    dialog.show();

    std::exception_ptr failure;
    bool finished = false;
    QEventLoop loop;
    std::thread worker([&] {
        try {
            command();
        } catch (...) {
            failure = std::current_exception();
        }
        QMetaObject::invokeMethod(
            &loop,
            [&] {
                finished = true;
                loop.quit();
            },
            Qt::QueuedConnection);
    });
    // The window keeps repainting and the progress window answers while
    // the command runs; commands stay disabled.
    while (!finished) loop.exec();
    worker.join();

    m_progress = nullptr;
    // The keys go back to this window when the progress window had them.
    const bool hadFocus = dialog.isActiveWindow();
    dialog.hide();
    if (hadFocus && isVisible()) activateWindow();
    m_view->SetDocumentBusy(false);
    for (QAction* action : disabled) action->setEnabled(true);
    m_running = false;
    if (failure) {
        ReportFailure(name, failureReason(failure));
        return false;
    }
    m_view->OnUpdate();
    return true;
}

void CMainFrame::ShowProgress(const QString& text, int done, int total) {
    if (!m_progress || m_progress->wasCanceled()) return;
    m_progress->setLabelText(text);
    m_progress->setMaximum(std::max(total, 0));
    m_progress->setValue(total > 0 ? std::clamp(done, 0, total) : 0);
}

void CMainFrame::ShowResult(const QString& text) {
    if (!m_result) return;
    m_result->setText(text);
    m_result->setToolTip(text);
}

void CMainFrame::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    // The result leaves room for the prompts; the whole text is its tooltip.
    if (m_result) m_result->setMaximumWidth(width() * 3 / 5);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (m_running) {
        // The running command is asked to stop; the window stays until it has.
        if (m_app && m_app->Ui()) m_app->Ui()->RequestCancel();
        event->ignore();
        return;
    }
    bool mayClose = true;
    // A failure while asking or saving keeps the window and its work.
    if (m_doc && !RunGuarded(QStringLiteral("Exit"), [&] { mayClose = m_doc->ConfirmClose(); })) mayClose = false;
    if (mayClose)
        event->accept();
    else
        event->ignore();
}

bool CMainFrame::OnCommand(int id) {
    // One command at a time: the actions are disabled while one runs, and
    // nothing else may start another.
    if (m_running) return false;
    const auto route = [this, id] { RouteCommand(id); };
    const std::string session = m_doc ? m_doc->SessionPath() : std::string();
    const bool done = RunsOnWorker(id) ? RunOnWorker(CommandName(id), route) : RunGuarded(CommandName(id), route);
    if (m_app && m_doc && !m_doc->SessionPath().empty() && m_doc->SessionPath() != session)
        m_app->RecentFiles().Add(QFile::decodeName(QByteArray::fromStdString(m_doc->SessionPath())));
    UpdateCommandUi();
    Q_EMIT commandFinished(id, done);
    return done;
}

void CMainFrame::RouteCommand(int id) {
    switch (id) {
        // The document's commands.
        case cmd::IMPORT_IMAGES: m_doc->OnImportImages(); break;
        case cmd::IMPORT_IMAGE_SEQUENCE: m_doc->OnImportImageSequence(); break;
        case cmd::IMPORT_VSQ: m_doc->OnImportVsq(); break;
        case cmd::IMPORT_VIDEO: m_doc->OnImportVideo(); break;
        case cmd::LOAD_CALIBRATION: m_doc->OnLoadCalibration(); break;
        case cmd::SAVE_CORRESPONDENCES: m_doc->OnSaveCorrespondences(); break;
        case cmd::SAVE_CALIBRATION: m_doc->OnSaveCalibration(); break;
        case cmd::GRID: m_doc->OnGrid(); break;
        case cmd::EXTRACT_GRIDS: m_doc->OnExtractGrids(); break;
        case cmd::REFINE_CORNERS: m_doc->OnRefineCorners(); break;
        case cmd::INTRINSIC_CALIBRATION: m_doc->OnIntrinsicCalibration(); break;
        case cmd::EXTRINSIC_CALIBRATION: m_doc->OnExtrinsicCalibration(); break;
        case cmd::FRAME_FORWARD: m_doc->OnFrameForward(); break;
        case cmd::FRAME_BACK: m_doc->OnFrameBack(); break;
        case cmd::USE_ALL_FRAMES: m_doc->OnUseAllFrames(); break;
        case cmd::LENS_MODEL_OPENCV4: m_doc->OnLensModel(LensModel::OpenCv4); break;
        case cmd::LENS_MODEL_OPENCV5: m_doc->OnLensModel(LensModel::OpenCv5); break;
        case cmd::LENS_MODEL_RATIONAL: m_doc->OnLensModel(LensModel::Rational); break;
        case cmd::LENS_MODEL_FISHEYE: m_doc->OnLensModel(LensModel::Fisheye); break;
        case cmd::LENS_MODEL_AUTO: m_doc->OnLensModelAuto(); break;
        case cmd::BOARD_FLEX: m_doc->OnBoardFlex(); break;
        // The framework's Open and Save keys open and save sessions.
        case cmd::OPEN_SESSION:
        case cmd::FILE_OPEN: m_doc->OnOpenSession(); break;
        case cmd::SAVE_SESSION:
        case cmd::FILE_SAVE: m_doc->OnSaveSession(); break;
        case cmd::SAVE_SESSION_AS: m_doc->OnSaveSessionAs(); break;
        // The view's.
        case cmd::SHRINK_LARGE_IMAGES: m_view->OnShrinkLargeImages(); break;
        case cmd::VIEW_UNDISTORTED:
            if (!m_view->OnUndistorted()) {
                const QString problem = m_view->UndistortionProblem();
                statusBar()->showMessage(problem);
                ShowResult(problem);
            }
            break;
        case cmd::VIEW_COVERAGE:
            if (!m_view->OnCoverage()) {
                statusBar()->showMessage(m_view->CoverageProblem());
                ShowResult(m_view->CoverageProblem());
            }
            break;
        case cmd::VIEW_FIT_TO_WINDOW: m_view->OnFitToWindow(); break;
        case cmd::ZOOM_IN: m_view->OnZoomIn(); break;
        case cmd::ZOOM_OUT: m_view->OnZoomOut(); break;
        case cmd::ACTUAL_SIZE: m_view->OnActualSize(); break;
        case cmd::CELL_SIZE: OnCellSize(); break;
        case cmd::VIEW_RESIDUALS:
            m_view->OnResiduals();
            if (m_view->Residuals()) {
                ShowDock(m_calibrationPanel);
                m_calibrationPanel->ShowFigure(m_residualPlot);
            }
            break;
        case cmd::VIEW_UNCERTAINTY:
            m_view->OnUncertainty();
            if (m_view->Uncertainty()) ShowDock(m_calibrationPanel);
            break;
        case cmd::VIEW_POSES:
            if (m_poseDock->isHidden())
                ShowDock(m_poseDock);
            else
                m_poseDock->hide();
            break;
        case cmd::FILE_PRINT:
            if (!m_view->OnFilePrint()) ShowResult(QStringLiteral("Printing is not available"));
            break;
        // The application's.
        case cmd::FILE_NEW: if (m_app) m_app->OnFileNew(); break;
        case cmd::APP_ABOUT: if (m_app) m_app->OnAppAbout(); break;
        // The frame's own.
        case cmd::VIEW_TOOLBAR: m_toolBar->setHidden(!m_toolBar->isHidden()); break;
        case cmd::VIEW_STATUS_BAR: statusBar()->setHidden(!statusBar()->isHidden()); break;
        case cmd::APP_EXIT: close(); break;
        // Undo, Cut, Copy, Paste and the pane keys have nothing to act on.
        default:
            if (id >= cmd::EXPORT_CALIBRATION_FIRST && id <= cmd::EXPORT_CALIBRATION_LAST)
                m_doc->OnExportCalibration(id - cmd::EXPORT_CALIBRATION_FIRST);
            break;
    }
}

void CMainFrame::OnCellSize() {
    bool ok = false;
    const double millimetres = QInputDialog::getDouble(
        this, QStringLiteral("Cell Size"),
        QStringLiteral("Side of one printed cell in millimetres (0: not set, poses in cells):"), m_doc->CellSizeMm(),
        0.0, CVexelDoc::MAX_CELL_SIZE_MM, 2, &ok);
    if (ok) m_doc->OnCellSize(millimetres);
}

namespace {

// The local files and folders among dropped things.
QStringList droppedFiles(const QMimeData* data) {
    QStringList files;
    if (!data || !data->hasUrls()) return files;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) files << url.toLocalFile();
    return files;
}

}  // namespace

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (!m_running && !droppedFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void CMainFrame::dropEvent(QDropEvent* event) {
    const QStringList files = droppedFiles(event->mimeData());
    if (m_running || files.isEmpty() || !m_app) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    m_app->ImportFiles(files);
}
