#include "cli/args.hpp"

namespace korvane::cli {

bool ArgList::flag(const std::string& name) {
    bool found = false;
    for (auto it = args_.begin(); it != args_.end();) {
        if (*it == name) {
            it = args_.erase(it);
            found = true;
        } else {
            ++it;
        }
    }
    return found;
}

std::vector<std::string> ArgList::options(const std::string& name) {
    std::vector<std::string> values;
    const std::string prefix = name + "=";
    for (auto it = args_.begin(); it != args_.end();) {
        if (*it == name) {
            if (it + 1 == args_.end()) {
                error_ = "option " + name + " needs a value";
                it = args_.erase(it);
                continue;
            }
            values.push_back(*(it + 1));
            it = args_.erase(it, it + 2);
        } else if (it->rfind(prefix, 0) == 0) {
            values.push_back(it->substr(prefix.size()));
            it = args_.erase(it);
        } else {
            ++it;
        }
    }
    return values;
}

std::optional<std::string> ArgList::option(const std::string& name) {
    auto values = options(name);
    if (values.empty())
        return std::nullopt;
    return values.back();
}

std::vector<std::string> ArgList::positionals(std::string& error) const {
    if (!error_.empty()) {
        error = error_;
        return {};
    }
    std::vector<std::string> rest;
    bool onlyPositionals = false;
    for (const auto& arg : args_) {
        if (!onlyPositionals && arg == "--") {
            onlyPositionals = true;
            continue;
        }
        if (!onlyPositionals && arg.size() > 1 && arg[0] == '-' && arg != "-") {
            error = "unknown option " + arg;
            return {};
        }
        rest.push_back(arg);
    }
    return rest;
}

std::optional<int> ParsePortNumber(std::string_view text) {
    // Nine digits at most: every such number fits an int.
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != text.npos)
        return std::nullopt;
    int value = 0;
    for (const char c : text)
        value = value * 10 + (c - '0');
    return value;
}

} // namespace korvane::cli
