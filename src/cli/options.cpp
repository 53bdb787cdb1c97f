#include "cli/options.hpp"

#include "cli/resolver.hpp"
#include "config/settings_model.hpp"
#include "protocol/frame.hpp"

#include <filesystem>
#include <fstream>

namespace korvane::cli {

std::optional<int> ParsePortNumber(std::string_view text) {
    // Nine digits at most: every such number fits an int.
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != text.npos)
        return std::nullopt;
    int value = 0;
    for (const char c : text)
        value = value * 10 + (c - '0');
    return value;
}

CLI::Validator DeviceCheck() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            if (ParseDeviceSelector(text))
                return {};
            return "'" + text +
                   "' is neither a serial number nor a MAC address (like 02-19-A7-00-01-23)";
        },
        "", "device");
}

CLI::Validator Ipv4Check() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            if (ParseIPv4(text))
                return {};
            return "takes a dotted IPv4 address, not '" + text + "'";
        },
        "", "IPv4");
}

CLI::Validator ServicePortCheck() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            if (text == "off")
                return {};
            const auto port = ParsePortNumber(text);
            if (!port)
                return "takes a port number or off, not '" + text + "'";
            if (*port < 1 || *port > kMaxServicePort)
                return "takes a port number from 1 to " + std::to_string(kMaxServicePort) +
                       " or off, not " + text;
            return {};
        },
        "", "port");
}

CLI::Validator ReadableFileCheck() {
    return CLI::Validator(
        [](std::string& path) -> std::string {
            std::error_code ec;
            if (std::filesystem::is_directory(path, ec))
                return "'" + path + "' is a folder";
            if (!std::filesystem::exists(path, ec))
                return "there is no file '" + path + "'";
            if (!std::ifstream(path))
                return "cannot read '" + path + "'";
            return {};
        },
        "", "readable file");
}

CLI::Option* AddJsonFlag(CLI::App& command, bool& json, const std::string& what) {
    return command.add_flag("--json", json, what + " as JSON (see docs/command-line.md)");
}

CLI::Option* AddPasswordFile(CLI::App& command, std::string& path) {
    return command
        .add_option("--password-file", path,
                    "the device's current password: the first line of FILE (else the "
                    "environment variable KORVANE_PASSWORD, else a prompt on a terminal)")
        ->type_name("FILE")
        ->check(ReadableFileCheck());
}

CLI::Option* AddNewPasswordFile(CLI::App& command, std::string& path) {
    return command
        .add_option("--new-password-file", path,
                    "the new password: the first line of FILE (else asked twice on a terminal)")
        ->type_name("FILE")
        ->check(ReadableFileCheck());
}

CLI::Option* AddDevice(CLI::App& command, std::string& device) {
    return command.add_option("DEVICE", device, "the device: serial number or MAC address")
        ->required()
        ->check(DeviceCheck());
}

CLI::Option* AddDevices(CLI::App& command, std::vector<std::string>& devices) {
    return command.add_option("DEVICE", devices, "the devices: serial numbers or MAC addresses")
        ->check(DeviceCheck());
}

} // namespace korvane::cli
