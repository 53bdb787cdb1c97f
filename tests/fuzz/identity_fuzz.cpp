// Discovery replies: the identity record, the version number of its
// firmware text and the version texts the list shows.

#include "protocol/device_identity.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvane;
    const std::span<const std::uint8_t> frame(data, size);

    DeviceIdentity record;
    if (ParseIdentity(frame, record) != (size > 0))
        __builtin_trap();
    volatile std::size_t sink = 0;
    sink = sink + record.hardwareVersionDisplay().size() + record.firmwareVersionDisplay().size();
    sink = sink + record.hardwareVersionText().size() + record.firmwareVersionText().size();
    if (record.hardwareVersionText().size() > kHardwareVersionWidth ||
        record.firmwareVersionText().size() > kFirmwareVersionWidth ||
        record.serialText().size() >= kSerialTextWidth + 1 ||
        record.rememberedPassword().size() > kRememberedPasswordWidth)
        __builtin_trap();
    sink = sink + record.versionNumber() + record.leadingNumber() + record.serialNumber();

    // The version number of any field, of any width.
    sink = sink + VersionNumberOf(frame);
    return 0;
}
