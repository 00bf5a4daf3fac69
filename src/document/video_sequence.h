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
    using Reserved = std::array<std::uint8_t, 8>;

    VideoSequence() = default;
    virtual ~VideoSequence() = default;
    VideoSequence(const VideoSequence&) = delete;
    VideoSequence& operator=(const VideoSequence&) = delete;

    // Writes the header and every frame, flushing after each frame. Returns
    // false (and sets `*error`) when the file is null or a write fails.
    virtual bool Write(std::FILE* file, std::string* error = nullptr) const;
    // Reads a whole sequence. The header is checked against the file's real
    // size before anything is allocated: sizes and the count must be positive,
    // bits per pixel at least 8, and every frame must be present in the file.
    // On failure returns false, sets `*error` to the problem and leaves this
    // object as it was.
    virtual bool Read(std::FILE* file, std::string* error = nullptr);

    // Clear(), then room for `count` frames of the given size (zero-filled).
    // On a failed allocation or invalid values: Clear() and false.
    bool Allocate(int count, int width, int height, int bits);
    // Frees every frame and sets all values, the 8-byte field included, to 0.
    void Clear();

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

    // The name shown for frame `index` of a sequence read from `path`.
    static std::string FrameName(const std::string& path, int index);

private:
    int m_frameCount = 0;
    std::vector<std::unique_ptr<std::uint8_t[]>> m_frames;
    int m_width = 0;
    int m_height = 0;
    int m_bitsPerPixel = 0;
    Reserved m_reserved{};
};
