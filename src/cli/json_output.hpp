#pragma once

// JSON output of the commands, written with nlohmann-json. Keys keep the
// order a command adds them in (scripts and people read them in that order).

#include <nlohmann/json.hpp>

#include <iosfwd>
#include <string>
#include <string_view>

namespace korvane::cli {

using Json = nlohmann::ordered_json;

// A JSON string value for text of any bytes: well-formed UTF-8 is kept, and
// any other byte (an adapter's description in a legacy encoding, a path)
// stands for the Latin-1 character of its value, so the result is always
// valid UTF-8 and serialising it cannot fail. Device texts are already
// printable ASCII (DeviceText) and pass unchanged.
std::string JsonText(std::string_view text);

enum class JsonLayout {
    Indented, // one member per line: what a command prints
    OneLine,  // a whole value on one line (a watching search prints one per search)
};

// Writes `value` and a line end. The output is ASCII only: every character
// beyond it, and every control character, is written as a \u escape, so no
// byte of a device's or an adapter's text can act on a terminal.
void PrintJson(std::ostream& out, const Json& value, JsonLayout layout = JsonLayout::Indented);

} // namespace korvane::cli
