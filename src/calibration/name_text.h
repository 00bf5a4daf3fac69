#pragma once
// File names are bytes: any byte but '/' and NUL may be in them, in no
// particular encoding. These turn such bytes into text the outputs can hold.

#include <string>
#include <string_view>

// Whether `text` is well-formed UTF-8 (YAML and JSON files are UTF-8 text).
bool isValidUtf8(std::string_view text);

// `bytes` as one printable line, for the text outputs and the SVG overlay:
// well-formed UTF-8 characters as they are, a backslash doubled, the C0
// controls and DEL as \xNN, bytes that are no part of a well-formed
// character as \xNN too (from \x80 on), the C1 controls and the line and
// paragraph separators as \uNNNN. Different names give different texts, and
// a name without a backslash or any of those comes out as it is.
std::string printableName(std::string_view bytes);

// `bytes` as well-formed UTF-8: each byte that is no part of a well-formed
// character becomes U+FFFD, everything else stays as it is. JSON strings
// are made of this (the JSON writer escapes the controls itself).
std::string utf8Text(std::string_view bytes);
