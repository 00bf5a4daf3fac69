#pragma once
// JSON text for standard output. Names are bytes in no particular encoding,
// JSON is UTF-8: a byte that is no part of a well-formed UTF-8 character
// comes out as U+FFFD (as utf8Text makes it) instead of making the writer
// throw; controls come out as \u escapes.

#include <string>

#include <nlohmann/json.hpp>

namespace vexel::cli {

// `value` indented by `indent` spaces a level (-1: on one line).
template <class Json>
std::string jsonText(const Json& value, int indent = -1) {
    return value.dump(indent, ' ', false, Json::error_handler_t::replace);
}

}  // namespace vexel::cli
