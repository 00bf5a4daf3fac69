// Long commands on the worker thread: the window stays responsive, the
// progress window counts the frames and stops them on Cancel, other
// commands wait, and the end is signalled.

#include "gui/gui_fixture.h"

#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>
#include <stdexcept>

#include "app/command_ids.h"
#include "app/main_frame.h"
#include "app/qt_document_ui.h"
#include "app/vexel_app.h"
#include "view/vexel_view.h"

using namespace vexel::test;
namespace cmd = vexel::cmd;

namespace {

const QString FRONTAL = QStringLiteral(VEXEL_TEST_DATA_DIR "/frames/frontal.pgm");
const QString STEEP = QStringLiteral(VEXEL_TEST_DATA_DIR "/frames/steep.pgm");

class LongCommandTest : public WindowTest {
protected:
    void SetUp() override { openWindow(/*show=*/true); }

    void importFrames(int count) {
        QStringList files;
        for (int i = 0; i < count; ++i) files << (i % 2 ? STEEP : FRONTAL);
        app->ImportFiles(files);
        ASSERT_EQ(app->Document()->FrameCount(), count);
    }
};

TEST_F(LongCommandTest, WindowStaysResponsiveAndCancelStopsWithinOneFrame) {
    importFrames(50);
    std::vector<std::pair<int, bool>> finished;
    QObject::connect(frame, &CMainFrame::commandFinished, [&](int id, bool done) { finished.emplace_back(id, done); });

    // A timer on this thread ticks while the command runs: the window's
    // event loop keeps turning (a window blocked by the command would tick
    // only after it). Once the progress window has counted 10 frames the
    // timer presses Cancel.
    int ticks = 0;
    int valueAtCancel = -1;
    bool othersDisabled = true, progressShown = false, paintedMeanwhile = false;
    QString label;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        ++ticks;
        QProgressDialog* progress = frame->ProgressDialog();
        if (!progress) return;
        progressShown |= progress->isVisible();
        othersDisabled &= !frame->Action(cmd::FRAME_FORWARD)->isEnabled() &&
                          !frame->Action(cmd::INTRINSIC_CALIBRATION)->isEnabled();
        // The view draws while the worker moves through the frames.
        if (!paintedMeanwhile && progress->value() >= 2) {
            const QImage picture = grabImage(*frame->View()->viewport());
            paintedMeanwhile = qGray(picture.pixel(10, 10)) != 255 || qGray(picture.pixel(300, 200)) != 255;
        }
        if (valueAtCancel < 0 && progress->value() >= 10) {
            // The worker's progress reaches the window queued; on a loaded
            // machine several frames' updates wait. They are taken first, so
            // that the value read is the frame the worker is on.
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            label = progress->labelText();
            valueAtCancel = progress->value();
            // The window's own Cancel button, as the user presses it.
            QPushButton* cancel = progress->findChild<QPushButton*>();
            ASSERT_NE(cancel, nullptr);
            cancel->click();
        }
    });
    ticker.start();
    EXPECT_TRUE(frame->OnCommand(cmd::EXTRACT_GRIDS));
    ticker.stop();

    // Cancel was pressed from a tick, so the loop turned during the command;
    // a second tick shows it kept turning. More are not asked for: a loaded
    // machine coalesces the 10 ms ticks of the 40 ms the frames take.
    EXPECT_GE(ticks, 2);
    EXPECT_TRUE(progressShown);
    EXPECT_TRUE(othersDisabled);
    EXPECT_TRUE(paintedMeanwhile);
    ASSERT_GE(valueAtCancel, 10);
    EXPECT_EQ(label.toStdString(), "Extracting frame " + std::to_string(valueAtCancel + 1) + " of 50");
    // The frame being searched when Cancel came is finished, and no other.
    // The window may still show one frame behind the worker (an update
    // posted after the queue was taken), so the worker may be on the next
    // frame already.
    const int searched = 50 - doc->FramesNotExtracted();
    EXPECT_GE(searched, valueAtCancel);
    EXPECT_LE(searched, valueAtCancel + 2);
    EXPECT_EQ(doc->CurrentFrame(), 0);
    EXPECT_NE(frame->ResultField()->text().indexOf(QStringLiteral("stopped")), -1)
        << frame->ResultField()->text().toStdString();

    // Afterwards: the window is back, the commands are enabled, the end was
    // signalled once, and the next command picks up the frames not searched.
    EXPECT_EQ(frame->ProgressDialog(), nullptr);
    EXPECT_FALSE(frame->IsCommandRunning());
    EXPECT_TRUE(frame->Action(cmd::FRAME_FORWARD)->isEnabled());
    EXPECT_EQ(finished, (std::vector<std::pair<int, bool>>{{cmd::EXTRACT_GRIDS, true}}));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(failures.empty());
}

TEST_F(LongCommandTest, CalibrationOnTheWorkerSearchesTheFramesAndReportsTheFit) {
    importFrames(4);
    EXPECT_TRUE(frame->RunsOnWorker(cmd::GRID));
    EXPECT_TRUE(frame->OnCommand(cmd::INTRINSIC_CALIBRATION));
    EXPECT_EQ(doc->FramesNotExtracted(), 0);
    ASSERT_TRUE(doc->Calibration());
    ASSERT_TRUE(doc->Stats().valid);
    EXPECT_NE(frame->ResultField()->text().indexOf(QStringLiteral("Intrinsic Calibration: 4 frames")), -1)
        << frame->ResultField()->text().toStdString();
    // With every frame searched, Grid is quick and stays on this thread.
    EXPECT_FALSE(frame->RunsOnWorker(cmd::GRID));
    EXPECT_TRUE(frame->OnCommand(cmd::GRID));
    EXPECT_TRUE(doc->ShowGrid());

    // The report's lines, then the fit.
    const std::vector<std::string> lines = frame->View()->ReportLines();
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[0], "Camera Intrinsic Parameters:");
    EXPECT_EQ(lines[5].rfind("RMS reprojection error = ", 0), 0u) << lines[5];
    EXPECT_NE(lines[5].find(" px (4 frames, "), std::string::npos) << lines[5];
    EXPECT_EQ(lines[6].rfind("fx = ", 0), 0u) << lines[6];
    EXPECT_TRUE(failures.empty());
}

TEST_F(LongCommandTest, FailureOnTheWorkerIsReportedOnThisThread) {
    importFrames(2);
    frame->SetFailureReporter([this](const QString& command, const QString& reason) {
        // Reported where widgets may be used, after the window is gone.
        EXPECT_EQ(QThread::currentThread(), QApplication::instance()->thread());
        EXPECT_EQ(frame->ProgressDialog(), nullptr);
        failures.push_back(command.toStdString() + ": " + reason.toStdString());
    });
    QtDocumentUi* ui = app->Ui();
    EXPECT_FALSE(frame->RunOnWorker(QStringLiteral("Extract Grid(s)"), [ui] {
        ui->setBusy(true);
        ui->showStatus("half way");
        throw std::runtime_error("disk on fire");
    }));
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0], "Extract Grid(s): disk on fire");
    // What the worker asked for before it failed was done, in order, and
    // undone where the command could not.
    EXPECT_EQ(frame->ResultField()->text(), "half way");
    EXPECT_EQ(ui->BusyDepth(), 0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(frame->Action(cmd::EXTRACT_GRIDS)->isEnabled());
    EXPECT_EQ(app->Document()->FrameCount(), 2);
}

}  // namespace
