// Import Image Sequence: the image-list reader of the document. The list's
// folder holds two pictures, one in a subfolder, and a FIFO, so that names
// the fuzzer finds can reach a real file and a file that must not be opened.

#include <sys/stat.h>

#include <filesystem>

#include "document/vexel_doc.h"
#include "fuzz_input.h"

namespace {

void prepareFolder() {
    static const bool prepared = [] {
        const std::string& folder = vexel::fuzz::inputFolder();
        const std::uint8_t picture[] = {'P', '5', '\n', '1', ' ', '1', '\n', '2', '5', '5', '\n', 128};
        vexel::fuzz::writeInput(picture, sizeof picture, "a.pgm");
        std::filesystem::create_directories(folder + "/sub");
        vexel::fuzz::writeInput(picture, sizeof picture, "sub/b.pgm");
        ::mkfifo((folder + "/pipe.pgm").c_str(), 0600);
        return true;
    }();
    (void)prepared;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    prepareFolder();
    const std::string path = vexel::fuzz::writeInput(data, size, "list.iml");
    CVexelDoc doc(nullptr);
    // Only the list is read here; the pictures are not decoded.
    doc.SetFrameDecoder([](const std::string&) { return cv::Mat(); });
    doc.ImportImageList(path);
    const std::vector<std::string> names = doc.FrameNames();
    vexel::fuzz::require(static_cast<int>(names.size()) == doc.FrameCount());
    for (const std::string& name : names) {
        struct stat info {};
        vexel::fuzz::require(::stat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode));
    }
    doc.WaitForLoader();
    return 0;
}
