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
// "undistorted" and "coverage" (comma-separated) to draw the frame so;
// VEXEL_SCREENSHOT_SIZE=WxH (for example 1024x768) sizes the window.
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
        if (!doc->m_showGrid) frame->OnCommand(vexel::cmd::GRID);
        for (int shown : framesFromEnvironment("VEXEL_SCREENSHOT_FRAME"))
            frame->RunGuarded(QStringLiteral("Go to Frame"), [doc, shown] { doc->OnGoToFrame(shown); });
        for (const QString& mode : qEnvironmentVariable("VEXEL_SCREENSHOT_MODES").split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            if (mode.trimmed() == QStringLiteral("undistorted")) frame->OnCommand(vexel::cmd::VIEW_UNDISTORTED);
            if (mode.trimmed() == QStringLiteral("coverage")) frame->OnCommand(vexel::cmd::VIEW_COVERAGE);
        }
        frame->UpdateCommandUi();
        // VEXEL_SCREENSHOT_SIZE=WxH sizes the window; by default it is wide
        // enough for the report beside a 640-pixel frame and the docks.
        const QStringList size = qEnvironmentVariable("VEXEL_SCREENSHOT_SIZE").split(QLatin1Char('x'));
        const int width = size.size() == 2 ? size[0].toInt() : 0;
        const int height = size.size() == 2 ? size[1].toInt() : 0;
        if (width > 0 && height > 0)
            frame->resize(width, height);
        else
            frame->resize(1600, 780);
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
