#include "base/printable_text.hpp"

namespace korvane {

std::string PrintableText(std::string_view raw) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(raw.size());
    for (const char c : raw) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\\') {
            out += "\\\\";
        } else if (byte >= 0x20 && byte < 0x7F) {
            out += c;
        } else {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    return out;
}

std::string ShortenedForMessage(std::string_view input) {
    if (input.size() <= kEchoLimit)
        return std::string(input);
    return std::string(input.substr(0, kEchoLimit - 4)) + "... (" + std::to_string(input.size()) +
           " characters)";
}

} // namespace korvane
