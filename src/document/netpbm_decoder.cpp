#include "document/netpbm_decoder.h"

#include <algorithm>
#include <vector>

#include "grid/frame_image.h"

unsigned char greyLevel(unsigned red, unsigned green, unsigned blue) {
    return static_cast<unsigned char>(static_cast<float>(red) * 0.212671f + static_cast<float>(green) * 0.715160f +
                                      static_cast<float>(blue) * 0.072169f);
}

namespace {

bool isSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Skips white space and comments; the first other character, not taken.
int skipSeparators(std::streambuf* in) {
    for (int c = in->sgetc();; c = in->sgetc()) {
        if (c == '#') {
            while (c != EOF && c != '\n' && c != '\r') c = in->snextc();
        } else if (isSpace(c)) {
            in->sbumpc();
        } else {
            return c;
        }
    }
}

// A decimal header field that ends at white space, a comment or the end of
// the file (not taken); -1 for anything else or more than 12 digits.
long long headerField(std::streambuf* in) {
    int c = skipSeparators(in);
    if (c < '0' || c > '9') return -1;
    long long value = 0;
    for (int digits = 0; c >= '0' && c <= '9'; c = in->snextc()) {
        if (++digits > 12) return -1;
        value = value * 10 + (c - '0');
    }
    return c == EOF || c == '#' || isSpace(c) ? value : -1;
}

// The next decimal sample of a plain form; -1 at the end of the file or on
// anything else. Bitmap samples are single digits, which need no blanks
// between them.
long long plainSample(std::streambuf* in, bool singleDigit) {
    int c = skipSeparators(in);
    if (c < '0' || c > '9') return -1;
    if (singleDigit) return in->sbumpc() - '0';
    long long value = 0;
    for (; c >= '0' && c <= '9'; c = in->snextc())
        if (value < 1000000) value = value * 10 + (c - '0');
    return value;
}

}  // namespace

bool readNetpbmHeader(std::istream& in, NetpbmHeader& header) {
    std::streambuf* buffer = in.rdbuf();
    if (!buffer || buffer->sbumpc() != 'P') return false;
    const int kind = buffer->sbumpc();
    if (kind < '1' || kind > '6') return false;
    const bool bitmap = kind == '1' || kind == '4';
    const long long width = headerField(buffer);
    const long long height = headerField(buffer);
    const long long maxValue = bitmap ? 1 : headerField(buffer);
    if (width < 0 || height < 0 || maxValue < 1 || maxValue > 65535) return false;
    // Exactly one white-space byte ends the header.
    if (!isSpace(buffer->sbumpc())) return false;
    const std::streamoff bodyStart = buffer->pubseekoff(0, std::ios::cur, std::ios::in);
    if (bodyStart < 0) return false;
    header = NetpbmHeader{static_cast<char>(kind), width, height, maxValue, static_cast<long long>(bodyStart)};
    return true;
}

cv::Mat decodeNetpbm(std::istream& in, const NetpbmHeader& header, std::string& why) {
    const bool bitmap = header.kind == '1' || header.kind == '4';
    const bool colour = header.kind == '3' || header.kind == '6';
    const bool plain = header.kind >= '1' && header.kind <= '3';
    const long long maxValue = bitmap ? 1 : header.maxValue;
    if (header.kind < '1' || header.kind > '6' || maxValue < 1 || maxValue > 65535 || header.width < 1 ||
        header.height < 1 || header.width > 0x7fffffff || header.height > 0x7fffffff) {
        why = "damaged image header";
        return cv::Mat();
    }
    const int width = static_cast<int>(header.width), height = static_cast<int>(header.height);
    const std::size_t channels = colour ? 3 : 1;
    const std::size_t sampleBytes = maxValue > 255 ? 2 : 1;
    const std::size_t rowSamples = static_cast<std::size_t>(width) * channels;

    // The file must be able to hold every sample before the frame is made:
    // a plain sample takes at least a digit and a separator (bitmap digits
    // need no separator).
    in.clear();
    in.seekg(0, std::ios::end);
    const long long fileSize = static_cast<long long>(in.tellg());
    const long long bodyBytes = fileSize - header.bodyStart;
    const long long samples = static_cast<long long>(rowSamples) * height;
    long long needed = 0;
    if (header.kind == '1') needed = samples;
    else if (plain) needed = 2 * samples - 1;
    else if (header.kind == '4') needed = (width + 7LL) / 8 * height;
    else needed = samples * static_cast<long long>(sampleBytes);
    if (fileSize < 0 || bodyBytes < needed) {
        why = "file is shorter than its header says";
        return cv::Mat();
    }
    in.clear();
    in.seekg(header.bodyStart);

    cv::Mat frame = makeFrameImage(width, height);
    if (frame.empty()) {
        why = "cannot allocate the frame";
        return cv::Mat();
    }
    // One row of samples scaled to 0..255; values above the maximum count as the maximum.
    std::vector<unsigned> row(rowSamples);
    const auto scale = [&](long long value) {
        value = std::min(value, maxValue);
        return static_cast<unsigned>((value * 255 + maxValue / 2) / maxValue);
    };
    std::vector<unsigned char> raw;
    for (int y = 0; y < height; ++y) {
        if (plain) {
            for (std::size_t i = 0; i < rowSamples; ++i) {
                const long long value = plainSample(in.rdbuf(), bitmap);
                if (value < 0) {
                    why = "damaged or cut short image data";
                    return cv::Mat();
                }
                row[i] = bitmap ? (value ? 0u : 255u) : scale(value);
            }
        } else {
            const std::size_t bytes = bitmap ? (static_cast<std::size_t>(width) + 7) / 8 : rowSamples * sampleBytes;
            raw.resize(bytes);
            in.read(reinterpret_cast<char*>(raw.data()), static_cast<std::streamsize>(bytes));
            if (static_cast<std::size_t>(in.gcount()) != bytes) {
                why = "file is shorter than its header says";
                return cv::Mat();
            }
            for (std::size_t i = 0; i < rowSamples; ++i) {
                if (bitmap)
                    row[i] = (raw[i / 8] >> (7 - i % 8)) & 1 ? 0u : 255u;
                else if (sampleBytes == 2)
                    row[i] = scale((static_cast<long long>(raw[2 * i]) << 8) | raw[2 * i + 1]);
                else
                    row[i] = scale(raw[i]);
            }
        }
        unsigned char* out = frame.ptr(y);
        for (int x = 0; x < width; ++x) {
            const unsigned* pixel = &row[static_cast<std::size_t>(x) * channels];
            out[x] = colour ? greyLevel(pixel[0], pixel[1], pixel[2]) : static_cast<unsigned char>(pixel[0]);
        }
    }
    return frame;
}
