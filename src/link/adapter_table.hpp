#pragma once

// The adapters of this machine, in enumeration order; entry i is adapter i.

#include "link/packet_driver.hpp"

#include <string>
#include <vector>

namespace korvane {

inline constexpr std::size_t kMaxAdapters = 256;
// Device records carry adapter numbers 0..16; anything else is reached through adapter 0.
inline constexpr int kMaxDeviceAdapterIndex = 16;

struct AdapterTable {
    std::vector<AdapterInfo> entries;

    int count() const { return static_cast<int>(entries.size()); }
    // The descriptions, as the Network Adapter dialog lists them.
    std::vector<std::string> descriptions() const;
};

// Fills the table from the driver, at most 256 adapters; further ones are
// ignored. With `only` non-empty, just the adapters named there are kept (in
// enumeration order).
int EnumerateAdapters(PacketDriver& driver, AdapterTable& table,
                      const std::vector<std::string>& only = {});

// The adapter an operation on a device uses: its AdapterIndex when it lies in
// 0..16, else 0.
inline int AdapterForDevice(int adapterIndex) {
    return adapterIndex < 0 || adapterIndex > kMaxDeviceAdapterIndex ? 0 : adapterIndex;
}

} // namespace korvane
