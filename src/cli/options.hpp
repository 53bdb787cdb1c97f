#pragma once

// The value types of the command line's options, as CLI11 checks: each
// refuses a bad value while the line is parsed, before any device is asked,
// with a message that says what the option takes.

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::cli {

// A port number as an option's value: 1 to 9 decimal digits and nothing
// else. Range tests are the caller's, so the value is returned as given;
// nullopt when it is no number at all.
std::optional<int> ParsePortNumber(std::string_view text);

// DEVICE: a serial number as search lists it, or a MAC address (dash or colon form).
CLI::Validator DeviceCheck();
// A dotted IPv4 address.
CLI::Validator Ipv4Check();
// A service port from 1 to 65534, or "off".
CLI::Validator ServicePortCheck();
// A file that exists, is no folder and can be read (its content is the
// caller's to judge; passwords are never quoted).
CLI::Validator ReadableFileCheck();

// The options that several commands share, declared alike everywhere.
CLI::Option* AddJsonFlag(CLI::App& command, bool& json, const std::string& what);
CLI::Option* AddPasswordFile(CLI::App& command, std::string& path);
CLI::Option* AddNewPasswordFile(CLI::App& command, std::string& path);
// DEVICE, one required; and DEVICE... for the commands about several devices.
CLI::Option* AddDevice(CLI::App& command, std::string& device);
CLI::Option* AddDevices(CLI::App& command, std::vector<std::string>& devices);

} // namespace korvane::cli
