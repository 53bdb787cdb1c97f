#include "cli/json_output.hpp"

#include "base/printable_text.hpp"

#include <ostream>

namespace korvane::cli {

std::string JsonText(std::string_view text) {
    return Utf8Text(text);
}

void PrintJson(std::ostream& out, const Json& value, JsonLayout layout) {
    const int indent = layout == JsonLayout::Indented ? 2 : -1;
    // Strings reach the document through JsonText or are ASCII, so strict
    // handling never throws; should one slip through, it is replaced rather
    // than ending the command after its work was done.
    out << value.dump(indent, ' ', true, Json::error_handler_t::replace) << "\n";
}

} // namespace korvane::cli
