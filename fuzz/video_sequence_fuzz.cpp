// Import VSQ: the document reads the sequence, then the queries the view
// and the extraction use read its first and last frames, and the sequence
// is written back, which must give the frames the file held.

#include <cstdio>
#include <cstring>
#include <vector>

#include "document/vexel_doc.h"
#include "fuzz_input.h"

using vexel::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = vexel::fuzz::writeInput(data, size, "clip.vsq");
    CVexelDoc doc(nullptr);
    if (!doc.ImportVsqFile(path)) return 0;
    const VideoSequence* sequence = doc.Sequence();
    require(sequence && doc.FrameCount() == sequence->FrameCount());
    require(sequence->FrameCount() <= VideoSequence::MAX_FILE_FRAMES);

    for (int frame : {0, doc.FrameCount() - 1}) {
        doc.GoToFrame(frame);
        const std::size_t bytes = static_cast<std::size_t>(doc.GetFrameWidth()) * doc.GetFrameHeight() *
                                  static_cast<std::size_t>(doc.GetFrameChannels());
        std::vector<std::uint8_t> buffer(bytes);
        require(doc.CopyFrameBytes(buffer.data(), buffer.size()) == bytes);
        cv::Mat image;
        require(doc.CopyFrameToImage(image) == (bytes > 0));
    }

    // Written back: the header with the count of frames held, then exactly
    // those frames as the file had them.
    char* written = nullptr;
    std::size_t writtenSize = 0;
    std::FILE* out = ::open_memstream(&written, &writtenSize);
    require(out && sequence->Write(out));
    std::fclose(out);
    const std::size_t frames = static_cast<std::size_t>(sequence->FrameCount()) * sequence->FrameSize();
    require(writtenSize == VideoSequence::HEADER_SIZE + frames && size >= writtenSize);
    require(std::memcmp(written, data, 12) == 0 && std::memcmp(written + 16, data + 16, writtenSize - 16) == 0);
    std::free(written);
    return 0;
}
