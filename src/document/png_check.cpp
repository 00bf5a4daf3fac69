#include "document/png_check.h"

#include <zlib.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr const char* CUT_SHORT = "file is cut short";
constexpr const char* DAMAGED_DATA = "damaged image data";
constexpr const char* DAMAGED_HEADER = "damaged image header";

uint32_t be32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

// The rows the image data holds: for each interlace pass, its number of rows
// and the bytes of one row, its filter byte included.
struct Pass {
    uint64_t rows;
    uint64_t rowBytes;
};

// The passes for the header's 13 bytes; empty when the header is not one
// the format allows.
std::vector<Pass> passesOf(const unsigned char* header) {
    const uint64_t width = be32(header), height = be32(header + 4);
    const int depth = header[8], type = header[9];
    if (width == 0 || height == 0 || header[10] != 0 || header[11] != 0 || header[12] > 1) return {};
    int channels = 0;
    switch (type) {
        case 0: channels = depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16 ? 1 : 0; break;
        case 3: channels = depth == 1 || depth == 2 || depth == 4 || depth == 8 ? 1 : 0; break;
        case 2: channels = depth == 8 || depth == 16 ? 3 : 0; break;
        case 4: channels = depth == 8 || depth == 16 ? 2 : 0; break;
        case 6: channels = depth == 8 || depth == 16 ? 4 : 0; break;
        default: break;
    }
    if (channels == 0) return {};
    const uint64_t bitsPerPixel = static_cast<uint64_t>(channels) * depth;
    const auto pass = [&](uint64_t x0, uint64_t y0, uint64_t dx, uint64_t dy) {
        const uint64_t w = width > x0 ? (width - x0 + dx - 1) / dx : 0;
        const uint64_t h = height > y0 ? (height - y0 + dy - 1) / dy : 0;
        // A pass without pixels has no rows at all, not even filter bytes.
        return w == 0 || h == 0 ? Pass{0, 0} : Pass{h, 1 + (w * bitsPerPixel + 7) / 8};
    };
    if (header[12] == 0) return {pass(0, 0, 1, 1)};
    return {pass(0, 0, 8, 8), pass(4, 0, 8, 8), pass(0, 4, 4, 8), pass(2, 0, 4, 4),
            pass(0, 2, 2, 4), pass(1, 0, 2, 2), pass(0, 1, 1, 2)};
}

// Inflates the image data piece by piece and checks that it holds exactly
// the announced rows, each starting with a filter byte of 0 to 4.
class ImageData {
public:
    explicit ImageData(std::vector<Pass> passes) : passes_(std::move(passes)) {
        for (const Pass& p : passes_) expected_ += p.rows * p.rowBytes;
        ok_ = inflateInit(&stream_) == Z_OK;
        nextPass();
    }
    ~ImageData() { inflateEnd(&stream_); }
    ImageData(const ImageData&) = delete;
    ImageData& operator=(const ImageData&) = delete;

    // Feeds a piece of compressed data; false once the data is damaged.
    bool feed(const unsigned char* bytes, size_t size) {
        stream_.next_in = const_cast<unsigned char*>(bytes);
        stream_.avail_in = static_cast<uInt>(size);
        while (ok_ && stream_.avail_in > 0) {
            if (ended_) return ok_ = false;  // more data after the end of the stream
            stream_.next_out = buffer_.data();
            stream_.avail_out = static_cast<uInt>(buffer_.size());
            const int result = inflate(&stream_, Z_NO_FLUSH);
            if (result != Z_OK && result != Z_STREAM_END) return ok_ = false;
            checkRows(buffer_.size() - stream_.avail_out);
            ended_ = result == Z_STREAM_END;
        }
        return ok_;
    }

    bool complete() const { return ok_ && ended_ && produced_ == expected_; }

private:
    void nextPass() {
        while (pass_ < passes_.size() && passes_[pass_].rows == 0) ++pass_;
        row_ = 0;
    }

    void checkRows(size_t size) {
        const uint64_t start = produced_;
        produced_ += size;
        if (produced_ > expected_) {
            ok_ = false;
            return;
        }
        while (pass_ < passes_.size() && nextFilter_ < produced_) {
            if (buffer_[nextFilter_ - start] > 4) {
                ok_ = false;
                return;
            }
            nextFilter_ += passes_[pass_].rowBytes;
            if (++row_ == passes_[pass_].rows) {
                ++pass_;
                nextPass();
            }
        }
    }

    std::vector<Pass> passes_;
    z_stream stream_{};
    std::array<unsigned char, 65536> buffer_{};
    uint64_t expected_ = 0, produced_ = 0, nextFilter_ = 0, row_ = 0;
    size_t pass_ = 0;
    bool ok_ = false, ended_ = false;
};

}  // namespace

std::string checkPngFile(std::istream& in) {
    in.clear();
    in.seekg(0, std::ios::end);
    const long long fileSize = static_cast<long long>(in.tellg());
    in.seekg(8);
    if (fileSize < 8 || !in) return CUT_SHORT;
    long long position = 8;

    std::vector<unsigned char> piece(65536);
    std::unique_ptr<ImageData> data;
    bool palette = false, paletteType = false, seenData = false, dataEnded = false;
    for (int chunk = 0;; ++chunk) {
        unsigned char header[8];
        in.read(reinterpret_cast<char*>(header), 8);
        if (in.gcount() != 8) return CUT_SHORT;
        const uint32_t length = be32(header);
        const unsigned char* type = header + 4;
        position += 8;
        if (static_cast<long long>(length) + 4 > fileSize - position) return CUT_SHORT;
        position += static_cast<long long>(length) + 4;

        const bool isHeader = std::memcmp(type, "IHDR", 4) == 0, isData = std::memcmp(type, "IDAT", 4) == 0;
        if ((chunk == 0) != isHeader) return DAMAGED_HEADER;
        if (isHeader && length != 13) return DAMAGED_HEADER;
        if (isData && paletteType && !palette) return DAMAGED_HEADER;
        // Only the first run of data chunks is read as the image.
        if (isData) seenData = true;
        else if (seenData) dataEnded = true;

        uLong crc = crc32(0, type, 4);
        std::vector<unsigned char> headerBytes;
        for (uint32_t left = length; left > 0;) {
            const uint32_t n = left < piece.size() ? left : static_cast<uint32_t>(piece.size());
            in.read(reinterpret_cast<char*>(piece.data()), n);
            if (static_cast<uint32_t>(in.gcount()) != n) return CUT_SHORT;
            crc = crc32(crc, piece.data(), n);
            if (isHeader) headerBytes.assign(piece.begin(), piece.begin() + n);
            if (isData && !dataEnded && !data->feed(piece.data(), n)) return DAMAGED_DATA;
            left -= n;
        }
        unsigned char stored[4];
        in.read(reinterpret_cast<char*>(stored), 4);
        if (in.gcount() != 4) return CUT_SHORT;
        if (crc != be32(stored)) return DAMAGED_DATA;

        if (isHeader) {
            std::vector<Pass> passes = passesOf(headerBytes.data());
            if (passes.empty()) return DAMAGED_HEADER;
            paletteType = headerBytes[9] == 3;
            data = std::make_unique<ImageData>(std::move(passes));
        } else if (std::memcmp(type, "PLTE", 4) == 0) {
            if (length == 0 || length % 3 != 0 || length > 768) return DAMAGED_HEADER;
            palette = true;
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            return data && data->complete() ? std::string() : DAMAGED_DATA;
        }
    }
}
