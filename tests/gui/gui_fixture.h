#pragma once
// Shared set-up of the desktop program's tests: one QApplication for the
// whole test program on the offscreen platform, settings kept away from the
// user's own, and documents whose frames are made in memory.

// Core headers first: they use identifiers that Qt defines as macros.
#include "document/vexel_doc.h"
#include "geomlib/g_node.h"
#include "geomlib/g_part.h"
#include "grid/frame_image.h"
#include "grid/grid_element.h"
#include "support/document_access.h"
#include "support/scripted_ui.h"

#include <QApplication>
#include <QImage>
#include <QStandardPaths>
#include <QWidget>

#include <gtest/gtest.h>

#include "app/main_frame.h"
#include "app/vexel_app.h"
#include "view/vexel_view.h"

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// The font library keeps its configuration for the life of the process and
// Qt never frees it; the leak checker is told so, and only about that library.
extern "C" __attribute__((used, visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace vexel::test {

class GuiTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (QApplication::instance()) return;
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        QStandardPaths::setTestModeEnabled(true);
        static int argc = 1;
        static char name[] = "gui_test";
        static char* argv[] = {name, nullptr};
        // Lives until the process ends; the widgets of every test are gone by then.
        static QApplication* application = new QApplication(argc, argv);
        (void)application;
    }
};

// A decoder for names of the form "WxH/V": a W x H frame of grey value V.
// Any other name fails to decode.
inline cv::Mat syntheticFrame(const std::string& name) {
    int width = 0, height = 0, value = 0;
    if (std::sscanf(name.c_str(), "%dx%d/%d", &width, &height, &value) != 3 || width <= 0 || height <= 0)
        return cv::Mat();
    cv::Mat image = makeFrameImage(width, height);
    image.setTo(cv::Scalar(value));
    return image;
}

inline std::string frameName(int width, int height, int value = 128) {
    return std::to_string(width) + "x" + std::to_string(height) + "/" + std::to_string(value);
}

// Puts the document on one synthetic frame of the given size, decoded.
inline void showSyntheticFrame(CVexelDoc& doc, int width, int height, int value = 128) {
    doc.SetFrameDecoder(syntheticFrame);
    doc.OnNewDocument();
    doc.ImportImageFiles({frameName(width, height, value)});
    doc.EnsureCurrentFrameLoaded();
}

// Adds a grid cell with the given corners (image pixels) to frame `frame`
// of the document's grid set, which is made with `frames` frames if absent.
inline GridElement* addCell(CVexelDoc& doc, int frame, const std::vector<std::pair<double, double>>& corners,
                            bool inGrid = true, int frames = 1) {
    GridSet& grid = gridsOf(doc);
    if (!grid.hasFrame(frame)) grid.allocate(frames, 200);
    g_part& part = *grid.frames[static_cast<std::size_t>(frame)].gridPart;
    auto* cell = new GridElement;
    for (const auto& [x, y] : corners) {
        auto* node = new g_node(g_vector(x, y, 0));
        part.addNode(node);
        cell->addNode(node);
    }
    cell->inGrid = inGrid ? 1 : 0;
    part.addElement(cell);
    return cell;
}

inline bool isBlue(QRgb pixel) { return qRed(pixel) < 60 && qGreen(pixel) < 60 && qBlue(pixel) > 200; }

// The widget as it draws itself now.
inline QImage grabImage(QWidget& widget) {
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// A test with the program's main window: `openWindow` starts the program
// (its window shown or not) and collects the commands that fail in
// `failures`; the program ends after each test.
class WindowTest : public GuiTest {
protected:
    void openWindow(bool show) {
        app = std::make_unique<CVexelApp>();
        ASSERT_TRUE(app->InitInstance({}, show));
        frame = app->MainFrame();
        doc = app->Document();
        frame->SetFailureReporter([this](const QString& command, const QString& reason) {
            failures.push_back(command.toStdString() + ": " + reason.toStdString());
        });
    }
    void TearDown() override { app.reset(); }

    std::unique_ptr<CVexelApp> app;
    CMainFrame* frame = nullptr;
    CVexelDoc* doc = nullptr;
    std::vector<std::string> failures;
};

// A test with a frame view of 500 x 400 on a document of its own, shown.
class ViewTest : public GuiTest {
protected:
    void SetUp() override {
        doc = std::make_unique<CVexelDoc>(&ui);
        view = std::make_unique<CVexelView>(doc.get());
        view->resize(500, 400);
        view->show();
        QApplication::processEvents();
    }
    void TearDown() override {
        view.reset();
        doc.reset();
    }

    // Shows one synthetic frame of the given size.
    void show(int width, int height, int value = 128) {
        showSyntheticFrame(*doc, width, height, value);
        view->OnUpdate();
    }

    ScriptedUi ui;
    std::unique_ptr<CVexelDoc> doc;
    std::unique_ptr<CVexelView> view;
};

}  // namespace vexel::test
