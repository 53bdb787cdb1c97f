// The files of fleet work (a settings plan, a saved device list, the CSV
// under both): whatever a file holds, reading it ends with rows or errors,
// never a crash; CSV records written back and read again are the same; a
// plan that reads has a device named in every row.

#include "base/csv.hpp"
#include "config/settings_plan.hpp"
#include "devices/device_export.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvane;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    std::string error;
    if (const auto records = ParseCsv(text, error)) {
        std::string written;
        for (const auto& record : *records)
            written += CsvRecord(record.fields);
        const auto again = ParseCsv(written, error);
        if (!again || again->size() != records->size())
            __builtin_trap();
        for (std::size_t i = 0; i < records->size(); ++i)
            if ((*again)[i].fields != (*records)[i].fields)
                __builtin_trap();
    } else if (error.empty()) {
        __builtin_trap();
    }

    std::vector<PlanError> errors;
    if (const auto rows = ParseSettingsPlan(text, errors)) {
        for (const PlanRow& row : *rows)
            if (!row.mac && !row.serial)
                __builtin_trap();
    } else if (errors.empty()) {
        __builtin_trap();
    }

    if (!ReadSavedDeviceList(text, error) && error.empty())
        __builtin_trap();
    return 0;
}
