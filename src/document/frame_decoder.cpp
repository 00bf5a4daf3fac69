#include "document/frame_decoder.h"

#include <IL/il.h>
#include <dlfcn.h>
#include <ext/stdio_filebuf.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <istream>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

#include "document/jpeg_decoder.h"
#include "document/netpbm_decoder.h"
#include "document/png_check.h"
#include "calibration/regular_file.h"
#include "grid/frame_image.h"

std::mutex& devilMutex() {
    static std::mutex guard;
    return guard;
}

namespace {

// The formats decoded, each known by its signature and checked before any
// decoder allocates a byte for it.
enum class ImageFormat { Jpeg, Png, Bmp, Netpbm };

constexpr const char* UNSUPPORTED = "unsupported image format";
constexpr const char* NOT_AN_IMAGE = "not an image";

// What the header check found: the format, the size and the bytes one
// decoded pixel takes as the file stores it (all channels at their depth).
struct CheckedImage {
    ImageFormat format = ImageFormat::Jpeg;
    long long width = 0;
    long long height = 0;
    long long pixelBytes = 1;
    NetpbmHeader netpbm;
};

// Empty when a picture of this size may be decoded, else why not.
std::string sizeProblem(long long width, long long height, long long pixelBytes) {
    const std::string size = std::to_string(width) + " x " + std::to_string(height) + " pixels";
    if (width < 1 || height < 1) return "image has no pixels (" + size + ")";
    if (width > FRAME_MAX_SIDE || height > FRAME_MAX_SIDE || width * height > FRAME_MAX_PIXELS)
        return "image too large (" + size + ")";
    // Sides of at most 2^15 and at most 8 bytes a pixel: no overflow.
    const long long bytes = width * height * pixelBytes;
    if (bytes > FRAME_MAX_BYTES) {
        return "image too large (" + size + " of " + std::to_string(pixelBytes) + " bytes, " +
               std::to_string(bytes / 1000000) + " MB decoded, at most " + std::to_string(FRAME_MAX_BYTES / 1000000) +
               " MB)";
    }
    return {};
}

uint32_t be32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
uint32_t le16(const unsigned char* p) { return (uint32_t(p[1]) << 8) | uint32_t(p[0]); }
uint32_t le32(const unsigned char* p) {
    return (uint32_t(p[3]) << 24) | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | uint32_t(p[0]);
}

// The image library sizes its pixel buffer from the header before it decodes
// anything, in 32-bit arithmetic that wraps, and some of its readers fail
// badly on files that end early. So the format is told by the file's
// signature alone (never by its name), only the four formats whose headers
// are checked here are decoded at all, and each header is checked against
// the size limits and the file before a decoder sees it. Netpbm pictures are
// never given to the library: its reader loses or frees twice what it read
// from damaged files and gets 16-bit samples and bitmaps wrong.
class HeaderCheck {
public:
    explicit HeaderCheck(std::istream& in) : in_(in) {}

    // Empty when the file may be decoded as `image`, else the reason not to.
    std::string check(CheckedImage& image) {
        std::array<unsigned char, 8> head{};
        in_.read(reinterpret_cast<char*>(head.data()), head.size());
        const std::streamsize got = in_.gcount();
        if (got == 0) return "empty file";
        std::string why;
        if (got >= 2 && head[0] == 'P' && head[1] >= '1' && head[1] <= '6') {
            image.format = ImageFormat::Netpbm;
            why = netpbmCheck(image);
        } else if (got >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) {
            image.format = ImageFormat::Jpeg;
            why = jpegCheck(image);
        } else if (got >= 8 && std::memcmp(head.data(), "\x89PNG\r\n\x1a\n", 8) == 0) {
            image.format = ImageFormat::Png;
            why = pngCheck(image);
        } else if (got >= 2 && head[0] == 'B' && head[1] == 'M') {
            image.format = ImageFormat::Bmp;
            why = bmpCheck(image);
        } else {
            // Text (a list, a note, a PDF) is no picture of any format;
            // everything else may be a picture of a format not decoded here.
            const bool text = std::all_of(head.begin(), head.begin() + got, [](unsigned char c) {
                return (c >= 0x20 && c < 0x7f) || c == '\t' || c == '\n' || c == '\r';
            });
            return text ? NOT_AN_IMAGE : UNSUPPORTED;
        }
        return why;
    }

private:
    static constexpr const char* TRUNCATED_JPEG = "truncated JPEG";
    static constexpr const char* DAMAGED_JPEG = "damaged JPEG";
    static constexpr const char* TRUNCATED_BMP = "truncated BMP";
    static constexpr const char* DAMAGED_BMP = "damaged BMP header";

    long long fileSize() {
        in_.clear();
        in_.seekg(0, std::ios::end);
        const long long size = static_cast<long long>(in_.tellg());
        in_.seekg(0);
        return size;
    }

    // The header of a netpbm picture, which is decoded by decodeNetpbm (that
    // checks the samples against the file's size before it allocates).
    std::string netpbmCheck(CheckedImage& image) {
        in_.clear();
        in_.seekg(0);
        NetpbmHeader& header = image.netpbm;
        if (!readNetpbmHeader(in_, header)) return "damaged netpbm header";
        image.width = header.width;
        image.height = header.height;
        const bool colour = header.kind == '3' || header.kind == '6';
        image.pixelBytes = (colour ? 3 : 1) * (header.maxValue > 255 ? 2 : 1);
        return sizeProblem(image.width, image.height, image.pixelBytes);
    }

    // The header's size, then the whole file: the library's PNG reader loses
    // memory on files it gives up on half way.
    std::string pngCheck(CheckedImage& image) {
        std::array<unsigned char, 26> h{};
        in_.clear();
        in_.seekg(0);
        in_.read(reinterpret_cast<char*>(h.data()), h.size());
        if (in_.gcount() < 26) return "truncated PNG";
        image.width = be32(&h[16]);
        image.height = be32(&h[20]);
        const int depth = h[24], type = h[25];
        const long long channels = type == 2 ? 3 : type == 4 ? 2 : type == 6 ? 4 : 1;
        image.pixelBytes = channels * (depth == 16 ? 2 : 1);
        if (std::string why = sizeProblem(image.width, image.height, image.pixelBytes); !why.empty()) return why;
        return checkPngFile(in_);
    }

    // Checks a BMP's headers against each other and against the file: the
    // library sizes its palette and its pixel rows from them without looking
    // at the file's size.
    std::string bmpCheck(CheckedImage& image) {
        const long long size = fileSize();
        std::array<unsigned char, 54> h{};
        in_.read(reinterpret_cast<char*>(h.data()), h.size());
        const long long got = in_.gcount();
        if (got < 26) return TRUNCATED_BMP;
        const long long offset = le32(&h[10]), infoSize = le32(&h[14]);
        long long width = 0, height = 0, planes = 0, bits = 0, compression = 0, colours = 0, entryBytes = 4;
        if (infoSize == 12) {  // the oldest header: 16-bit sizes, 3-byte palette entries
            width = le16(&h[18]), height = le16(&h[20]), planes = le16(&h[22]), bits = le16(&h[24]);
            entryBytes = 3;
        } else if (infoSize == 40 || infoSize == 52 || infoSize == 56 || infoSize == 64 || infoSize == 108 ||
                   infoSize == 124) {
            if (got < 54) return TRUNCATED_BMP;
            width = static_cast<int32_t>(le32(&h[18]));
            height = static_cast<int32_t>(le32(&h[22]));
            planes = le16(&h[26]), bits = le16(&h[28]), compression = le32(&h[30]), colours = le32(&h[46]);
        } else {
            return DAMAGED_BMP;
        }
        if (height < 0) height = -height;
        image.width = width;
        image.height = height;
        // Palette indices are kept one byte each, 16-bit colour becomes 24-bit.
        image.pixelBytes = bits <= 8 ? 1 : bits <= 24 ? 3 : 4;
        if (std::string why = sizeProblem(width, height, image.pixelBytes); !why.empty()) return why;
        const bool knownBits = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
        const bool knownCompression = compression == 0 || (compression == 1 && bits == 8) ||
                                      (compression == 2 && bits == 4) || (compression == 3 && (bits == 16 || bits == 32));
        if (planes != 1 || !knownBits || !knownCompression || colours > 256) return DAMAGED_BMP;
        if (colours == 0 && bits <= 8) colours = 1LL << bits;
        // Palette after the headers, pixels from the offset on, all in the file.
        if (14 + infoSize + colours * entryBytes > size || offset < 14 + infoSize || offset > size)
            return TRUNCATED_BMP;
        const long long rowBytes = (width * bits + 31) / 32 * 4;
        if (compression == 0 && offset + rowBytes * height > size) return TRUNCATED_BMP;
        return {};
    }

    // Walks the JPEG marker segments up to the start of the first scan. Each
    // must lie inside the file (the library's reader never returns from a
    // segment that runs past the end), and the frame header's size must be
    // acceptable. After the scan starts, the file must hold the end marker:
    // a file cut short would be decoded with its missing rows made up.
    std::string jpegCheck(CheckedImage& image) {
        const std::streamoff size = fileSize();
        in_.seekg(2);
        bool frame = false;
        for (int guard = 0; guard < 4096; ++guard) {
            // Stray bytes before a marker are passed over, as the library does.
            int c = in_.get();
            while (c != EOF && c != 0xFF) c = in_.get();
            if (c == EOF) return TRUNCATED_JPEG;
            int marker = in_.get();
            while (marker == 0xFF) marker = in_.get();
            if (marker == EOF) return TRUNCATED_JPEG;
            if (marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) continue;
            if (marker == 0xD9) return DAMAGED_JPEG;  // the end before any scan
            const int hi = in_.get(), lo = in_.get();
            if (hi == EOF || lo == EOF) return TRUNCATED_JPEG;
            const int length = (hi << 8) | lo;
            if (length < 2) return DAMAGED_JPEG;
            const std::streamoff end = in_.tellg() + static_cast<std::streamoff>(length - 2);
            if (end > size) return TRUNCATED_JPEG;
            if (marker == 0xDA) {
                if (!frame) return DAMAGED_JPEG;
                in_.seekg(end);
                return endMarkerFollows() ? std::string() : std::string(TRUNCATED_JPEG);
            }
            const bool startOfFrame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                                      marker != 0xCC;
            if (startOfFrame) {
                unsigned char sof[6];
                in_.read(reinterpret_cast<char*>(sof), 6);
                if (in_.gcount() != 6) return TRUNCATED_JPEG;
                image.height = (sof[1] << 8) | sof[2];
                image.width = (sof[3] << 8) | sof[4];
                image.pixelBytes = std::max(1, int{sof[5]}) * (sof[0] > 8 ? 2 : 1);
                if (std::string why = sizeProblem(image.width, image.height, image.pixelBytes); !why.empty())
                    return why;
                frame = true;
            }
            in_.seekg(end);
        }
        return DAMAGED_JPEG;
    }

    // Whether the rest of the file holds an end-of-image marker. Inside the
    // compressed data a 0xFF byte is always followed by 0 or a restart
    // marker, so the first 0xFF 0xD9 is the end.
    bool endMarkerFollows() {
        std::array<char, 65536> piece;
        bool afterFF = false;
        while (in_) {
            in_.read(piece.data(), piece.size());
            const std::streamsize got = in_.gcount();
            for (std::streamsize i = 0; i < got; ++i) {
                const auto c = static_cast<unsigned char>(piece[i]);
                if (afterFF && c == 0xD9) return true;
                afterFF = c == 0xFF;
            }
        }
        return false;
    }

    std::istream& in_;
};

// The image library's functions this unit calls. The library and the
// decoders it links are opened with the first file that needs them (JPEG and
// netpbm pictures are decoded without it), so a run on those never maps them.
struct Devil {
    decltype(&::ilInit) Init;
    decltype(&::ilEnable) Enable;
    decltype(&::ilOriginFunc) OriginFunc;
    decltype(&::ilGenImages) GenImages;
    decltype(&::ilBindImage) BindImage;
    decltype(&::ilDeleteImages) DeleteImages;
    decltype(&::ilGetError) GetError;
    decltype(&::ilGetPalette) GetPalette;
    decltype(&::ilGetInteger) GetInteger;
    decltype(&::ilLoadF) LoadF;
    decltype(&::ilGetData) GetData;
    decltype(&::ilCopyPixels) CopyPixels;
};

constexpr const char* DEVIL_LIBRARY = "libIL.so.1";

// The library, opened and initialised on first use; null when it cannot be
// loaded. Called with devilMutex() held.
const Devil* devil() {
    static Devil api{};
    static bool tried = false;
    static bool loaded = false;
    if (tried) return loaded ? &api : nullptr;
    tried = true;
    void* library = dlopen(DEVIL_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!library) return nullptr;
    auto find = [&](auto& function, const char* name) {
        function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(library, name));
        return function != nullptr;
    };
    loaded = find(api.Init, "ilInit") && find(api.Enable, "ilEnable") && find(api.OriginFunc, "ilOriginFunc") &&
             find(api.GenImages, "ilGenImages") && find(api.BindImage, "ilBindImage") &&
             find(api.DeleteImages, "ilDeleteImages") && find(api.GetError, "ilGetError") &&
             find(api.GetPalette, "ilGetPalette") && find(api.GetInteger, "ilGetInteger") &&
             find(api.LoadF, "ilLoadF") && find(api.GetData, "ilGetData") &&
             find(api.CopyPixels, "ilCopyPixels");
    if (!loaded) return nullptr;
    api.Init();
    // Every format delivers its top row first.
    api.Enable(IL_ORIGIN_SET);
    api.OriginFunc(IL_ORIGIN_UPPER_LEFT);
    return &api;
}

// Frees the image name when the decode returns, whatever path it takes.
class BoundImage {
public:
    explicit BoundImage(const Devil& il) : il_(il) {
        il_.GenImages(1, &name_);
        il_.BindImage(name_);
    }
    ~BoundImage() {
        il_.BindImage(0);
        il_.DeleteImages(1, &name_);
        // Leave no stale error behind for the next decode.
        while (il_.GetError() != IL_NO_ERROR) {
        }
    }
    BoundImage(const BoundImage&) = delete;
    BoundImage& operator=(const BoundImage&) = delete;

private:
    const Devil& il_;
    ILuint name_ = 0;
};

// Grey level of one palette entry, with the weights the library uses for its
// own luminance conversion, in exact arithmetic (so a grey palette maps to its
// own levels).
unsigned char paletteGrey(unsigned r, unsigned g, unsigned b) {
    return static_cast<unsigned char>((r * 212671u + g * 715160u + b * 72169u) / 1000000u);
}

// Builds the grey level of every index of the bound image's palette; indices
// beyond the palette read as black. Empty when the palette is unusable. (The
// library's own conversion of palette images to luminance reads out of
// bounds, even on sound files, so it is not used.)
std::vector<unsigned char> paletteGreyLevels(const Devil& il) {
    const ILubyte* palette = il.GetPalette();
    const ILint type = il.GetInteger(IL_PALETTE_TYPE);
    const ILint colours = il.GetInteger(IL_PALETTE_NUM_COLS);
    const ILint entryBytes = il.GetInteger(IL_PALETTE_BPP);
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

// Bytes of one sample of the library's sample type; 0 for a type not known.
size_t bytesPerSample(ILint type) {
    switch (type) {
        case IL_BYTE:
        case IL_UNSIGNED_BYTE: return 1;
        case IL_SHORT:
        case IL_UNSIGNED_SHORT:
        case IL_HALF: return 2;
        case IL_INT:
        case IL_UNSIGNED_INT:
        case IL_FLOAT: return 4;
        case IL_DOUBLE: return 8;
        default: return 0;
    }
}

// Samples per pixel of the library's pixel format; 0 for a format not known.
size_t channelsOf(ILint format) {
    switch (format) {
        case IL_COLOUR_INDEX:
        case IL_ALPHA:
        case IL_LUMINANCE: return 1;
        case IL_LUMINANCE_ALPHA: return 2;
        case IL_RGB:
        case IL_BGR: return 3;
        case IL_RGBA:
        case IL_BGRA: return 4;
        default: return 0;
    }
}

// Failures set the reason alone; the public functions add the file's name.
cv::Mat fail(std::string* error, const std::string&, const std::string& why) {
    if (error) *error = why;
    return cv::Mat();
}

ILenum libraryType(ImageFormat format) {
    switch (format) {
        case ImageFormat::Png: return IL_PNG;
        case ImageFormat::Bmp: return IL_BMP;
        default: return IL_JPG;
    }
}

// The decode proper, under the library's guard: the library reads the open
// file as the format its signature showed, whatever its name.
cv::Mat decodeLocked(std::FILE* file, ImageFormat imageFormat, const std::string& path, std::string* error) {
    std::lock_guard<std::mutex> lock(devilMutex());
    const Devil* library = devil();
    if (!library) return fail(error, path, std::string("the image library ") + DEVIL_LIBRARY + " cannot be loaded");
    const Devil& il = *library;
    BoundImage bound(il);

    if (std::fseek(file, 0, SEEK_SET) != 0) return fail(error, path, "cannot read the file");
    if (!il.LoadF(libraryType(imageFormat), file)) {
        // Running out of memory says nothing about the file.
        if (il.GetError() == IL_OUT_OF_MEMORY) throw std::bad_alloc();
        return fail(error, path, "damaged image data");
    }

    const ILint width = il.GetInteger(IL_IMAGE_WIDTH);
    const ILint height = il.GetInteger(IL_IMAGE_HEIGHT);
    const ILint bytesPerPixel = il.GetInteger(IL_IMAGE_BYTES_PER_PIXEL);
    const ILint format = il.GetInteger(IL_IMAGE_FORMAT);
    const ILint type = il.GetInteger(IL_IMAGE_TYPE);
    if (std::string why = sizeProblem(width, height, 1); !why.empty()) return fail(error, path, why);
    if (bytesPerPixel < 1) return fail(error, path, "image has no pixel data");
    const size_t sampleBytes = bytesPerSample(type);
    const size_t channels = channelsOf(format);
    if (sampleBytes == 0 || channels == 0) return fail(error, path, "unsupported pixel format");
    // The library's readers do not always deliver what they announce: the
    // pixel size must fit the format, and the data hold every pixel, before
    // it is read.
    if (static_cast<size_t>(bytesPerPixel) != channels * sampleBytes)
        return fail(error, path, "image data inconsistent with its format");
    if (format == IL_COLOUR_INDEX && sampleBytes != 1) return fail(error, path, "image palette unusable");

    cv::Mat frame = makeFrameImage(width, height);
    if (frame.empty() || !frame.data) return fail(error, path, "cannot allocate the frame");

    const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
    const ILint dataSize = il.GetInteger(IL_IMAGE_SIZE_OF_DATA);
    if (!il.GetData() || dataSize < 0 || static_cast<size_t>(dataSize) < w * h * static_cast<size_t>(bytesPerPixel))
        return fail(error, path, "image data incomplete");
    if (bytesPerPixel == 1 && sampleBytes == 1) {
        // One byte per pixel: grey levels taken as they are, or palette
        // indices looked up here.
        const ILubyte* data = il.GetData();
        if (format == IL_COLOUR_INDEX) {
            const std::vector<unsigned char> levels = paletteGreyLevels(il);
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
        // Colour, several channels or samples wider than a byte.
        std::vector<unsigned char> grey(w * h);
        if (!il.CopyPixels(0, 0, 0, width, height, 1, IL_LUMINANCE, IL_UNSIGNED_BYTE, grey.data()))
            return fail(error, path, "cannot convert the image to grey");
        for (size_t y = 0; y < h; ++y) std::memcpy(frame.ptr(static_cast<int>(y)), grey.data() + y * w, w);
    }
    return frame;
}

// Every byte of the open file, from its start.
bool readWholeFile(std::FILE* file, std::vector<unsigned char>& bytes) {
    if (std::fseek(file, 0, SEEK_END) != 0) return false;
    const long size = std::ftell(file);
    if (size <= 0 || std::fseek(file, 0, SEEK_SET) != 0) return false;
    bytes.resize(static_cast<size_t>(size));
    return std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

struct CloseFile {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

cv::Mat decodeFile(const std::string& path, std::string* error, bool directJpeg) {
    // The file is opened once (a regular file only) and every check and the
    // decode read that same open file, so what was checked is what is decoded.
    std::string why;
    const std::unique_ptr<std::FILE, CloseFile> file(vexel::openRegularFile(path, &why));
    if (!file) return fail(error, path, "cannot open file: " + why);
    try {
        CheckedImage image;
        {
            __gnu_cxx::stdio_filebuf<char> buffer(file.get(), std::ios::in);
            std::istream in(&buffer);
            if (std::string refused = HeaderCheck(in).check(image); !refused.empty()) return fail(error, path, refused);
            if (image.format == ImageFormat::Netpbm) {
                cv::Mat frame = decodeNetpbm(in, image.netpbm, why);
                return frame.empty() ? fail(error, path, why) : frame;
            }
        }
        if (directJpeg && image.format == ImageFormat::Jpeg) {
            // Sound JPEGs are decoded without the image library's guard, so
            // that several threads decode at once; anything else about the
            // file is for the library to judge.
            std::vector<unsigned char> bytes;
            if (readWholeFile(file.get(), bytes)) {
                cv::Mat frame = decodeSoundJpeg(bytes, FRAME_MAX_SIDE, FRAME_MAX_PIXELS);
                if (!frame.empty()) return frame;
            }
        }
        return decodeLocked(file.get(), image.format, path, error);
    } catch (const cv::Exception& e) {
        // The vision library fails here only for want of memory, which is no
        // fault of the file: the caller gets it as std::bad_alloc.
        if (e.code == cv::Error::StsNoMem) throw std::bad_alloc();
        return fail(error, path, "cannot convert the image (" + e.err + ")");
    }
}

}  // namespace

cv::Mat decodeFrameFile(const std::string& path) { return decodeFrameFile(path, nullptr); }

cv::Mat decodeFrameFile(const std::string& path, std::string* error) {
    cv::Mat frame = decodeFile(path, error, true);
    if (frame.empty() && error) *error = path + ": " + *error;
    return frame;
}

cv::Mat decodeFrame(const std::string& path, std::string* reason) { return decodeFile(path, reason, true); }

cv::Mat decodeFrameFileWithImageLibrary(const std::string& path, std::string* error) {
    cv::Mat frame = decodeFile(path, error, false);
    if (frame.empty() && error) *error = path + ": " + *error;
    return frame;
}
