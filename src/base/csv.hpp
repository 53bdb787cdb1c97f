#pragma once

// Comma-separated values as RFC 4180 writes them: fields that hold a comma,
// a double quote or a line end are quoted, a quote inside doubled, records
// end with CR LF. The reader takes what spreadsheets and editors write: LF or
// CR LF line ends, a UTF-8 byte order mark before the header, a last record
// without a line end. Bytes pass through unchanged both ways.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

// One field as it goes into a record: quoted only when it has to be.
std::string CsvField(std::string_view text);
// A record: the fields joined with commas, ended with CR LF.
std::string CsvRecord(const std::vector<std::string>& fields);

struct CsvRecordRead {
    std::vector<std::string> fields;
    int line = 0; // the line of the file the record starts on, from 1
};

// The records of a CSV text, blank lines left out. nullopt with `error` set
// (naming the line) when a quoted field is not closed or a quote stands where
// none may: a file that is not what it seems is refused, not half read.
std::optional<std::vector<CsvRecordRead>> ParseCsv(std::string_view text, std::string& error);

} // namespace korvane
