#include "cli/json.hpp"

#include <cstdio>

namespace korvane::cli {

namespace {

// The length of the well-formed UTF-8 sequence at the start of `text`, or 0
// when it starts with none (a stray continuation byte, a cut or overlong
// sequence, a surrogate, a value above U+10FFFF).
std::size_t utf8SequenceLength(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t n = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() < n || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < n; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    return n;
}

void appendEscaped(std::string& out, unsigned codePoint) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\u%04x", codePoint);
    out += escaped;
}

} // namespace

std::string JsonQuote(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7F)
                    appendEscaped(out, c);
                else
                    out += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        if (const std::size_t n = utf8SequenceLength(text.substr(i))) {
            // C1 controls (U+0080..U+009F) act on some terminals: escaped.
            if (c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0)
                appendEscaped(out, static_cast<unsigned char>(text[i + 1]));
            else
                out.append(text.substr(i, n));
            i += n;
            continue;
        }
        // A byte that is no UTF-8 (a device's text, bytes from an adapter's
        // description) stands for the Latin-1 character of its value.
        if (c < 0xA0) {
            appendEscaped(out, c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
        ++i;
    }
    return out + "\"";
}

JsonObject& JsonObject::add(std::string_view key, std::string_view value) {
    members_.emplace_back(std::string(key), JsonQuote(value));
    return *this;
}
JsonObject& JsonObject::add(std::string_view key, std::int64_t value) {
    members_.emplace_back(std::string(key), std::to_string(value));
    return *this;
}
JsonObject& JsonObject::add(std::string_view key, bool value) {
    members_.emplace_back(std::string(key), value ? "true" : "false");
    return *this;
}
JsonObject& JsonObject::addRaw(std::string_view key, std::string json) {
    members_.emplace_back(std::string(key), std::move(json));
    return *this;
}

std::string JsonObject::str() const {
    std::string out = "{";
    for (std::size_t i = 0; i < members_.size(); ++i) {
        if (i > 0)
            out += ", ";
        out += JsonQuote(members_[i].first) + ": " + members_[i].second;
    }
    return out + "}";
}

std::string JsonArray(const std::vector<std::string>& elements, bool multiline) {
    if (elements.empty())
        return "[]";
    std::string out = "[";
    for (std::size_t i = 0; i < elements.size(); ++i) {
        out += i > 0 ? "," : "";
        out += multiline ? "\n  " : "";
        out += elements[i];
    }
    return out + (multiline ? "\n]" : "]");
}

} // namespace korvane::cli
