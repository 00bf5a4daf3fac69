#include "calibration/name_text.h"

#include <cstdio>

namespace {

// The length of the well-formed UTF-8 character at `text[i]` and its code
// point in `code`; 0 when the bytes there are not one.
std::size_t characterAt(std::string_view text, std::size_t i, char32_t& code) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    char32_t least = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    } else if ((lead & 0xe0) == 0xc0) {
        length = 2, code = lead & 0x1f, least = 0x80;
    } else if ((lead & 0xf0) == 0xe0) {
        length = 3, code = lead & 0x0f, least = 0x800;
    } else if ((lead & 0xf8) == 0xf0) {
        length = 4, code = lead & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - i < length) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xc0) != 0x80) return 0;
        code = (code << 6) | (next & 0x3f);
    }
    // Overlong forms, surrogate halves and values beyond Unicode.
    if (code < least || (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff) return 0;
    return length;
}

void appendEscape(std::string& out, const char* format, unsigned value) {
    char escape[8];
    std::snprintf(escape, sizeof escape, format, value);
    out += escape;
}

// Walks `bytes` a character at a time: `character(code, text)` for each
// UTF-8 character, `stray(byte)` for each byte that starts none.
template <class Character, class Stray>
void forEachCharacter(std::string_view bytes, Character character, Stray stray) {
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t code = 0;
        const std::size_t length = characterAt(bytes, i, code);
        if (length == 0) {
            stray(static_cast<unsigned char>(bytes[i]));
            ++i;
        } else {
            character(code, bytes.substr(i, length));
            i += length;
        }
    }
}

}  // namespace

bool isValidUtf8(std::string_view text) {
    char32_t code = 0;
    for (std::size_t i = 0, length; i < text.size(); i += length)
        if ((length = characterAt(text, i, code)) == 0) return false;
    return true;
}

std::string printableName(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    forEachCharacter(
        bytes,
        [&](char32_t code, std::string_view text) {
            if (code < 0x20 || code == 0x7f)
                appendEscape(out, "\\x%02x", static_cast<unsigned>(code));
            else if ((code >= 0x80 && code <= 0x9f) || code == 0x2028 || code == 0x2029)
                appendEscape(out, "\\u%04x", static_cast<unsigned>(code));
            else if (code == '\\')
                out += "\\\\";
            else
                out.append(text);
        },
        [&](unsigned char byte) { appendEscape(out, "\\x%02x", byte); });
    return out;
}

std::string utf8Text(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    forEachCharacter(
        bytes, [&](char32_t, std::string_view text) { out.append(text); },
        [&](unsigned char) { out += "\xef\xbf\xbd"; });
    return out;
}
