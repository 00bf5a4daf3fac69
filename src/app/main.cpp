// vexel [FILE...]: the desktop program. Starts with an empty document and
// imports the files given (images, .iml image lists or a .vsq sequence).

// Core headers first: they use identifiers that Qt defines as macros.
#include "document/vexel_doc.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include "app/command_ids.h"
#include "app/main_frame.h"
#include "app/pose_view.h"
#include "app/vexel_app.h"

namespace {

// Frame indices in a comma-separated environment variable.
QList<int> framesFromEnvironment(const char* name) {
    QList<int> frames;
    for (const QString& item : qEnvironmentVariable(name).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int frame = item.trimmed().toInt(&ok);
        if (ok) frames << frame;
    }
    return frames;
}

// With VEXEL_SCREENSHOT=OUT.png set, the program extracts the grids, runs
// the intrinsic calibration, shows the grid, saves a picture of its main
// window to OUT.png and quits (exit status 0 when the picture was saved).
// VEXEL_SCREENSHOT_LEAVE_OUT lists frames to leave out of the calibration,
// VEXEL_SCREENSHOT_FRAME the frame to show; VEXEL_SCREENSHOT_MODES may name
// "undistorted", "coverage", "residuals", "uncertainty" (comma-separated) to
// draw the frame so, "poses" or "board-centred" to show the poses (centred on
// the camera or the board) and "nogrid" to leave the grid out.
// VEXEL_SCREENSHOT_SIZE=WxH sets the window's size (default 1600x780).
void scheduleScreenshot(CVexelApp& app, const QString& out) {
    QTimer::singleShot(0, &app, [&app, out] {
        CMainFrame* frame = app.MainFrame();
        CVexelDoc* doc = app.Document();
        frame->SetFailureReporter([](const QString& command, const QString& reason) {
            std::fprintf(stderr, "vexel: %s failed: %s\n", command.toLocal8Bit().constData(),
                         reason.toLocal8Bit().constData());
        });
        frame->OnCommand(vexel::cmd::EXTRACT_GRIDS);
        for (int leftOut : framesFromEnvironment("VEXEL_SCREENSHOT_LEAVE_OUT")) doc->SetFrameExcluded(leftOut, true);
        frame->OnCommand(vexel::cmd::INTRINSIC_CALIBRATION);
        const QStringList modes = qEnvironmentVariable("VEXEL_SCREENSHOT_MODES").split(QLatin1Char(','), Qt::SkipEmptyParts);
        auto wanted = [&modes](const char* mode) { return modes.contains(QLatin1String(mode)); };
        if (!doc->m_showGrid && !wanted("nogrid")) frame->OnCommand(vexel::cmd::GRID);
        for (int shown : framesFromEnvironment("VEXEL_SCREENSHOT_FRAME"))
            frame->RunGuarded(QStringLiteral("Go to Frame"), [doc, shown] { doc->OnGoToFrame(shown); });
        if (wanted("undistorted")) frame->OnCommand(vexel::cmd::VIEW_UNDISTORTED);
        if (wanted("coverage")) frame->OnCommand(vexel::cmd::VIEW_COVERAGE);
        if (wanted("uncertainty")) frame->OnCommand(vexel::cmd::VIEW_UNCERTAINTY);
        if (wanted("residuals")) frame->OnCommand(vexel::cmd::VIEW_RESIDUALS);
        if (wanted("poses") || wanted("board-centred")) frame->OnCommand(vexel::cmd::VIEW_POSES);
        if (wanted("board-centred")) frame->PoseView()->SetCentre(PoseCentre::Board);
        frame->UpdateCommandUi();
        // Wide enough for the report beside a 640-pixel frame and the docks.
        int width = 1600, height = 780;
        std::sscanf(qEnvironmentVariable("VEXEL_SCREENSHOT_SIZE").toLatin1().constData(), "%dx%d", &width, &height);
        frame->resize(width, height);
        // The first drawing sizes the content to the report; the scroll bars
        // follow on the next pass.
        QApplication::processEvents();
        frame->grab();
        QApplication::processEvents();
        const QPixmap shot = frame->grab();
        const bool saved = shot.save(out);
        if (!saved) std::fprintf(stderr, "vexel: cannot save the screenshot %s\n", out.toLocal8Bit().constData());
        QApplication::exit(saved ? 0 : 1);
    });
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    CVexelApp app;
    QStringList files = QApplication::arguments();
    files.removeFirst();
    if (!app.InitInstance(files)) return 1;
    const QByteArray screenshot = qgetenv("VEXEL_SCREENSHOT");
    if (!screenshot.isEmpty()) scheduleScreenshot(app, QFile::decodeName(screenshot));
    return application.exec();
}
