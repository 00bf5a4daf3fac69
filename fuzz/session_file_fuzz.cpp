// Open Session: the session reader, and for sessions of image files the
// whole opening into a document (the frames are never decoded); then the
// writer, whose text must read back to itself.

#include "document/session_file.h"
#include "document/vexel_doc.h"
#include "fuzz_input.h"

using vexel::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    SessionData session;
    std::string error;
    const bool read = parseSession(bytes, session, error);
    require(read == error.empty());
    if (!read) return 0;
    const std::string text = formatSession(session);
    SessionData again;
    require(parseSession(text, again, error));
    require(formatSession(again) == text);

    // A session of a video would decode whatever file it names.
    if (session.source != "images") return 0;
    const std::string path = vexel::fuzz::writeInput(data, size, "session.vexel");
    CVexelDoc doc(nullptr);
    doc.SetFrameDecoder([](const std::string&) { return cv::Mat(); });
    doc.SetLookAhead(false);
    require(doc.OpenSessionFile(path));
    require(doc.FrameCount() == static_cast<int>(session.frames.size()));
    return 0;
}
