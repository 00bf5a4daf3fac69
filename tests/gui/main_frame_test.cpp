// The application shell: menus, toolbar, accelerators, status bar, title,
// start-up imports, settings and the guard around every command.

#include "gui/gui_fixture.h"
#include "geomlib/fatal_error.h"

#include <QAbstractButton>
#include <QAction>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressDialog>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include <filesystem>
#include <fstream>
#include <new>
#include <stdexcept>

#include <opencv2/core.hpp>
#include <unistd.h>

#include "app/command_ids.h"
#include "app/main_frame.h"
#include "app/qt_document_ui.h"
#include "app/reference_frame_dlg.h"
#include "app/vexel_app.h"
#include "view/vexel_view.h"
#include "support/document_access.h"
#include "support/temp_dir.h"

using namespace vexel::test;
namespace cmd = vexel::cmd;

namespace {

const std::string FRONTAL = std::string(VEXEL_TEST_DATA_DIR) + "/frames/frontal.pgm";
const std::string STEEP = std::string(VEXEL_TEST_DATA_DIR) + "/frames/steep.pgm";

class MainFrameTest : public GuiTest {
protected:
    void SetUp() override {
        app = std::make_unique<CVexelApp>();
        ASSERT_TRUE(app->InitInstance({}, /*show=*/false));
        frame = app->MainFrame();
        frame->SetFailureReporter([this](const QString& command, const QString& reason) {
            failures.push_back(command.toStdString() + ": " + reason.toStdString());
        });
    }
    void TearDown() override { app.reset(); }

    // Runs `check` on the first modal window that `open` shows, other than
    // a command's progress window, then closes it.
    void withModal(const std::function<void()>& open, const std::function<void(QWidget*)>& check) {
        bool seen = false;
        QTimer poll;
        poll.setInterval(5);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal || qobject_cast<QProgressDialog*>(modal)) return;
            poll.stop();
            seen = true;
            check(modal);
            modal->close();
        });
        poll.start();
        open();
        poll.stop();
        EXPECT_TRUE(seen);
    }

    std::unique_ptr<CVexelApp> app;
    CMainFrame* frame = nullptr;
    std::vector<std::string> failures;
};

struct Item {
    const char* text;  // empty: separator
    int id;
    const char* shortcut;
};

TEST_F(MainFrameTest, MenusHoldTheirItemsWithTextsIdentifiersAndKeys) {
    const std::vector<std::pair<QString, std::vector<Item>>> expected = {
        {"&File",
         {{"&New", cmd::FILE_NEW, "Ctrl+N"},
          {"&Import Image(s)...", 32771, ""},
          {"Import Image &Sequence...", 32773, ""},
          {"Import &VSQ...", 32774, ""},
          {"Import Vi&deo...", cmd::IMPORT_VIDEO, ""},
          {"&Load Calibration...", 32775, ""},
          {"", 0, ""},
          {"Save C&orrespondences...", 32776, ""},
          {"Save &Calibration...", 32777, ""},
          {"Expor&t Calibration", 0, ""},
          {"", 0, ""},
          {"O&pen Session...", cmd::OPEN_SESSION, ""},
          {"Save S&ession", cmd::SAVE_SESSION, ""},
          {"Save Session &As...", cmd::SAVE_SESSION_AS, ""},
          {"", 0, ""},
          {"E&xit", 57665, ""}}},
        {"&View",
         {{"&Toolbar", 59392, ""},
          {"&Status Bar", 59393, ""},
          {"", 0, ""},
          {"&Grid", 32778, ""},
          {"Shrin&k Large Images", 32788, ""},
          {"", 0, ""},
          {"Frame &Forward", 32782, "Right"},
          {"Frame &Back", 32783, "Left"},
          {"", 0, ""},
          {"&Undistorted", cmd::VIEW_UNDISTORTED, ""},
          {"&Coverage", cmd::VIEW_COVERAGE, ""},
          {"", 0, ""},
          {"Fit to &Window", cmd::VIEW_FIT_TO_WINDOW, ""},
          {"Zoom &In", cmd::ZOOM_IN, "Ctrl++"},
          {"Zoom &Out", cmd::ZOOM_OUT, "Ctrl+-"},
          {"&Actual Size", cmd::ACTUAL_SIZE, "Ctrl+0"},
          {"", 0, ""},
          {"&Residuals", cmd::VIEW_RESIDUALS, ""},
          {"&Poses", cmd::VIEW_POSES, ""},
          {"Unc&ertainty", cmd::VIEW_UNCERTAINTY, ""}}},
        {"&Calibration",
         {{"&Extract Grid(s)", 32779, "F5"},
          {"&Intrinsic Calibration", 32780, "F6"},
          {"E&xtrinsic Calibration", 32781, "F7"},
          {"", 0, ""},
          {"&Refine Corners", cmd::REFINE_CORNERS, ""},
          {"&Use All Frames", cmd::USE_ALL_FRAMES, ""},
          {"", 0, ""},
          {"Cell &Size...", cmd::CELL_SIZE, ""},
          {"", 0, ""},
          {"&Lens Model", 0, ""},
          {"&Board Flex", cmd::BOARD_FLEX, ""}}},
        {"&Help", {{"&About Vexel...", 57664, ""}}},
    };
    const QList<QAction*> menus = frame->menuBar()->actions();
    ASSERT_EQ(menus.size(), static_cast<qsizetype>(expected.size()));
    for (std::size_t m = 0; m < expected.size(); ++m) {
        QMenu* menu = menus[static_cast<qsizetype>(m)]->menu();
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(menu->title(), expected[m].first);
        const QList<QAction*> items = menu->actions();
        ASSERT_EQ(items.size(), static_cast<qsizetype>(expected[m].second.size())) << menu->title().toStdString();
        for (std::size_t i = 0; i < expected[m].second.size(); ++i) {
            const Item& want = expected[m].second[i];
            QAction* item = items[static_cast<qsizetype>(i)];
            SCOPED_TRACE(want.text);
            if (*want.text == '\0') {
                EXPECT_TRUE(item->isSeparator());
                continue;
            }
            EXPECT_EQ(item->text(), QString(want.text));
            if (want.id == 0) {  // a submenu
                EXPECT_NE(item->menu(), nullptr);
                continue;
            }
            EXPECT_EQ(item->data().toInt(), want.id);
            EXPECT_EQ(item->shortcut(), QKeySequence(QString(want.shortcut)));
            EXPECT_EQ(frame->Action(want.id), item);
        }
        // Every item's mnemonic is its own within the menu.
        QString mnemonics;
        for (QAction* item : items) {
            const qsizetype amp = item->text().indexOf(QLatin1Char('&'));
            if (item->isSeparator()) continue;
            ASSERT_GE(amp, 0) << item->text().toStdString();
            const QChar key = item->text().at(amp + 1).toLower();
            EXPECT_FALSE(mnemonics.contains(key)) << item->text().toStdString();
            mnemonics += key;
        }
    }
}

TEST_F(MainFrameTest, PromptsTooltipsAndAccelerators) {
    EXPECT_EQ(frame->Action(32771)->statusTip(), "Load individual image(s)");
    EXPECT_EQ(frame->Action(32771)->toolTip(), "Import Image(s)");
    EXPECT_EQ(frame->Action(32773)->statusTip(),
              "Load an image-list file. (Text file containing names of image files.)");
    EXPECT_EQ(frame->Action(32774)->statusTip(), "Load a Tessary video sequence file.");
    EXPECT_EQ(frame->Action(32776)->toolTip(), "Save Pattern Correspondences");
    EXPECT_EQ(frame->Action(32778)->toolTip(), "View Grid Quads");
    EXPECT_EQ(frame->Action(32781)->statusTip(),
              "Find cameras position and orientation. Requires intrinsic calibration.");
    EXPECT_EQ(frame->Action(32788)->statusTip(),
              "Toggles whether large images are displayed at reduced or actual size");

    // Keys without a menu item are the window's own actions.
    const QList<QAction*> own = frame->actions();
    for (const auto& [id, keys] : std::vector<std::pair<int, QStringList>>{
             {cmd::FILE_OPEN, {"Ctrl+O"}},
             {cmd::FILE_SAVE, {"Ctrl+S"}},
             {cmd::FILE_PRINT, {"Ctrl+P"}},
             {cmd::EDIT_UNDO, {"Ctrl+Z", "Alt+Backspace"}},
             {cmd::EDIT_CUT, {"Ctrl+X", "Shift+Del"}},
             {cmd::EDIT_COPY, {"Ctrl+C", "Ctrl+Ins"}},
             {cmd::EDIT_PASTE, {"Ctrl+V", "Shift+Ins"}},
             {cmd::FRAME_FORWARD, {"Right", "PgDown"}},
             {cmd::FRAME_BACK, {"Left", "PgUp"}},
             // F6 is Intrinsic Calibration's; the pane keys moved to Ctrl.
             {cmd::NEXT_PANE, {"Ctrl+F6"}},
             {cmd::PREV_PANE, {"Ctrl+Shift+F6"}}}) {
        QAction* action = frame->Action(id);
        ASSERT_NE(action, nullptr) << id;
        EXPECT_TRUE(own.contains(action));
        QList<QKeySequence> want;
        for (const QString& key : keys) want << QKeySequence(key);
        EXPECT_EQ(action->shortcuts(), want) << id;
    }
    // Undo, Cut, Copy and Paste do nothing and do not fail.
    for (int id : {cmd::EDIT_UNDO, cmd::EDIT_CUT, cmd::EDIT_COPY, cmd::EDIT_PASTE}) EXPECT_TRUE(frame->OnCommand(id));
    EXPECT_TRUE(failures.empty());
}

TEST_F(MainFrameTest, FirstWindowFitsTheScreen) {
    const QSize room = QGuiApplication::primaryScreen()->availableGeometry().size();
    EXPECT_EQ(frame->size(), QSize(1024, 768).boundedTo(room * 0.9));
}

TEST_F(MainFrameTest, ToolbarButtonsInOrder) {
    std::vector<int> ids;
    for (QAction* action : frame->ToolBar()->actions()) ids.push_back(action->isSeparator() ? 0 : action->data().toInt());
    const std::vector<int> expected = {57600, 32775, 32777, 0, 32771, 32773, 32776, 0,
                                       32778, 32788, 0,     32783, 32782, 0,     57664};
    EXPECT_EQ(ids, expected);
    EXPECT_EQ(frame->ToolBar()->iconSize(), QSize(16, 15));
    EXPECT_EQ(frame->ToolBar()->allowedAreas(), Qt::AllToolBarAreas);
}

TEST_F(MainFrameTest, StatusBarSaysReadyWhenIdleAndKeepsTheLastResult) {
    QStatusBar* bar = frame->statusBar();
    EXPECT_EQ(bar->currentMessage(), "Ready");
    // A command's result stays in its own field while prompts come and go.
    app->Ui()->showStatus("Extract Grid(s): 1 of 2 frames");
    EXPECT_EQ(frame->ResultField()->text(), "Extract Grid(s): 1 of 2 frames");
    bar->showMessage(frame->Action(cmd::GRID)->statusTip());
    bar->clearMessage();
    EXPECT_EQ(bar->currentMessage(), "Ready");
    EXPECT_EQ(frame->ResultField()->text(), "Extract Grid(s): 1 of 2 frames");
    EXPECT_TRUE(bar->children().contains(frame->ResultField()));
    // No lock-key indicators that would never change.
    for (const char* name : {"CAP", "NUM", "SCRL"}) EXPECT_EQ(bar->findChild<QLabel*>(name), nullptr) << name;
}

TEST_F(MainFrameTest, CheckMarksFollowGridAndShrink) {
    QAction* grid = frame->Action(cmd::GRID);
    QAction* shrink = frame->Action(cmd::SHRINK_LARGE_IMAGES);
    ASSERT_TRUE(grid->isCheckable());
    ASSERT_TRUE(shrink->isCheckable());
    EXPECT_TRUE(shrink->isChecked());
    EXPECT_FALSE(grid->isChecked());
    shrink->trigger();
    EXPECT_FALSE(frame->View()->ShrinkLargeImages());
    EXPECT_FALSE(shrink->isChecked());
    shrink->trigger();
    EXPECT_TRUE(shrink->isChecked());
    // Without any correspondences the overlay stays off, and so does its mark.
    grid->trigger();
    EXPECT_FALSE(app->Document()->ShowGrid());
    EXPECT_FALSE(grid->isChecked());
    // The Toolbar and Status Bar items show and hide the bars.
    frame->OnCommand(cmd::VIEW_TOOLBAR);
    EXPECT_TRUE(frame->ToolBar()->isHidden());
    EXPECT_FALSE(frame->Action(cmd::VIEW_TOOLBAR)->isChecked());
    frame->OnCommand(cmd::VIEW_TOOLBAR);
    EXPECT_FALSE(frame->ToolBar()->isHidden());
    frame->OnCommand(cmd::VIEW_STATUS_BAR);
    EXPECT_TRUE(frame->statusBar()->isHidden());
}

// Refine Corners is off at first; switched on, the frames searched before
// count as not searched, and the next search refines their corners.
TEST_F(MainFrameTest, RefineCornersIsADocumentSettingOffByDefault) {
    QAction* refine = frame->Action(cmd::REFINE_CORNERS);
    ASSERT_TRUE(refine->isCheckable());
    CVexelDoc* doc = app->Document();
    EXPECT_FALSE(doc->RefineCorners());
    app->ImportFiles({QString::fromStdString(FRONTAL)});
    frame->OnCommand(cmd::EXTRACT_GRIDS);
    EXPECT_FALSE(refine->isChecked());
    // What was found is drawn at once; with the overlay off, Refine Corners
    // leaves the search to the next Extract Grid(s).
    EXPECT_TRUE(doc->ShowGrid());
    frame->OnCommand(cmd::GRID);
    const int plain = doc->Grids().getPointCount(0);
    ASSERT_GT(plain, 100);
    GridPoint before{};
    ASSERT_TRUE(doc->Grids().getImagePoint(0, 0, before));

    refine->trigger();
    EXPECT_TRUE(doc->RefineCorners());
    EXPECT_TRUE(refine->isChecked());
    EXPECT_FALSE(doc->GridOf(0).searched);
    EXPECT_EQ(frame->ResultField()->text(), "Refine Corners on: the grids are searched again");
    frame->OnCommand(cmd::EXTRACT_GRIDS);
    EXPECT_TRUE(doc->GridOf(0).searched);
    EXPECT_GE(doc->Grids().getPointCount(0), plain - 2);
    GridPoint after{};
    ASSERT_TRUE(doc->Grids().getImagePoint(0, 0, after));
    EXPECT_TRUE(after.x != before.x || after.y != before.y);

    refine->trigger();
    EXPECT_FALSE(doc->RefineCorners());
    EXPECT_FALSE(refine->isChecked());
}

// Calibration > Lens Model checks one model, the default at first; the
// choice and Board Flex are what the next Intrinsic Calibration uses.
TEST_F(MainFrameTest, LensModelSubmenuAndBoardFlexSetTheNextCalibration) {
    QMenu* lens = nullptr;
    for (QAction* item : frame->menuBar()->actions()[2]->menu()->actions())
        if (item->text() == "&Lens Model") lens = item->menu();
    ASSERT_NE(lens, nullptr);
    QStringList texts;
    for (QAction* item : lens->actions()) texts << item->text();
    EXPECT_EQ(texts, QStringList({"opencv&4 (k1 k2 p1 p2)", "opencv&5 (k1 k2 p1 p2 k3)", "&rational (k1 .. k6, p1 p2)",
                                  "&fisheye (equidistant, k1 .. k4)", "", "&auto"}));
    frame->UpdateCommandUi();
    EXPECT_TRUE(frame->Action(cmd::LENS_MODEL_OPENCV4)->isChecked());

    CVexelDoc* doc = app->Document();
    frame->Action(cmd::LENS_MODEL_FISHEYE)->trigger();
    EXPECT_EQ(doc->LensModelSetting(), LensModel::Fisheye);
    EXPECT_TRUE(frame->Action(cmd::LENS_MODEL_FISHEYE)->isChecked());
    EXPECT_FALSE(frame->Action(cmd::LENS_MODEL_OPENCV4)->isChecked());
    frame->Action(cmd::LENS_MODEL_AUTO)->trigger();
    frame->Action(cmd::BOARD_FLEX)->trigger();
    EXPECT_TRUE(frame->Action(cmd::BOARD_FLEX)->isChecked());
    const IntrinsicOptions options = doc->IntrinsicSettings();
    EXPECT_TRUE(options.chooseModel);
    EXPECT_TRUE(options.boardFlex);
    EXPECT_TRUE(frame->Action(cmd::LENS_MODEL_AUTO)->isChecked());
}

TEST_F(MainFrameTest, TitleNamesTheFirstOfTwoImportedImages) {
    EXPECT_EQ(frame->windowTitle(), "Vexel");
    app->ImportFiles({QString::fromStdString(FRONTAL), QString::fromStdString(STEEP)});
    EXPECT_EQ(app->Document()->FrameCount(), 2);
    EXPECT_EQ(frame->windowTitle().toStdString(), "Vexel: image 0, " + FRONTAL + ", 640 x 480");
    frame->OnCommand(cmd::FRAME_FORWARD);
    EXPECT_EQ(frame->windowTitle().toStdString(), "Vexel: image 1, " + STEEP + ", 640 x 480");
    EXPECT_EQ(frame->View()->ImageWidth(), 640);
    // New empties the list; the title says the document is empty.
    frame->OnCommand(cmd::FILE_NEW);
    EXPECT_EQ(app->Document()->FrameCount(), 0);
    EXPECT_EQ(frame->windowTitle(), "Vexel");
}

TEST_F(MainFrameTest, StartupFilesAreImportedByExtension) {
    const TempDir dir("gui_startup");
    const std::filesystem::path list = dir / "startup.iml";
    {
        std::ofstream out(list);
        out << STEEP << "\n" << FRONTAL << "\n";
    }
    CVexelApp second;
    ASSERT_TRUE(second.InitInstance({QString::fromStdString(FRONTAL), QString::fromStdString(list.string())}, false));
    const std::vector<std::string> expected = {FRONTAL, STEEP, FRONTAL};
    EXPECT_EQ(second.Document()->FrameNames(), expected);
    EXPECT_EQ(second.MainFrame()->windowTitle().toStdString(), "Vexel: image 0, " + FRONTAL + ", 640 x 480");
}

TEST_F(MainFrameTest, FailingCommandIsReportedAndTheDocumentLivesOn) {
    app->ImportFiles({QString::fromStdString(FRONTAL)});
    QtDocumentUi* ui = app->Ui();
    const std::vector<std::function<void()>> throwers = {
        [] { throw Fatal_Error(); },
        [] { throw cv::Exception(cv::Error::StsBadArg, "bad argument", "calibrate", __FILE__, __LINE__); },
        [] { throw std::bad_alloc(); },
        [] { throw std::runtime_error("disk on fire"); },
        [] { throw 42; },
    };
    for (const auto& thrower : throwers) {
        failures.clear();
        const bool done = frame->RunGuarded("Extract Grid(s)", [&] {
            ui->setBusy(true);
            ui->setBusy(true);
            thrower();
        });
        EXPECT_FALSE(done);
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_EQ(failures[0].rfind("Extract Grid(s): ", 0), 0u) << failures[0];
        EXPECT_EQ(ui->BusyDepth(), 0);
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }
    EXPECT_NE(failures[0].find("unknown"), std::string::npos);
    // The working set is still there and commands still run.
    EXPECT_EQ(app->Document()->FrameCount(), 1);
    failures.clear();
    EXPECT_TRUE(frame->OnCommand(cmd::FRAME_FORWARD));
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(frame->CommandName(cmd::IMPORT_IMAGES), "Import Image(s)");
    EXPECT_EQ(frame->CommandName(cmd::FILE_NEW), "New");
}

TEST_F(MainFrameTest, ExtrinsicCalibrationAsksThroughTheQtDialogs) {
    app->ImportFiles({QString::fromStdString(FRONTAL), QString::fromStdString(STEEP)});
    CVexelDoc* doc = app->Document();
    // Without a calibration the command's own message box says so.
    withModal([&] { frame->OnCommand(cmd::EXTRINSIC_CALIBRATION); },
              [](QWidget* box) {
                  auto* message = qobject_cast<QMessageBox*>(box);
                  ASSERT_NE(message, nullptr);
                  EXPECT_EQ(message->text(), "Must have intrinsic calibration before extrinsic parameters can be used.");
              });
    // With one, the reference dialog opens on the current frame; Cancel keeps the reference.
    calibrationOf(*doc) = std::make_unique<CalibrationRecord>();
    frame->OnCommand(cmd::FRAME_FORWARD);
    withModal([&] { frame->OnCommand(cmd::EXTRINSIC_CALIBRATION); },
              [](QWidget* dialog) {
                  auto* chooser = qobject_cast<CReferenceFrameDlg*>(dialog);
                  ASSERT_NE(chooser, nullptr);
                  EXPECT_EQ(chooser->ListBox()->count(), 2);
                  EXPECT_EQ(chooser->ListBox()->currentRow(), 1);
              });
    EXPECT_EQ(doc->ReferenceFrame(), -1);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(failures.empty());
}

TEST_F(MainFrameTest, QuestionsAreAskedWithTheArrowCursor) {
    QtDocumentUi* ui = app->Ui();
    ui->setBusy(true);
    withModal([&] { ui->showMessageBox("Must select an image in which 4 or more points could be mapped."); },
              [](QWidget*) {
                  ASSERT_NE(QApplication::overrideCursor(), nullptr);
                  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::ArrowCursor);
              });
    // The command's wait cursor is back afterwards, until the command ends.
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    ui->setBusy(false);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// Answers the save question that `ask` shows with `button`, checking its
// text and buttons; false when no such question came.
bool answerSaveQuestion(const std::function<void()>& ask, QMessageBox::StandardButton button) {
    bool asked = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        asked = box->text() == "Save the calibration before closing?" &&
                box->standardButtons() == (QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
        box->button(button)->click();
    });
    ask();
    return asked;
}

TEST_F(MainFrameTest, NewAndClosingAskBeforeAChangedCalibrationIsLost) {
    app->ImportFiles({QString::fromStdString(FRONTAL), QString::fromStdString(STEEP)});
    CVexelDoc* doc = app->Document();
    calibrationOf(*doc) = std::make_unique<CalibrationRecord>();
    calibrationModifiedOf(*doc) = true;

    EXPECT_TRUE(answerSaveQuestion([&] { frame->OnCommand(cmd::FILE_NEW); }, QMessageBox::Cancel));
    EXPECT_EQ(doc->FrameCount(), 2);
    EXPECT_TRUE(doc->Calibration());
    bool closed = true;
    EXPECT_TRUE(answerSaveQuestion([&] { closed = frame->close(); }, QMessageBox::Cancel));
    EXPECT_FALSE(closed);
    EXPECT_TRUE(answerSaveQuestion([&] { frame->OnCommand(cmd::APP_EXIT); }, QMessageBox::Cancel));
    EXPECT_TRUE(doc->Calibration());

    EXPECT_TRUE(answerSaveQuestion([&] { frame->OnCommand(cmd::FILE_NEW); }, QMessageBox::Discard));
    EXPECT_EQ(doc->FrameCount(), 0);
    EXPECT_FALSE(doc->Calibration());
    // Nothing left to lose: no question.
    EXPECT_FALSE(answerSaveQuestion([&] { closed = frame->close(); }, QMessageBox::Cancel));
    EXPECT_TRUE(closed);
    EXPECT_TRUE(failures.empty());
}

TEST_F(MainFrameTest, AboutBoxNamesTheVersion) {
    withModal([&] { frame->OnCommand(cmd::APP_ABOUT); },
              [](QWidget* about) {
                  EXPECT_EQ(about->windowTitle(), "About Vexel");
                  bool found = false;
                  for (QLabel* label : about->findChildren<QLabel*>()) found |= label->text() == "Vexel Version 1.0";
                  EXPECT_TRUE(found);
              });
}

TEST_F(MainFrameTest, SettingsAndRecentFiles) {
    EXPECT_EQ(QCoreApplication::organizationName(), "Local AppWizard-Generated Applications");
    EXPECT_EQ(QCoreApplication::applicationName(), "Vexel");
    RecentFileList recent;
    for (const char* name : {"/a", "/b", "/c", "/d", "/e", "/c"}) recent.Add(name);
    const QStringList expected = {"/c", "/e", "/d", "/b"};
    EXPECT_EQ(recent.Files(), expected);
    RecentFileList reloaded;
    reloaded.Load();
    EXPECT_EQ(reloaded.Files(), expected);
    QSettings().remove("Recent File List");
}

TEST(QtDocumentUiFilters, TranslatedIntoQtForm) {
    EXPECT_EQ(QtDocumentUi::ToQtFilter("JPEG Images (*.jpg)|*.jpg|Portable Grey Maps (*.pgm)|*.pgm||"),
              "JPEG Images (*.jpg);;Portable Grey Maps (*.pgm)");
    EXPECT_EQ(QtDocumentUi::ToQtFilter("Image Sequences / Image Lists (*.iml)|*.iml||"),
              "Image Sequences / Image Lists (*.iml)");
    // Several patterns; a description without its patterns gets them.
    EXPECT_EQ(QtDocumentUi::ToQtFilter("Pictures (*.jpg;*.jpeg)|*.jpg;*.jpeg|All|*.*||"),
              "Pictures (*.jpg *.jpeg);;All (*.*)");
    EXPECT_EQ(QtDocumentUi::ToQtFilter(""), "");
    EXPECT_EQ(QtDocumentUi::ToDefaultSuffix(".cal"), "cal");
    EXPECT_EQ(QtDocumentUi::ToDefaultSuffix("points"), "points");
}

}  // namespace

TEST_F(MainFrameTest, ACancelledCommandDoesNotStopTheNextOneOnThisThread) {
    app->ImportFiles({QString::fromStdString(FRONTAL), QString::fromStdString(STEEP)});
    ASSERT_TRUE(frame->OnCommand(cmd::EXTRACT_GRIDS));
    ASSERT_GT(app->Document()->Grids().getTotalPointCount(), 0);
    // Cancel pressed as a command on the worker ended.
    app->Ui()->RequestCancel();
    // Every frame is searched: Save Correspondences runs on this thread and asks for the file.
    bool asked = false;
    QTimer::singleShot(0, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            asked = true;
            dialog->reject();
        }
    });
    EXPECT_TRUE(frame->OnCommand(cmd::SAVE_CORRESPONDENCES));
    EXPECT_TRUE(asked);
}
