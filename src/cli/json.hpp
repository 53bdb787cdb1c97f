#pragma once

// Minimal JSON output: objects of strings, numbers and booleans, and arrays of them.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvane::cli {

// A JSON string literal, always valid UTF-8 with no control character in it:
// well-formed UTF-8 passes, control characters (C0, DEL, C1) become \u00XX,
// and any other byte is taken as the Latin-1 character of its value.
std::string JsonQuote(std::string_view text);

class JsonObject {
  public:
    JsonObject& add(std::string_view key, std::string_view value);
    JsonObject& add(std::string_view key, const char* value) {
        return add(key, std::string_view(value));
    }
    JsonObject& add(std::string_view key, std::int64_t value);
    JsonObject& add(std::string_view key, int value) {
        return add(key, static_cast<std::int64_t>(value));
    }
    JsonObject& add(std::string_view key, std::uint32_t value) {
        return add(key, static_cast<std::int64_t>(value));
    }
    JsonObject& add(std::string_view key, bool value);
    // `json` is inserted as is (a nested object or array).
    JsonObject& addRaw(std::string_view key, std::string json);
    std::string str() const;

  private:
    std::vector<std::pair<std::string, std::string>> members_;
};

std::string JsonArray(const std::vector<std::string>& elements, bool multiline = true);

} // namespace korvane::cli
