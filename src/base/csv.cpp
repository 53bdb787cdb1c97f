#include "base/csv.hpp"

namespace korvane {

namespace {
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
}

std::string CsvField(std::string_view text) {
    // A leading byte order mark is quoted too: unquoted at the start of a
    // file, a reader would take it for the file's own.
    if (text.find_first_of(",\"\r\n") == std::string_view::npos &&
        !text.starts_with(kByteOrderMark))
        return std::string(text);
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string CsvRecord(const std::vector<std::string>& fields) {
    // One empty field alone would make a blank line, which readers skip.
    if (fields.size() == 1 && fields[0].empty())
        return "\"\"\r\n";
    std::string out;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0)
            out += ',';
        out += CsvField(fields[i]);
    }
    out += "\r\n";
    return out;
}

std::optional<std::vector<CsvRecordRead>> ParseCsv(std::string_view text, std::string& error) {
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark)
        text.remove_prefix(kByteOrderMark.size());

    std::vector<CsvRecordRead> records;
    CsvRecordRead record;
    std::string field;
    int line = 1;
    record.line = line;
    bool quoted = false;     // inside a quoted field
    bool afterQuote = false; // a quoted field has closed; only , or a line end may follow
    bool fieldBegun = false; // the record has some content (blank lines are skipped)
    const auto endField = [&] {
        record.fields.push_back(std::move(field));
        field.clear();
        afterQuote = false;
    };
    const auto endRecord = [&] {
        if (fieldBegun || !record.fields.empty()) {
            endField();
            records.push_back(std::move(record));
        }
        record = {};
        field.clear();
        fieldBegun = false;
        afterQuote = false;
        record.line = line;
    };

    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < text.size() && text[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else {
                    quoted = false;
                    afterQuote = true;
                }
            } else {
                if (c == '\n')
                    ++line;
                field += c;
            }
            continue;
        }
        if (c == ',') {
            fieldBegun = true;
            endField();
        } else if (c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            if (c == '\r')
                ++i;
            ++line;
            endRecord();
        } else if (afterQuote) {
            error = "line " + std::to_string(line) + ": text after the closing quote of a field";
            return std::nullopt;
        } else if (c == '"') {
            if (!field.empty()) {
                error = "line " + std::to_string(line) +
                        ": a quote inside a field that does not start with one";
                return std::nullopt;
            }
            quoted = true;
            fieldBegun = true;
        } else {
            field += c;
            fieldBegun = true;
        }
    }
    if (quoted) {
        error = "line " + std::to_string(record.line) + ": a quoted field is not closed";
        return std::nullopt;
    }
    endRecord();
    return records;
}

} // namespace korvane
