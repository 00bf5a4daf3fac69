// The window as a workbench: the calibration panel, zoom, frames from
// folders and dropped files, the frame list's keys and menu, the size check
// of Undistorted and sessions reopened without searching again.

#include "gui/gui_fixture.h"
#include "support/document_access.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeWidget>
#include <QUrl>

#include <filesystem>
#include <fstream>
#include <memory>

#include <unistd.h>

#include "app/calibration_panel.h"
#include "app/command_ids.h"
#include "app/frame_list_dock.h"
#include "app/main_frame.h"
#include "app/vexel_app.h"
#include "view/vexel_view.h"

using namespace vexel::test;
namespace cmd = vexel::cmd;
namespace fs = std::filesystem;

namespace {

const fs::path FRONTAL = fs::path(VEXEL_TEST_DATA_DIR) / "frames" / "frontal.pgm";
const fs::path STEEP = fs::path(VEXEL_TEST_DATA_DIR) / "frames" / "steep.pgm";

class WorkbenchTest : public WindowTest {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("vexel_workbench_" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir / "photos");
        // Named so that only a natural order puts them right: 2 before 10.
        fs::copy_file(FRONTAL, dir / "photos" / "view10.pgm");
        fs::copy_file(STEEP, dir / "photos" / "view2.pgm");
        std::ofstream(dir / "photos" / "notes.txt") << "not a picture";
        start();
    }
    void TearDown() override {
        app.reset();
        fs::remove_all(dir);
    }
    void start() {
        openWindow(/*show=*/false);
        doc->SetGridStreams(nullptr, nullptr);
    }
    QString photos() const { return QString::fromStdString((dir / "photos").string()); }

    fs::path dir;
};

TEST_F(WorkbenchTest, FoldersAndDroppedFilesOpenTheirImagesInNaturalOrder) {
    app->ImportFiles({photos()});
    ASSERT_EQ(doc->FrameCount(), 2);
    EXPECT_EQ(fs::path(doc->FrameName(0)).filename(), "view2.pgm");
    EXPECT_EQ(fs::path(doc->FrameName(1)).filename(), "view10.pgm");

    // A dropped file is opened as a command-line one.
    doc->OnNewDocument();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(FRONTAL.string()))});
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    // Straight to the window: the application hands drops on only while a
    // drag runs.
    static_cast<QObject*>(frame)->event(&drop);
    EXPECT_TRUE(drop.isAccepted());
    ASSERT_EQ(doc->FrameCount(), 1);
    EXPECT_EQ(doc->FrameName(0), FRONTAL.string());
}

TEST_F(WorkbenchTest, PanelShowsTheReportAsSelectableTextWithTheWarnings) {
    CCalibrationPanel* panel = frame->CalibrationPanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_FALSE(panel->CopyButton()->isEnabled());

    app->ImportFiles({photos()});
    ASSERT_TRUE(frame->OnCommand(cmd::EXTRACT_GRIDS));
    // What was found is drawn at once.
    EXPECT_TRUE(showGridOf(*doc));
    ASSERT_TRUE(frame->OnCommand(cmd::INTRINSIC_CALIBRATION));
    ASSERT_TRUE(calibrationOf(*doc));

    const QString report = panel->ReportText();
    EXPECT_TRUE(report.contains(QStringLiteral("RMS reprojection error = "))) << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral("fx = "))) << report.toStdString();
    EXPECT_TRUE(panel->ReportLabel()->textInteractionFlags() & Qt::TextSelectableByMouse);
    EXPECT_TRUE(panel->SummaryText().contains(QStringLiteral("2 frames"))) << panel->SummaryText().toStdString();
    // Two views are too few: the warning stays in the panel, not only in the
    // status bar.
    ASSERT_FALSE(panel->Warnings().isEmpty());
    EXPECT_TRUE(panel->Warnings().front().contains(QStringLiteral("distinct view")));
    panel->CopyButton()->click();
    EXPECT_TRUE(QApplication::clipboard()->text().contains(QStringLiteral("fx = ")));

    // Another size: Undistorted is refused naming both sizes.
    statsOf(*doc).imageSize = cv::Size(1920, 1080);
    frame->OnCommand(cmd::VIEW_UNDISTORTED);
    EXPECT_FALSE(frame->View()->Undistorted());
    EXPECT_TRUE(frame->ResultField()->text().contains(QStringLiteral("1920 x 1080")))
        << frame->ResultField()->text().toStdString();
    EXPECT_TRUE(frame->ResultField()->text().contains(QStringLiteral("640 x 480")));
}

TEST_F(WorkbenchTest, ZoomKeepsThePointUnderThePointerAndFitFollowsTheWindow) {
    app->ImportFiles({photos()});
    doc->EnsureCurrentFrameLoaded();
    CVexelView* view = frame->View();
    // A small window, the view in it smaller than the 640 x 480 frame: the
    // frame is fitted to it at first.
    frame->resize(800, 500);
    frame->show();
    QApplication::processEvents();
    ASSERT_TRUE(view->viewport()->width() < 640 || view->viewport()->height() < 480);
    view->OnUpdate();
    EXPECT_EQ(view->ZoomMode(), CVexelView::Zoom::Fit);
    frame->UpdateCommandUi();
    EXPECT_TRUE(frame->Action(cmd::VIEW_FIT_TO_WINDOW)->isChecked());
    EXPECT_LT(view->Scale(), 1.0);
    EXPECT_LE(view->Scale() * 640, view->viewport()->width() + 1);
    EXPECT_LE(view->Scale() * 480, view->viewport()->height() + 1);

    frame->OnCommand(cmd::ACTUAL_SIZE);
    EXPECT_DOUBLE_EQ(view->Scale(), 1.0);
    EXPECT_FALSE(frame->Action(cmd::VIEW_FIT_TO_WINDOW)->isChecked());
    frame->OnCommand(cmd::ZOOM_IN);
    EXPECT_NEAR(view->Scale(), CVexelView::ZOOM_STEP, 0.01);
    frame->OnCommand(cmd::ZOOM_OUT);
    EXPECT_NEAR(view->Scale(), 1.0, 0.01);

    // The frame point under the pointer stays under it.
    const QPointF anchor(100, 80);
    const double before = view->Scale();
    const QPointF framePoint((anchor.x() + view->horizontalScrollBar()->value()) / before,
                             (anchor.y() + view->verticalScrollBar()->value()) / before);
    view->ZoomBy(2.0, anchor);
    const double after = view->Scale();
    EXPECT_NEAR(framePoint.x() * after - view->horizontalScrollBar()->value(), anchor.x(), 1.5);
    EXPECT_NEAR(framePoint.y() * after - view->verticalScrollBar()->value(), anchor.y(), 1.5);
}

TEST_F(WorkbenchTest, FrameListSpaceAndMenuUseAndRemoveFrames) {
    app->ImportFiles({photos()});
    CFrameListDock* list = frame->FrameList();
    QTreeWidget* tree = list->Tree();
    tree->setCurrentItem(tree->topLevelItem(1));
    QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QCoreApplication::sendEvent(tree, &space);
    EXPECT_TRUE(doc->FrameExcluded(1));

    std::unique_ptr<QMenu> menu(list->ContextMenu(1));
    const QList<QAction*> items = menu->actions();
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[1]->text(), QStringLiteral("Use"));
    items[1]->trigger();
    EXPECT_FALSE(doc->FrameExcluded(1));
    items[2]->trigger();
    ASSERT_EQ(doc->FrameCount(), 1);
    EXPECT_EQ(fs::path(doc->FrameName(0)).filename(), "view2.pgm");
}

TEST_F(WorkbenchTest, SessionReopensWithEveryResultAndNoSearch) {
    app->ImportFiles({photos()});
    ASSERT_TRUE(frame->OnCommand(cmd::INTRINSIC_CALIBRATION));
    doc->SetFrameExcluded(0, true);
    const std::string session = (dir / "work.vexel").string();
    ASSERT_TRUE(doc->SaveSessionFile(session));
    const CalibrationRecord record = *calibrationOf(*doc);
    const int points = gridsOf(*doc).getTotalPointCount();

    start();
    // Nothing may be searched: a decoder that reads nothing would show it.
    doc->SetFrameDecoder([](const std::string&) { return cv::Mat(); });
    app->ImportFiles({QString::fromStdString(session)});
    ASSERT_EQ(doc->FrameCount(), 2);
    EXPECT_EQ(doc->FramesNotExtracted(), 0);
    EXPECT_EQ(gridsOf(*doc).getTotalPointCount(), points);
    EXPECT_TRUE(doc->FrameExcluded(0));
    ASSERT_TRUE(calibrationOf(*doc));
    EXPECT_EQ(*calibrationOf(*doc), record);
    EXPECT_EQ(statsOf(*doc).imageSize, cv::Size(640, 480));
    EXPECT_TRUE(frame->CalibrationPanel()->ReportText().contains(QStringLiteral("fx = ")));
}

}  // namespace
