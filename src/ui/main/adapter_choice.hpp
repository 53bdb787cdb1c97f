#pragma once

// The adapter the searches go over: all of them (the default) or the one
// chosen in the Network Adapter dialog. The choice is kept by the adapter's
// name in the user's settings, so it survives a restart and a change in the
// order the system lists its adapters.

#include "devices/device_table.hpp"
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
    // The window's status line before a search: what the search is going
    // to cover, given the adapters there are and the start's --interface
    // names. Empty while every adapter is searched; never "searching" when
    // the names leave nothing to search.
    QString statusText(const AdapterTable& available,
                       const std::vector<std::string>& startNames) const;

    // The line after a search: `before` (statusText's), corrected by what
    // the search could really search: nothing at all, or not the adapters
    // it had to skip, each with its reason.
    static QString searchedText(const QString& before,
                                const std::vector<SearchResult::AdapterNote>& notes);
};

} // namespace korvane::ui
