#include "cli/cli.hpp"

#include "cli/commands.hpp"
#include "link/capture_recorder.hpp"

#include <cstdlib>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace korvane::cli {

namespace {

struct CommandEntry {
    std::string_view name;
    int (*run)(Invocation&);
    std::string_view usage;
};

// One row per command; the first word of the arguments picks it.
constexpr CommandEntry kCommands[] = {
    {"adapters", CmdAdapters, "adapters [--json]            list the Ethernet adapters"},
    {"discover", CmdDiscover, "discover [--json]            one discovery on each adapter"},
    {"search", CmdSearch,
     "search [--json] [--watch SECONDS]\n"
     "                               search every adapter; list serial number, LAN address...\n"
     "                               (--watch: search again every SECONDS until interrupted;\n"
     "                               with --json one array per line, one line per search)"},
    {"info", CmdInfo, "info DEVICE                  the information of one device"},
    {"open", CmdOpen,
     "open DEVICE... [--print]     open the devices' web pages (--print: only print the URLs)"},
    {"settings", CmdSettings,
     "settings show DEVICE [--json]\n"
     "                               a device's network settings\n"
     "  settings set DEVICE [--dhcp|--bootp|--static] [--ip A] [--mask M] [--gateway G]\n"
     "      [--http PORT|off] [--https PORT|off] [--telnet PORT|off] [--ssh PORT|off]\n"
     "      [--yes] [--password-file F]\n"
     "                               change them (--yes: go on when the address is in use)\n"
     "  settings set-ip DEVICE [--dhcp|--static] [--ip A] [--mask M] [--gateway G]\n"
     "      [--password-file F]      the address alone"},
    {"password", CmdPassword,
     "password set DEVICE [--password-file F] [--new-password-file F]\n"
     "  password clear DEVICE [--password-file F]\n"
     "                               set or clear the device password"},
    {"factory", CmdFactory,
     "factory serial DEVICE NUMBER [--password-file F]\n"
     "                               write the serial number (and so the MAC)"},
    {"firmware", CmdFirmware,
     "firmware upgrade IMAGE (DEVICE... | --all) [--yes] [--on-block-failure abort|retry|ignore]\n"
     "      [--password-file F] [--json] [--pacing shared|per-device]\n"
     "                               upgrade the devices' firmware, eight at a time;\n"
     "                               --pacing per-device: faster for many units (the\n"
     "                               default, shared, is the conservative pace)"},
};

void usage(std::ostream& out) {
    out << "usage: korvane [--simulate N] [--interface NAME]... [--capture FILE] COMMAND [ARGS]\n\n"
           "  --simulate N       work on a simulated LAN of N emulated devices\n"
           "  --interface NAME   use only this adapter (repeatable)\n"
           "  --capture FILE     record every frame sent and received to FILE (pcap,\n"
           "                     at most 256 MiB), for Wireshark and its korvane dissector\n\n"
           "commands:\n";
    for (const auto& c : kCommands)
        out << "  " << c.usage << "\n";
    out << "\nDEVICE: a serial number as search lists it, or a MAC address (dash or colon form)\n"
           "Passwords are never given on the command line: the current one comes from\n"
           "--password-file F, the environment variable KORVANE_PASSWORD or a prompt on a\n"
           "terminal; a new one from --new-password-file F or a prompt asked twice.\n"
           "\nexit status:\n"
           "  0  done (for search: every adapter that could be opened was searched, even\n"
           "     when no device answered)\n"
           "  1  the operation failed: no reply, refused, a device not found...\n"
           "  2  wrong arguments\n"
           "  3  nothing could be searched: no Ethernet adapter, none could be opened (raw\n"
           "     access refused, adapter down), or no adapter has the --interface name\n";
}

} // namespace

int Run(const std::vector<std::string>& args, Streams streams) {
    // Global options stand before the command.
    EnvironmentOptions global;
    std::optional<std::string> capturePath;
    std::size_t i = 0;
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--version") {
            streams.out << "korvane " KORVANE_VERSION_TEXT "\n";
            return kExitOk;
        }
        if (a == "--help" || a == "-h") {
            usage(streams.out);
            return kExitOk;
        }
        if (a == "--simulate" || a == "--interface" || a == "--capture") {
            if (i + 1 >= args.size()) {
                streams.err << "korvane: " << a << " needs a value\n";
                return kExitUsage;
            }
            const std::string& value = args[++i];
            if (a == "--capture") {
                capturePath = value;
                continue;
            }
            if (a == "--interface") {
                global.interfaces.push_back(value);
                continue;
            }
            char* end = nullptr;
            const long n = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || n < 0 || n > 4096) {
                streams.err << "korvane: --simulate takes a number of devices from 0 to 4096\n";
                return kExitUsage;
            }
            global.simulate = static_cast<int>(n);
            continue;
        }
        break;
    }
    if (i >= args.size()) {
        usage(streams.err);
        return kExitUsage;
    }
    const std::string& name = args[i];
    for (const auto& c : kCommands) {
        if (c.name != name)
            continue;
        if (capturePath) {
            std::string error;
            global.capture = CaptureFile::create(*capturePath, error);
            if (!global.capture) {
                streams.err << "korvane: --capture: " << error << "\n";
                return kExitUsage;
            }
            global.capture->setMessageSink(
                [&](const std::string& line) { streams.err << "korvane: " << line; });
        }
        Environment env(global);
        env.setPermissionReporter(
            [&](const std::string& line) { streams.err << "korvane: " << line; });
        Invocation inv{
            env, ArgList({args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end()}), streams};
        return c.run(inv);
    }
    streams.err << "korvane: unknown command '" << name << "'\n";
    usage(streams.err);
    return kExitUsage;
}

} // namespace korvane::cli
