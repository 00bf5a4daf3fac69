#include "document/frame_decoder.h"

#include <IL/il.h>
#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <new>
#include <vector>

#include "grid/frame_image.h"

std::mutex& devilMutex() {
    static std::mutex guard;
    return guard;
}

namespace {

bool sizeAcceptable(long long width, long long height) {
    return width >= 1 && height >= 1 && width <= FRAME_MAX_SIDE && height <= FRAME_MAX_SIDE &&
           width * height <= FRAME_MAX_PIXELS;
}

// The image library sizes its pixel buffer from the header before it decodes
// anything, in 32-bit arithmetic. A header that claims an enormous picture can
// make it allocate a wrapped-around size and write past it, and some of its
// readers fail badly on files that end early, so the common formats (netpbm,
// JPEG, PNG, BMP) are checked here first. Formats not recognised here are left
// to the library (and their size is checked after decoding).
class HeaderSniffer {
public:
    explicit HeaderSniffer(const std::string& path) : in_(path, std::ios::binary) {}

    // Empty when the file may be handed to the library, else the reason not to.
    std::string check() {
        std::array<unsigned char, 26> head{};
        in_.read(reinterpret_cast<char*>(head.data()), head.size());
        const std::streamsize got = in_.gcount();
        if (got >= 2 && head[0] == 'P' && head[1] >= '1' && head[1] <= '6') return pnmCheck(static_cast<char>(head[1]));
        if (got >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) return sized(jpegOk());
        if (got >= 24 && std::memcmp(head.data(), "\x89PNG\r\n\x1a\n", 8) == 0) {
            const long long w = be32(&head[16]), h = be32(&head[20]);
            if (!sizeAcceptable(w, h)) return OUT_OF_RANGE;
            return pngChunksCheck();
        }
        if (got >= 26 && head[0] == 'B' && head[1] == 'M') {
            const long long w = static_cast<int32_t>(le32(&head[18]));
            const long long h = static_cast<int32_t>(le32(&head[22]));
            return sized(sizeAcceptable(w < 0 ? -w : w, h < 0 ? -h : h));
        }
        return {};
    }

private:
    static std::string sized(bool ok) { return ok ? std::string() : std::string(OUT_OF_RANGE); }
    static constexpr const char* OUT_OF_RANGE = "image size out of range";

    static uint32_t be32(const unsigned char* p) {
        return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
    }
    static uint32_t le32(const unsigned char* p) {
        return (uint32_t(p[3]) << 24) | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | uint32_t(p[0]);
    }

    // Reads the next decimal field of a netpbm header, skipping white space
    // and comments. -1 when there is none or it is absurdly long.
    long long pnmField() {
        int c = in_.get();
        for (;;) {
            if (c == '#') {
                while (c != EOF && c != '\n' && c != '\r') c = in_.get();
            } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
                c = in_.get();
            } else {
                break;
            }
        }
        if (c < '0' || c > '9') return -1;
        long long value = 0;
        int digits = 0;
        while (c >= '0' && c <= '9') {
            if (++digits > 12) return -1;
            value = value * 10 + (c - '0');
            c = in_.get();
        }
        return value;
    }

    // Checks the size, and for the binary forms that the file really holds
    // all the rows its header announces: the library's binary reader does not
    // survive a short file.
    std::string pnmCheck(char kind) {
        in_.clear();
        in_.seekg(2);
        const long long w = pnmField();
        const long long h = pnmField();
        if (w < 0 || h < 0) return "damaged image header";
        if (!sizeAcceptable(w, h)) return OUT_OF_RANGE;
        long long maxValue = 1;
        if (kind != '1' && kind != '4') {
            maxValue = pnmField();
            if (maxValue < 1 || maxValue > 65535) return "damaged image header";
        }
        if (kind < '4') return {};  // plain (text) forms
        // pnmField consumed the single white space byte after the last field.
        // A reader may instead take the header line by line; the body then
        // starts after the next line end. The file must be long enough for
        // either reading.
        in_.unget();
        const int terminator = in_.get();
        std::streamoff bodyStart = in_.tellg();
        if (bodyStart < 0) return "damaged image header";
        if (terminator != '\n') {
            int c = in_.get();
            while (c != EOF && c != '\n') c = in_.get();
            if (c == EOF) return "file is shorter than its header says";
            bodyStart = in_.tellg();
        }
        in_.clear();
        in_.seekg(0, std::ios::end);
        const std::streamoff fileSize = in_.tellg();
        const long long sampleBytes = maxValue > 255 ? 2 : 1;
        long long rowBytes = 0;
        if (kind == '4') rowBytes = (w + 7) / 8;
        else if (kind == '5') rowBytes = w * sampleBytes;
        else rowBytes = w * 3 * sampleBytes;
        if (fileSize - bodyStart < rowBytes * h) return "file is shorter than its header says";
        return {};
    }

    // Walks the PNG chunks up to the end marker and checks every chunk's CRC.
    // The library's PNG reader loses memory on every file it gives up on
    // half way, so files that are cut short or damaged are refused here.
    std::string pngChunksCheck() {
        in_.clear();
        in_.seekg(8);
        std::vector<unsigned char> data;
        for (;;) {
            unsigned char header[8];
            in_.read(reinterpret_cast<char*>(header), 8);
            if (in_.gcount() != 8) return "file is cut short";
            const uint32_t length = be32(header);
            if (length > 0x7fffffffu) return "damaged image data";
            data.resize(length);
            if (length > 0) {
                in_.read(reinterpret_cast<char*>(data.data()), length);
                if (static_cast<uint32_t>(in_.gcount()) != length) return "file is cut short";
            }
            unsigned char stored[4];
            in_.read(reinterpret_cast<char*>(stored), 4);
            if (in_.gcount() != 4) return "file is cut short";
            uint32_t crc = crcUpdate(0xffffffffu, header + 4, 4);
            crc = crcUpdate(crc, data.data(), data.size()) ^ 0xffffffffu;
            if (crc != be32(stored)) return "damaged image data";
            if (std::memcmp(header + 4, "IEND", 4) == 0) return {};
        }
    }

    static uint32_t crcUpdate(uint32_t crc, const unsigned char* bytes, size_t size) {
        static const std::array<uint32_t, 256> table = [] {
            std::array<uint32_t, 256> t{};
            for (uint32_t n = 0; n < 256; ++n) {
                uint32_t c = n;
                for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
                t[n] = c;
            }
            return t;
        }();
        for (size_t i = 0; i < size; ++i) crc = table[(crc ^ bytes[i]) & 0xff] ^ (crc >> 8);
        return crc;
    }

    // Walks the JPEG markers up to the first start-of-frame and checks the
    // size it declares.
    bool jpegOk() {
        in_.clear();
        in_.seekg(2);
        for (int guard = 0; guard < 4096; ++guard) {
            int c = in_.get();
            if (c == EOF) return true;  // truncated before a frame header: the decoder will refuse it
            if (c != 0xFF) return true;
            int marker = in_.get();
            while (marker == 0xFF) marker = in_.get();
            if (marker == EOF) return true;
            if (marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) continue;
            const int hi = in_.get(), lo = in_.get();
            if (hi == EOF || lo == EOF) return true;
            const int length = (hi << 8) | lo;
            if (length < 2) return false;
            const bool startOfFrame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                                      marker != 0xCC;
            if (startOfFrame) {
                unsigned char sof[5];
                in_.read(reinterpret_cast<char*>(sof), 5);
                if (in_.gcount() != 5) return true;
                const long long h = (sof[1] << 8) | sof[2];
                const long long w = (sof[3] << 8) | sof[4];
                return sizeAcceptable(w, h);
            }
            in_.seekg(length - 2, std::ios::cur);
        }
        return true;
    }

    std::ifstream in_;
};

bool isReadableFile(const std::string& path) {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0) return false;
    if (!S_ISREG(info.st_mode) || info.st_size <= 0) return false;
    std::ifstream probe(path, std::ios::binary);
    return static_cast<bool>(probe);
}

void initialiseDevil() {
    // Called with devilMutex() held.
    static bool initialised = false;
    if (initialised) return;
    ilInit();
    // Every format delivers its top row first.
    ilEnable(IL_ORIGIN_SET);
    ilOriginFunc(IL_ORIGIN_UPPER_LEFT);
    initialised = true;
}

// Frees the image name when the decode returns, whatever path it takes.
class BoundImage {
public:
    BoundImage() {
        ilGenImages(1, &name_);
        ilBindImage(name_);
    }
    ~BoundImage() {
        ilBindImage(0);
        ilDeleteImages(1, &name_);
        // Leave no stale error behind for the next decode.
        while (ilGetError() != IL_NO_ERROR) {
        }
    }
    BoundImage(const BoundImage&) = delete;
    BoundImage& operator=(const BoundImage&) = delete;

private:
    ILuint name_ = 0;
};

// Grey level of one palette entry, with the weights the library uses for its
// own luminance conversion (so a grey palette maps to its own levels).
unsigned char paletteGrey(unsigned r, unsigned g, unsigned b) {
    return static_cast<unsigned char>((r * 212671u + g * 715160u + b * 72169u) / 1000000u);
}

// Builds the grey level of every index of the bound image's palette; indices
// beyond the palette read as black. Empty when the palette is unusable. (The
// library's own conversion of palette images to luminance reads out of
// bounds, even on sound files, so it is not used.)
std::vector<unsigned char> paletteGreyLevels() {
    const ILubyte* palette = ilGetPalette();
    const ILint type = ilGetInteger(IL_PALETTE_TYPE);
    const ILint colours = ilGetInteger(IL_PALETTE_NUM_COLS);
    const ILint entryBytes = ilGetInteger(IL_PALETTE_BPP);
    int red = 0, blue = 2, size = 3;
    switch (type) {
        case IL_PAL_RGB24: break;
        case IL_PAL_RGB32:
        case IL_PAL_RGBA32: size = 4; break;
        case IL_PAL_BGR24: red = 2, blue = 0; break;
        case IL_PAL_BGR32:
        case IL_PAL_BGRA32: red = 2, blue = 0, size = 4; break;
        default: return {};
    }
    if (!palette || colours < 1 || entryBytes != size) return {};
    std::vector<unsigned char> levels(256, 0);
    const int used = colours < 256 ? colours : 256;
    for (int i = 0; i < used; ++i) {
        const ILubyte* entry = palette + static_cast<size_t>(i) * size;
        levels[i] = paletteGrey(entry[red], entry[1], entry[blue]);
    }
    return levels;
}

cv::Mat fail(std::string* error, const std::string& path, const std::string& why) {
    if (error) *error = path + ": " + why;
    return cv::Mat();
}

// The decode proper, under the library's guard.
cv::Mat decodeLocked(const std::string& path, std::string* error) {
    std::lock_guard<std::mutex> lock(devilMutex());
    initialiseDevil();
    BoundImage bound;

    if (!ilLoadImage(path.c_str())) return fail(error, path, "not a readable image");

    const ILint width = ilGetInteger(IL_IMAGE_WIDTH);
    const ILint height = ilGetInteger(IL_IMAGE_HEIGHT);
    const ILint bytesPerPixel = ilGetInteger(IL_IMAGE_BYTES_PER_PIXEL);
    const ILint format = ilGetInteger(IL_IMAGE_FORMAT);
    if (!sizeAcceptable(width, height)) return fail(error, path, "image size out of range");
    if (bytesPerPixel < 1) return fail(error, path, "image has no pixel data");

    cv::Mat frame = makeFrameImage(width, height);
    if (frame.empty() || !frame.data) return fail(error, path, "cannot allocate the frame");

    const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
    if (bytesPerPixel == 1) {
        // One byte per pixel: grey levels taken as they are, or palette
        // indices looked up here.
        const ILubyte* data = ilGetData();
        const ILint size = ilGetInteger(IL_IMAGE_SIZE_OF_DATA);
        if (!data || size < 0 || static_cast<size_t>(size) < w * h) return fail(error, path, "image data incomplete");
        if (format == IL_COLOUR_INDEX) {
            const std::vector<unsigned char> levels = paletteGreyLevels();
            if (levels.empty()) return fail(error, path, "image palette unusable");
            for (size_t y = 0; y < h; ++y) {
                unsigned char* row = frame.ptr(static_cast<int>(y));
                const ILubyte* source = data + y * w;
                for (size_t x = 0; x < w; ++x) row[x] = levels[source[x]];
            }
        } else {
            for (size_t y = 0; y < h; ++y) std::memcpy(frame.ptr(static_cast<int>(y)), data + y * w, w);
        }
    } else {
        std::vector<unsigned char> grey(w * h);
        if (!ilCopyPixels(0, 0, 0, width, height, 1, IL_LUMINANCE, IL_UNSIGNED_BYTE, grey.data()))
            return fail(error, path, "cannot convert the image to grey");
        for (size_t y = 0; y < h; ++y) std::memcpy(frame.ptr(static_cast<int>(y)), grey.data() + y * w, w);
    }
    return frame;
}

}  // namespace

cv::Mat decodeFrameFile(const std::string& path) { return decodeFrameFile(path, nullptr); }

cv::Mat decodeFrameFile(const std::string& path, std::string* error) {
    if (!isReadableFile(path)) return fail(error, path, "cannot open file");
    const std::string refused = HeaderSniffer(path).check();
    if (!refused.empty()) return fail(error, path, refused);
    try {
        return decodeLocked(path, error);
    } catch (const cv::Exception&) {
        return fail(error, path, "cannot allocate the frame");
    } catch (const std::bad_alloc&) {
        return fail(error, path, "cannot allocate the frame");
    }
}
