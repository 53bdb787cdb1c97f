#pragma once

// Text that came off the wire, made safe to show. A device's version texts
// are bytes with no declared encoding: shown raw, a control character can
// clear an operator's screen or retitle the window, and a byte above 0x7F is
// no valid UTF-8 on its own.

#include <cstddef>
#include <string>
#include <string_view>

namespace korvane {

// Printable ASCII as it is; a backslash doubled; every other byte as \xNN
// (upper-case hex). The result is plain ASCII and reversible.
std::string PrintableText(std::string_view raw);

// Text of any bytes as well-formed UTF-8: well-formed sequences are kept,
// and any other byte (an adapter's description in a legacy encoding, a path)
// stands for the Latin-1 character of its value. Text that is already UTF-8
// comes back unchanged, so applying it twice changes nothing.
std::string Utf8Text(std::string_view text);

// Input echoed in a message: whole up to kEchoLimit characters, else its
// start and how long it was, so that a pasted page cannot bury the message.
inline constexpr std::size_t kEchoLimit = 64;
std::string ShortenedForMessage(std::string_view input);

} // namespace korvane
