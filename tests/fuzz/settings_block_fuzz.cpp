// The settings block as a device hands it to the Network Settings sheet: any
// bytes, read with any status, for either model. Filling the pages, running
// their tests and writing them back untouched must read nothing outside the
// block and keep every byte the utility does not interpret.
//
// Input: byte 0 the read status, byte 1 the model flag (bit 0), the rest the
// block as the reply carried it (a short reply leaves zeros behind it).

#include "config/settings_model.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvane;
    if (size < 2)
        return 0;
    const std::uint16_t readStatus = data[0];
    const bool modelK = (data[1] & 1) != 0;
    SettingsBlock block;
    std::copy_n(data + 2, std::min(size - 2, kSettingsReadSize), block.bytes.begin());

    NetworkSettingsModel model = FillNetworkSettings(block, readStatus, modelK);
    int answers = SettingsChanged(model);
    answers += SheetTestsBeforeConflict(model).has_value();
    answers += SheetTestsAfterConflict(model).has_value();
    answers += ConflictQuestionApplies(model.ipPage);
    answers += PlannedPasswordWrite(model).kind == PasswordWrite::Kind::None;
    for (const ServiceKind kind : kServices)
        answers += model.advancedPage.serviceEditable(kind);

    SettingsBlock written = block;
    ApplyNetworkSettings(model, written);
    // Bytes 10..22, the alternate address and 48..67 go back exactly as read.
    const auto same = [&](std::size_t from, std::size_t to) {
        return std::equal(block.bytes.begin() + static_cast<std::ptrdiff_t>(from),
                          block.bytes.begin() + static_cast<std::ptrdiff_t>(to),
                          written.bytes.begin() + static_cast<std::ptrdiff_t>(from));
    };
    if (!same(10, settings_offset::kAddressMode) ||
        !same(settings_offset::kAlternateIp, settings_offset::kIpAddress) ||
        !same(48, kSettingsReadSize))
        __builtin_trap();

    written.seal(kSettingsSheetWriteSize);
    std::uint32_t body = 0;
    for (std::size_t i = 8; i < kSettingsSheetWriteSize; ++i)
        body += written.bytes[i];
    if (written.bytes[68] != 0 || written.bytes[71] != 0 ||
        ((std::uint32_t{written.bytes[4]} << 24) | (std::uint32_t{written.bytes[5]} << 16) |
         (std::uint32_t{written.bytes[6]} << 8) | written.bytes[7]) != body)
        __builtin_trap();
    volatile std::uint64_t sink = answers + std::uint64_t{block.lanAddress()};
    (void)sink;
    return 0;
}
