#pragma once

// The adapters of this machine, in enumeration order; entry i is adapter i.

#include "link/packet_driver.hpp"

#include <string>
#include <vector>

namespace korvane {

inline constexpr std::size_t kMaxAdapters = 256;

struct AdapterTable {
    std::vector<AdapterInfo> entries;
    // Adapters past the table's 256: never searched, but named, not dropped
    // without a word (--interface reaches any of them).
    std::vector<std::string> leftOut;

    int count() const { return static_cast<int>(entries.size()); }
    // The descriptions, as the Network Adapter dialog lists them.
    std::vector<std::string> descriptions() const;
};

// Fills the table from the driver, at most 256 adapters; the names of further
// ones go to `leftOut`. With `only` non-empty, just the adapters named there are kept (in
// enumeration order).
int EnumerateAdapters(PacketDriver& driver, AdapterTable& table,
                      const std::vector<std::string>& only = {});

// The adapter an operation on a device uses: its AdapterIndex when the table
// of `adapterCount` adapters has it, else 0. Every adapter is searched, so a
// device found behind the 80th is reached there, not through adapter 0.
inline int AdapterForDevice(int adapterIndex, int adapterCount) {
    return adapterIndex < 0 || adapterIndex >= adapterCount ? 0 : adapterIndex;
}

} // namespace korvane
