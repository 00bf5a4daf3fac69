#include "document/video_sequence.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

void setError(std::string* error, const std::string& text) {
    if (error) *error = text;
}

std::int32_t readInt32(const std::uint8_t* p) {
    std::uint32_t v = std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
                      (std::uint32_t(p[3]) << 24);
    return static_cast<std::int32_t>(v);
}

void writeInt32(std::uint8_t* p, std::int32_t value) {
    std::uint32_t v = static_cast<std::uint32_t>(value);
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
    p[2] = std::uint8_t(v >> 16);
    p[3] = std::uint8_t(v >> 24);
}

// Bytes from the current position to the end of the file, or -1 when the
// stream cannot be measured. The position is left where it was.
long long remainingBytes(std::FILE* file) {
    long start = std::ftell(file);
    if (start < 0) return -1;
    if (std::fseek(file, 0, SEEK_END) != 0) return -1;
    long end = std::ftell(file);
    if (std::fseek(file, start, SEEK_SET) != 0 || end < start) return -1;
    return static_cast<long long>(end - start);
}

}  // namespace

std::size_t VideoSequence::FrameSize() const {
    if (m_width <= 0 || m_height <= 0 || m_bitsPerPixel < 8) return 0;
    return static_cast<std::size_t>(m_bitsPerPixel / 8) * static_cast<std::size_t>(m_height) *
           static_cast<std::size_t>(m_width);
}

const std::uint8_t* VideoSequence::Frame(int index) const {
    if (index < 0 || index >= m_frameCount || !m_frames) return nullptr;
    return m_frames.get() + static_cast<std::size_t>(index) * FrameSize();
}

std::uint8_t* VideoSequence::Frame(int index) {
    return const_cast<std::uint8_t*>(static_cast<const VideoSequence*>(this)->Frame(index));
}

void VideoSequence::Clear() {
    m_frames.reset();
    m_frameCount = 0;
    m_width = 0;
    m_height = 0;
    m_bitsPerPixel = 0;
    m_reserved = {};
    m_missingFrames = 0;
    m_sourcePath.clear();
    m_sourceFrames.clear();
}

void VideoSequence::Truncate(int count) {
    if (count < 0 || count >= m_frameCount) return;
    m_frameCount = count;
    if (m_sourceFrames.size() > static_cast<std::size_t>(count)) m_sourceFrames.resize(static_cast<std::size_t>(count));
}

bool VideoSequence::Allocate(int count, int width, int height, int bits) {
    Clear();
    if (count < 0 || width < 0 || height < 0 || bits < 0) return false;
    m_width = width;
    m_height = height;
    m_bitsPerPixel = bits;
    const std::size_t size = FrameSize();
    if (size > 0 && static_cast<std::size_t>(count) > SIZE_MAX / size) {
        Clear();
        return false;
    }
    try {
        m_frames.reset(new std::uint8_t[static_cast<std::size_t>(count) * size]());
    } catch (const std::bad_alloc&) {
        Clear();
        return false;
    }
    m_frameCount = count;
    return true;
}

bool VideoSequence::Read(std::FILE* file, std::string* error) {
    if (!file) {
        setError(error, "no file to read");
        return false;
    }
    long long available = remainingBytes(file);
    if (available < 0) {
        setError(error, "the file's size cannot be determined");
        return false;
    }
    std::uint8_t header[HEADER_SIZE];
    if (available < static_cast<long long>(HEADER_SIZE) || std::fread(header, 1, HEADER_SIZE, file) != HEADER_SIZE) {
        setError(error, "the file is shorter than the 24-byte header (" + std::to_string(available) + " bytes)");
        return false;
    }
    available -= static_cast<long long>(HEADER_SIZE);
    const int width = readInt32(header + 0);
    const int height = readInt32(header + 4);
    const int bits = readInt32(header + 8);
    const int count = readInt32(header + 12);
    Reserved reserved;
    std::memcpy(reserved.data(), header + 16, reserved.size());

    if (width <= 0 || height <= 0) {
        setError(error, "the frame size " + std::to_string(width) + " x " + std::to_string(height) +
                            " is not positive");
        return false;
    }
    if (bits != 8 && bits != 24 && bits != 32) {
        setError(error, "bits per pixel " + std::to_string(bits) + " is not 8, 24 or 32");
        return false;
    }
    if (count < 0 || count > MAX_FILE_FRAMES) {
        setError(error, "the frame count " + std::to_string(count) + " is not between 0 and " +
                            std::to_string(MAX_FILE_FRAMES));
        return false;
    }
    // The frames the file holds completely, found by division so that no
    // product of header values can overflow; nothing beyond the announced
    // frames is read.
    const unsigned long long pixels = static_cast<unsigned long long>(width) * static_cast<unsigned long long>(height);
    const unsigned long long bytesPerPixel = static_cast<unsigned long long>(bits / 8);
    const unsigned long long room = static_cast<unsigned long long>(available);
    int complete = 0;
    if (count > 0 && pixels <= room / bytesPerPixel) {
        const unsigned long long frameSize = pixels * bytesPerPixel;
        complete = static_cast<int>(std::min(static_cast<unsigned long long>(count), room / frameSize));
    }
    if (count > 0 && complete == 0) {
        setError(error, "the file ends inside its first frame (" + std::to_string(width) + " x " +
                            std::to_string(height) + " pixels at " + std::to_string(bits) + " bits, " +
                            std::to_string(available) + " bytes of frame data)");
        return false;
    }

    VideoSequence read;
    if (!read.Allocate(complete, width, height, bits)) {
        setError(error, "not enough memory for " + std::to_string(complete) + " frames");
        return false;
    }
    const std::size_t total = static_cast<std::size_t>(complete) * read.FrameSize();
    const std::size_t got = total > 0 ? std::fread(read.m_frames.get(), 1, total, file) : 0;
    if (got != total) {
        // The file shrank since it was measured: keep what arrived whole.
        read.m_frameCount = static_cast<int>(got / read.FrameSize());
        if (read.m_frameCount == 0) {
            setError(error, "the file ended inside its first frame");
            return false;
        }
    }
    m_frames = std::move(read.m_frames);
    m_frameCount = read.m_frameCount;
    m_width = width;
    m_height = height;
    m_bitsPerPixel = bits;
    m_reserved = reserved;
    m_missingFrames = count - m_frameCount;
    m_sourceFrames.clear();
    return true;
}

bool VideoSequence::Write(std::FILE* file, std::string* error) const {
    if (!file) {
        setError(error, "no file to write");
        return false;
    }
    std::uint8_t header[HEADER_SIZE];
    writeInt32(header + 0, m_width);
    writeInt32(header + 4, m_height);
    writeInt32(header + 8, m_bitsPerPixel);
    writeInt32(header + 12, m_frameCount);
    std::memcpy(header + 16, m_reserved.data(), m_reserved.size());
    const auto failed = [&] {
        setError(error, std::string("writing failed: ") + std::strerror(errno));
        return false;
    };
    if (std::fwrite(header, 1, HEADER_SIZE, file) != HEADER_SIZE) return failed();
    const std::size_t size = FrameSize();
    for (int i = 0; i < m_frameCount; ++i) {
        if (size > 0 && std::fwrite(Frame(i), 1, size, file) != size) return failed();
        if (std::fflush(file) != 0) return failed();
    }
    if (std::fflush(file) != 0) return failed();
    return true;
}

std::string VideoSequence::FrameName(int index) const {
    if (index >= 0 && static_cast<std::size_t>(index) < m_sourceFrames.size())
        return FrameName(m_sourcePath, m_sourceFrames[static_cast<std::size_t>(index)]);
    return FrameName(m_sourcePath, index);
}

std::string VideoSequence::FrameName(const std::string& path, int index) {
    return path + " Frame " + std::to_string(index);
}
