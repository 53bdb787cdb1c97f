#pragma once

// The adapter the searches go over: all of them (the default) or the one
// chosen in the Network Adapter dialog. The choice is kept by the adapter's
// name in the user's settings, so it survives a restart and a change in the
// order the system lists its adapters.

#include "link/adapter_table.hpp"

#include <QString>

#include <string>
#include <vector>

namespace korvane::ui {

class AdapterChoice {
  public:
    static constexpr char kSettingsKey[] = "search/adapter";

    // The chosen adapter's name; empty: all adapters.
    QString chosen() const;
    void choose(const QString& name);

    // The names the search is limited to: the chosen adapter when it is
    // among `available`, else `startNames` (the start's --interface names,
    // empty for all).
    std::vector<std::string> searchFilter(const AdapterTable& available,
                                          const std::vector<std::string>& startNames) const;
    // The window's status line: empty while every adapter is searched.
    QString statusText(const AdapterTable& available) const;
};

} // namespace korvane::ui
