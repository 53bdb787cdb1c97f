#include "cli/json.hpp"

#include <cstdio>

namespace korvane::cli {

std::string JsonQuote(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
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
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
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
