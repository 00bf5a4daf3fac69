// The extraction driver on several threads must leave the document exactly
// as on one: points, cells, frame sizes, the current frame and the lines on
// the document's streams.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/core/utility.hpp>

#include "calibration/points_file.h"
#include "document/frame_decoder.h"
#include "document/grid_commands.h"
#include "document/vexel_doc.h"
#include "geomlib/g_node.h"
#include "pattern/renderer.h"
#include "support/scripted_ui.h"
#include "support/search_grids.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using namespace vexel::pattern;

namespace {

// Rendered views (rendering is the slow part, so once per suite), a flat
// frame without any grid and a file that is no image.
const std::vector<std::string>& frameFiles() {
    static std::vector<std::string> files = [] {
        std::vector<std::string> out;
        static const TempDir dir("vexel_parallel");  // removed when the test program ends
        Camera camera;
        RenderOptions options;
        options.samples = 2;
        options.blurSigma = 0.6;
        options.noiseSigma = 1.5;
        std::string error;
        auto poses = randomPoses(camera, 9, 77);
        // Rendered on this thread alone, so that a thread checker sees only
        // the extraction's own threads.
        const int threads = cv::getNumThreads();
        cv::setNumThreads(0);
        if (!writeRenderSet(dir.string(), camera, poses, options, ImageFormat::Pgm, error)) ADD_FAILURE() << error;
        cv::setNumThreads(threads);
        for (int i = 0; i < static_cast<int>(poses.size()); ++i)
            out.push_back((dir / viewFileName(i, ImageFormat::Pgm)).string());
        std::ofstream(dir / "broken.pgm") << "P5 no image";
        out.insert(out.begin() + 4, (dir / "broken.pgm").string());
        return out;
    }();
    return files;
}

// Everything extraction leaves that a reader of the document can see: the
// point file text, and per frame its size and its cells' corners and labels.
std::string snapshot(CVexelDoc& doc) {
    std::ostringstream out;
    out << formatCorrespondences(doc.Grids(), doc.FrameCount());
    for (int f = 0; f < doc.FrameCount(); ++f) {
        const FrameGrid& status = doc.GridOf(f);
        out << "frame " << f << " size " << status.size.width << 'x' << status.size.height << " searched "
            << status.searched << " failure " << gridFailureText(status.failure) << " cells "
            << doc.Grids().getCellCount(f) << '\n';
        for (int c = 0; c < doc.Grids().getCellCount(f); ++c) {
            GridElement* cell = doc.Grids().getCell(f, c);
            out << ' ' << cell->gridX << ',' << cell->gridY << ',' << int(cell->inGrid) << ',' << cell->meanGrey;
            for (uint32_t n = 0; n < cell->nodes().numberOfItems(); ++n) {
                g_vector v = cell->nodes().item(n)->getCoordinates();
                out << ' ' << v.x << ' ' << v.y;
            }
            out << '\n';
        }
    }
    return out.str();
}

class ParallelExtraction : public ::testing::Test {
protected:
    // A document on the frame files with `start` as the current frame.
    static void open(CVexelDoc& doc, int start, std::ostream* diagnostics) {
        doc.SetGridStreams(diagnostics, nullptr);
        ASSERT_TRUE(doc.ImportImageFiles(frameFiles()));
        doc.GoToFrame(start);
        doc.StartLoader();
    }
};

}  // namespace

TEST_F(ParallelExtraction, GivesTheSingleThreadedResultWhateverTheThreadCount) {
    ScriptedUi serialUi;
    CVexelDoc serial(&serialUi);
    std::ostringstream serialDiagnostics;
    open(serial, 3, &serialDiagnostics);
    serial.OnExtractGrids();
    const std::string expected = snapshot(serial);
    ASSERT_GT(serial.FrameCount(), 9);
    serial.WaitForLoader();

    for (int jobs : {1, 3, 8}) {
        ScriptedUi ui;
        CVexelDoc doc(&ui);
        std::ostringstream diagnostics, errors;
        open(doc, 3, &diagnostics);
        doc.SetGridStreams(&diagnostics, &errors);
        const GridSearchResult result = searchAll(doc, jobs);
        SCOPED_TRACE("jobs " + std::to_string(jobs));
        EXPECT_EQ(result.read, doc.FrameCount() - 1);  // the broken file
        EXPECT_EQ(result.searched, doc.FrameCount());
        EXPECT_EQ(doc.CurrentFrame(), 3);
        EXPECT_EQ(snapshot(doc), expected);
        EXPECT_EQ(diagnostics.str(), serialDiagnostics.str());
        EXPECT_EQ(extractionSummary(doc), serialUi.lastStatus());
        EXPECT_EQ(doc.Grids().getPointCount(4), 0);
        // One report before each frame, in visiting order, and one at the end.
        const int n = doc.FrameCount();
        ASSERT_EQ(ui.progressCalls.size(), static_cast<std::size_t>(n) + 1);
        for (int i = 0; i <= n; ++i)
            EXPECT_EQ(ui.progressCalls[static_cast<std::size_t>(i)],
                      "Extracting frame " + std::to_string(std::min(i + 1, n)) + " of " + std::to_string(n) + "|" +
                          std::to_string(i) + "|" + std::to_string(n));
        doc.WaitForLoader();
    }
}

TEST_F(ParallelExtraction, DecodesEveryFileOnceOnTheWorkersAndLeavesTheCacheAlone) {
    ScriptedUi ui;
    CVexelDoc doc(&ui);
    std::mutex m;
    std::multiset<std::string> decoded;
    doc.SetFrameDecoder([&](const std::string& path) {
        {
            std::lock_guard<std::mutex> lock(m);
            decoded.insert(path);
        }
        return decodeFrameFile(path);
    });
    doc.SetLookAhead(false);
    open(doc, 2, nullptr);
    doc.WaitForLoader();
    const int slot = doc.CurrentSlot();
    const int held = doc.SlotFrame(slot);
    decoded.clear();
    searchAll(doc, 3);
    const std::vector<std::string>& files = frameFiles();
    EXPECT_EQ(decoded, std::multiset<std::string>(files.begin(), files.end()));
    EXPECT_EQ(doc.CurrentFrame(), 2);
    EXPECT_EQ(doc.CurrentSlot(), slot);
    EXPECT_EQ(doc.SlotFrame(slot), held);
}

TEST_F(ParallelExtraction, CellsSurviveAReExtractionAndTheDocument) {
    // The moved cells belong to the document's record: a second extraction
    // and the document's end free them (checked under the sanitizers).
    ScriptedUi ui;
    CVexelDoc doc(&ui);
    open(doc, 0, nullptr);
    searchAll(doc, 2);
    const std::string first = snapshot(doc);
    searchAll(doc, 4);
    EXPECT_EQ(snapshot(doc), first);
    EXPECT_EQ(doc.Grids().pendingElements.numberOfItems(), 0u);
    doc.WaitForLoader();
}

TEST_F(ParallelExtraction, NoFramesMeansNothingToDo) {
    ScriptedUi ui;
    CVexelDoc doc(&ui);
    EXPECT_EQ(searchAll(doc, 4).searched, 0);
    EXPECT_EQ(doc.Grids().frameCount(), 0);
}

TEST_F(ParallelExtraction, ExtractGridsReportsEachFrameInTheStatusLine) {
    ScriptedUi ui;
    CVexelDoc doc(&ui);
    open(doc, 2, nullptr);
    ui.calls.clear();
    doc.OnExtractGrids();
    std::vector<std::string> statuses = ui.callsStartingWith("status|");
    const int n = doc.FrameCount();
    ASSERT_EQ(statuses.size(), static_cast<std::size_t>(n) + 1);
    for (int i = 0; i < n; ++i)
        EXPECT_EQ(statuses[i], "status|Extracting frame " + std::to_string(i + 1) + " of " + std::to_string(n));
    EXPECT_EQ(statuses.back().rfind("status|Extract Grid(s): ", 0), 0u) << statuses.back();
    doc.WaitForLoader();
}

TEST_F(ParallelExtraction, RunningOutOfMemoryOnAFrameEndsTheSearchNamingItWhateverTheThreadCount) {
    // Frame 6 cannot be decoded for want of memory: that is no frame "not
    // read", and no frame after it in visiting order counts as searched.
    for (int threads : {1, 4}) {
        SCOPED_TRACE(threads);
        ScriptedUi ui;
        CVexelDoc doc(&ui);
        const std::string starved = frameFiles()[6];
        doc.SetFrameDecoder([&](const std::string& path, std::string* why) {
            if (path == starved) throw std::bad_alloc();
            return decodeFrame(path, why);
        });
        open(doc, 0, nullptr);
        const GridSearchResult result = searchAll(doc, threads);
        EXPECT_EQ(result.failedFrame, 6);
        EXPECT_EQ(searchFailureText(doc, result), "frame 6 (" + starved + ") could not be searched: out of memory");
        EXPECT_EQ(result.searched, 6);
        for (int f = 6; f < doc.FrameCount(); ++f) EXPECT_FALSE(doc.GridOf(f).searched) << f;
        // The document's commands pass the failure on, the frame named in the status line.
        EXPECT_THROW(doc.OnExtractGrids(), std::bad_alloc);
        EXPECT_NE(ui.lastStatus().find("frame 6 ("), std::string::npos) << ui.lastStatus();
        doc.WaitForLoader();
    }
}

TEST_F(ParallelExtraction, AFrameNotReadKeepsWhyNotInTheFrameList) {
    ScriptedUi ui;
    CVexelDoc doc(&ui);
    open(doc, 0, nullptr);
    searchAll(doc, 2);
    // Frame 4 is the broken file: a netpbm header that the data does not follow.
    const FrameGrid& broken = doc.GridOf(4);
    EXPECT_EQ(broken.failure, GridFailure::NotRead);
    EXPECT_EQ(frameFailureText(broken).rfind("not read: ", 0), 0u) << frameFailureText(broken);
    EXPECT_GT(frameFailureText(broken).size(), std::string("not read: ").size());
    EXPECT_EQ(frameResultText(doc, 4), frameFailureText(broken));
    doc.WaitForLoader();
}

TEST_F(ParallelExtraction, TheDocumentKeepsTheCellsOfAFrameButNotItsTriangles) {
    // Memory per listed frame: the triangles only served the search.
    ScriptedUi ui;
    CVexelDoc doc(&ui);
    open(doc, 0, nullptr);
    searchAll(doc, 2);
    ASSERT_GT(doc.Grids().getCellCount(0), 0);
    for (int f = 0; f < doc.FrameCount(); ++f) {
        EXPECT_EQ(doc.Grids().frames[static_cast<std::size_t>(f)].trianglePart->nodes().numberOfItems(), 0u) << f;
        EXPECT_EQ(doc.Grids().frames[static_cast<std::size_t>(f)].trianglePart->elements().numberOfItems(), 0u) << f;
    }
    doc.WaitForLoader();
}
