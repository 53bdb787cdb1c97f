// The values an operator types: an IPv4 address, a port, a device named by
// MAC or serial number, a serial number for the factory command. Each parser
// takes any text; what it accepts must mean what it says.

#include "cli/options.hpp"
#include "cli/resolver.hpp"
#include "config/config_commands.hpp"
#include "protocol/config_blocks.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvane;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    // An accepted address is four dotted numbers, and prints back to itself.
    if (const auto address = ParseIPv4(text)) {
        if (text.find_first_not_of("0123456789.") != text.npos)
            __builtin_trap();
        if (ParseIPv4(FormatIPv4(*address)) != address)
            __builtin_trap();
    }

    // An accepted port is the value of its digits, whatever leading zeros.
    if (const auto port = cli::ParsePortNumber(text)) {
        std::int64_t value = 0;
        for (const char c : text) {
            if (c < '0' || c > '9')
                __builtin_trap();
            value = value * 10 + (c - '0');
        }
        if (value != *port)
            __builtin_trap();
    }

    // A selector names a device one way: by MAC, or by a serial that prints back.
    if (const auto selector = cli::ParseDeviceSelector(text)) {
        if (selector->mac.has_value() == selector->serial.has_value())
            __builtin_trap();
        if (selector->serial) {
            const auto again = cli::ParseDeviceSelector(std::to_string(*selector->serial));
            if (!again || again->serial != selector->serial)
                __builtin_trap();
        }
    }

    const std::uint32_t serial = ParseSerialNumberText(text);
    if (SerialNumberMac(serial).serialNumber() != serial)
        __builtin_trap();
    return 0;
}
