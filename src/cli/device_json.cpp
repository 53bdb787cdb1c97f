#include "cli/device_json.hpp"

namespace korvane::cli {

std::string AdapterName(const Context& ctx, int index) {
    const auto table = ctx.adapters();
    if (index < 0 || index >= table->count())
        return {};
    return table->entries[static_cast<std::size_t>(index)].name;
}

Json DeviceObject(const Context& ctx, const DeviceIdentity& device, const std::string& serial,
                  const std::string& ip) {
    const int adapter = device.adapterIndex();
    return {{"serial", serial},
            {"ip", ip},
            {"mac", device.mac().toString()},
            {"hardware_version", device.hardwareVersionDisplay()},
            {"firmware_version", device.firmwareVersionDisplay()},
            {"version_number", device.versionNumber()},
            {"adapter", JsonText(AdapterName(ctx, adapter))},
            {"adapter_index", adapter}};
}

} // namespace korvane::cli
