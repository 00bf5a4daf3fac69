#pragma once
// A whole raw frame sequence held in memory, and its file form.
//
// File layout, all integers signed 32-bit little-endian, no padding:
//   0  width      4  height      8  bits per pixel      12  frame count
//   16 an 8-byte field kept and written back, never interpreted
//   24 the frames, one after the other, each FrameSize() bytes
// FrameSize() = (bits per pixel / 8, truncated) x height x width.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

class VideoSequence {
public:
    static constexpr std::size_t HEADER_SIZE = 24;
    // The most frames a file may announce; a larger count is taken for a
    // damaged header.
    static constexpr int MAX_FILE_FRAMES = 100000;
    using Reserved = std::array<std::uint8_t, 8>;

    VideoSequence() = default;
    virtual ~VideoSequence() = default;
    VideoSequence(const VideoSequence&) = delete;
    VideoSequence& operator=(const VideoSequence&) = delete;

    // Writes the header and every frame, flushing after each frame. Returns
    // false (and sets `*error`) when the file is null or a write fails.
    virtual bool Write(std::FILE* file, std::string* error = nullptr) const;
    // Reads a sequence: the header, then the frames it announces, never more
    // than that. Sizes must be positive, bits per pixel 8, 24 or 32 and the
    // count at most MAX_FILE_FRAMES. A file that ends early gives the frames
    // it holds completely (MissingFrames() says how many it lacks); one that
    // ends inside its first frame is refused. On failure returns false, sets
    // `*error` to the problem and leaves this object as it was.
    virtual bool Read(std::FILE* file, std::string* error = nullptr);

    // Clear(), then room for `count` frames of the given size, zero-filled,
    // in one buffer; frame i is written through Frame(i). On a failed
    // allocation or invalid values: Clear() and false.
    bool Allocate(int count, int width, int height, int bits);
    // Frees every frame and sets all values, the 8-byte field included, to 0.
    void Clear();
    // Keeps only the first `count` frames (nothing for a count that is not
    // smaller); the buffer stays as it is.
    void Truncate(int count);

    int FrameCount() const { return m_frameCount; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    int BitsPerPixel() const { return m_bitsPerPixel; }
    int BytesPerPixel() const { return m_bitsPerPixel / 8; }
    std::size_t FrameSize() const;
    // The frame's FrameSize() bytes, or null for an index out of range.
    const std::uint8_t* Frame(int index) const;
    std::uint8_t* Frame(int index);
    const Reserved& ReservedField() const { return m_reserved; }
    void SetReservedField(const Reserved& field) { m_reserved = field; }
    // Frames the last Read found announced but not in the file.
    int MissingFrames() const { return m_missingFrames; }

    // Where the frames came from; frame names are made from it.
    const std::string& SourcePath() const { return m_sourcePath; }
    void SetSourcePath(const std::string& path) { m_sourcePath = path; }
    // The number each frame had in its source, when that is not its index
    // (frames taken from a video with a step); empty otherwise.
    const std::vector<int>& SourceFrameNumbers() const { return m_sourceFrames; }
    void SetSourceFrameNumbers(std::vector<int> numbers) { m_sourceFrames = std::move(numbers); }
    // The name shown for frame `index`: FrameName(SourcePath(), n) with n the
    // frame's number in its source.
    std::string FrameName(int index) const;
    // The name shown for frame `index` of a sequence read from `path`.
    static std::string FrameName(const std::string& path, int index);

private:
    int m_frameCount = 0;
    // Every frame, one after the other, FrameSize() bytes each.
    std::unique_ptr<std::uint8_t[]> m_frames;
    int m_width = 0;
    int m_height = 0;
    int m_bitsPerPixel = 0;
    Reserved m_reserved{};
    int m_missingFrames = 0;
    std::string m_sourcePath;
    std::vector<int> m_sourceFrames;
};
