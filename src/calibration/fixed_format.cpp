#include "calibration/fixed_format.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

namespace vexel {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// The non-finite spellings of formatted output.
std::string_view nonFinite(double value) {
    if (std::isnan(value)) return std::signbit(value) ? "-nan" : "nan";
    return value < 0 ? "-inf" : "inf";
}

// For a number text that does not fit a double: true when it is too large,
// false when too small.
bool overflows(std::string_view text) {
    std::size_t e = text.find_first_of("eE");
    if (e != std::string_view::npos) return !(e + 1 < text.size() && text[e + 1] == '-');
    std::size_t point = text.find('.');
    std::string_view whole = text.substr(0, point);
    return whole.find_first_not_of('0') != std::string_view::npos;
}

}  // namespace

void appendFixed(std::string& out, double value, int width) {
    // 308 integer digits, sign, point and 6 decimals fit.
    std::array<char, 400> buffer{};
    std::string_view text;
    if (std::isfinite(value)) {
        auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed, 6);
        text = std::string_view(buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data()));
    } else {
        text = nonFinite(value);
    }
    if (width > 0 && text.size() < static_cast<std::size_t>(width)) out.append(width - text.size(), ' ');
    out.append(text);
}

std::string formatDecimals(double value, int decimals) {
    if (!std::isfinite(value)) return std::string(nonFinite(value));
    std::array<char, 400> buffer{};
    const int precision = decimals < 0 ? 0 : decimals > 17 ? 17 : decimals;
    auto result =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed, precision);
    return std::string(buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data()));
}

std::string formatFixed(double value, int width) {
    std::string out;
    appendFixed(out, value, width);
    return out;
}

void TextScanner::skipSpace() {
    while (m_pos < m_text.size() && isBlank(m_text[m_pos])) ++m_pos;
}

bool TextScanner::readNumber(double& out) {
    skipSpace();
    std::size_t start = m_pos;
    bool negative = false;
    if (start < m_text.size() && (m_text[start] == '+' || m_text[start] == '-')) {
        negative = m_text[start] == '-';
        ++start;
    }
    // from_chars takes no sign of its own for '+', so the sign is handled
    // here and the magnitude parsed after it.
    if (start >= m_text.size() || m_text[start] == '+' || m_text[start] == '-') return false;
    double value = 0;
    const char* first = m_text.data() + start;
    const char* last = m_text.data() + m_text.size();
    auto result = std::from_chars(first, last, value, std::chars_format::general);
    if (result.ec == std::errc::invalid_argument) return false;
    if (result.ec == std::errc::result_out_of_range) {
        // Too large or too small for a double: formatted input gives
        // infinity or zero.
        value = overflows(std::string_view(first, static_cast<std::size_t>(result.ptr - first)))
                    ? HUGE_VAL
                    : 0.0;
    }
    out = negative ? -value : value;
    m_pos = static_cast<std::size_t>(result.ptr - m_text.data());
    return true;
}

std::string TextScanner::readWord() {
    skipSpace();
    const std::size_t start = m_pos;
    while (m_pos < m_text.size()) {
        const char c = m_text[m_pos];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) break;
        ++m_pos;
    }
    return std::string(m_text.substr(start, m_pos - start));
}

int TextScanner::match(std::string_view pattern, double* out) {
    int stored = 0;
    for (std::size_t i = 0; i < pattern.size();) {
        char p = pattern[i];
        if (isBlank(p)) {
            skipSpace();
            ++i;
        } else if (pattern.substr(i, 3) == "%lf") {
            double value = 0;
            if (!readNumber(value)) return stored;
            out[stored++] = value;
            i += 3;
        } else {
            if (m_pos >= m_text.size() || m_text[m_pos] != p) return stored;
            ++m_pos;
            ++i;
        }
    }
    return stored;
}

}  // namespace vexel
