#include "link/adapter_table.hpp"

#include <algorithm>

namespace korvane {

std::vector<std::string> AdapterTable::descriptions() const {
    std::vector<std::string> out;
    out.reserve(entries.size());
    for (const auto& entry : entries)
        out.push_back(entry.description);
    return out;
}

int EnumerateAdapters(PacketDriver& driver, AdapterTable& table,
                      const std::vector<std::string>& only) {
    table.entries.clear();
    table.leftOut.clear();
    for (auto& adapter : driver.listAdapters()) {
        if (!only.empty() && std::none_of(only.begin(), only.end(), [&](const std::string& name) {
                return adapter.answersTo(name);
            }))
            continue;
        if (table.entries.size() >= kMaxAdapters)
            table.leftOut.push_back(std::move(adapter.name));
        else
            table.entries.push_back(std::move(adapter));
    }
    return table.count();
}

} // namespace korvane
