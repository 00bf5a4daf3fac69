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
#include <cstring>

#include "app/command_ids.h"
#include "app/main_frame.h"
#include "app/pose_view.h"
#include "app/vexel_app.h"
#include "vexel_version.h"

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
// the camera or the board) and "nogrid" to leave the grid out;
// VEXEL_SCREENSHOT_LENS_MODEL the lens model to calibrate with (a model's
// name or "auto").
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
        const std::string model = qEnvironmentVariable("VEXEL_SCREENSHOT_LENS_MODEL").toStdString();
        LensModel lens = LensModel::OpenCv4;
        if (model == "auto") frame->OnCommand(vexel::cmd::LENS_MODEL_AUTO);
        if (parseLensModelName(model, lens)) frame->OnCommand(vexel::cmd::LENS_MODEL_OPENCV4 + static_cast<int>(lens));
        frame->OnCommand(vexel::cmd::INTRINSIC_CALIBRATION);
        const QStringList modes = qEnvironmentVariable("VEXEL_SCREENSHOT_MODES").split(QLatin1Char(','), Qt::SkipEmptyParts);
        auto wanted = [&modes](const char* mode) { return modes.contains(QLatin1String(mode)); };
        if (!doc->ShowGrid() && !wanted("nogrid")) frame->OnCommand(vexel::cmd::GRID);
        for (int shown : framesFromEnvironment("VEXEL_SCREENSHOT_FRAME"))
            frame->RunGuarded(QStringLiteral("Go to Frame"), [doc, shown] { doc->OnGoToFrame(shown); });
        if (wanted("undistorted")) frame->OnCommand(vexel::cmd::VIEW_UNDISTORTED);
        if (wanted("coverage")) frame->OnCommand(vexel::cmd::VIEW_COVERAGE);
        if (wanted("uncertainty")) frame->OnCommand(vexel::cmd::VIEW_UNCERTAINTY);
        if (wanted("residuals")) frame->OnCommand(vexel::cmd::VIEW_RESIDUALS);
        if (wanted("poses") || wanted("board-centred")) frame->OnCommand(vexel::cmd::VIEW_POSES);
        if (wanted("board-centred")) frame->PoseView()->SetCentre(PoseCentre::Board);
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

const char* const USAGE = R"(Usage: vexel [OPTION] [FILE...]
The desktop program of Vexel: calibrates a camera from pictures of a printed
checkerboard whose marker cells carry a central spot. Opens a window with the
FILEs imported as frames: images (JPEG, PGM and the other formats the image
library reads), image lists (.iml), one video sequence (.vsq) or video files
(.mp4, .avi, .mov, .mkv). Then Calibration > Extract Grid(s) finds the board in
every frame and Calibration > Intrinsic Calibration computes the camera.

Options:
  -h, --help     Print this help and exit
  --version      Print the version and exit
The toolkit's own options (such as -platform NAME or -style NAME) are accepted
too.

Batch work without a window: vexel-cli.
)";

// --help and --version are answered before the window system is touched,
// so they work without a display.
bool answeredWithoutWindow(int argc, char** argv, int& status) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(USAGE, stdout);
        } else if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("vexel " VEXEL_VERSION);
        } else {
            continue;
        }
        status = std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
        return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (int status = 0; answeredWithoutWindow(argc, argv, status)) return status;
    QApplication application(argc, argv);
    CVexelApp app;
    QStringList files = QApplication::arguments();
    files.removeFirst();
    if (!app.InitInstance(files)) return 1;
    const QByteArray screenshot = qgetenv("VEXEL_SCREENSHOT");
    if (!screenshot.isEmpty()) scheduleScreenshot(app, QFile::decodeName(screenshot));
    return application.exec();
}
