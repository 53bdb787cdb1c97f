#include "cli/password_book.hpp"

#include "base/file_head.hpp"

#include <sstream>

namespace korvane::cli {

std::optional<std::string> PasswordBook::forUnit(const DeviceIdentity& record) const {
    for (const auto& [device, password] : perDevice)
        if (device.matches(record))
            return password;
    return common;
}

// Device passwords contain no blanks, so a line splits into at most two words.
bool ReadPasswordBook(const std::string& path, PasswordBook& book, std::string& error) {
    std::string content;
    if (!ReadFileHead(path, kPasswordBookLimit, content, error, "password file"))
        return false;
    if (content.size() > kPasswordBookLimit) {
        error = "the password file '" + path + "' is longer than " +
                std::to_string(kPasswordBookLimit / 1024) + " KiB";
        return false;
    }
    std::istringstream lines(content);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::istringstream words(line);
        std::string first, second, extra;
        words >> first >> second >> extra;
        if (first.empty() || first[0] == '#')
            continue;
        if (!extra.empty()) {
            error = "password file line " + std::to_string(number) +
                    ": expected PASSWORD or DEVICE PASSWORD";
            return false;
        }
        if (second.empty()) {
            book.common = first;
            continue;
        }
        const auto device = ParseDeviceSelector(first);
        if (!device) {
            // The words may be passwords: the message never repeats them.
            error = "password file line " + std::to_string(number) +
                    ": the first of two words is neither a serial number nor a MAC address";
            return false;
        }
        book.perDevice.emplace_back(*device, second);
    }
    return true;
}

} // namespace korvane::cli
