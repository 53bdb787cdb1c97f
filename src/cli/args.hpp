#pragma once

// A small argument list: flags and options are taken out by name, what is
// left are the positional arguments. Unknown options are an error.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::cli {

class ArgList {
  public:
    explicit ArgList(std::vector<std::string> args) : args_(std::move(args)) {}

    // Removes every "--name"; true when there was one.
    bool flag(const std::string& name);
    // Removes "--name VALUE" (or "--name=VALUE"); the last one wins.
    // Sets `error` when the value is missing.
    std::optional<std::string> option(const std::string& name);
    // Every value of a repeatable option, in order.
    std::vector<std::string> options(const std::string& name);

    // What is left; an error text when an unknown "--option" is among it.
    std::vector<std::string> positionals(std::string& error) const;
    const std::string& error() const { return error_; }

  private:
    std::vector<std::string> args_;
    std::string error_;
};

// A port number as an option's value: 1 to 9 decimal digits and nothing
// else. Range tests (0, 65535 and up) are the settings sheet's, so the value
// is returned as given; nullopt when it is no number at all.
std::optional<int> ParsePortNumber(std::string_view text);

} // namespace korvane::cli
