// settings show|set|set-ip, password set|clear, factory serial

#include "cli/cli_operator.hpp"
#include "cli/commands.hpp"
#include "cli/device_lookup.hpp"
#include "cli/json.hpp"
#include "config/config_commands.hpp"
#include "protocol/frame.hpp"

#include <cctype>
#include <map>
#include <ostream>
#include <set>

namespace korvane::cli {

namespace {

// Every option the configuration commands know; each subcommand allows some.
const std::vector<std::string> kValueOptions = {
    "--ip",     "--mask",          "--gateway",          "--http", "--https", "--ssh",
    "--telnet", "--password-file", "--new-password-file"};
const std::vector<std::string> kFlags = {"--json",  "--yes",    "--dhcp",
                                         "--bootp", "--static", "--force"};

struct Parsed {
    std::map<std::string, std::string> values;
    std::set<std::string> flags;
    std::vector<std::string> positionals;

    bool has(const std::string& name) const { return values.count(name) || flags.count(name); }
    std::optional<std::string> value(const std::string& name) const {
        auto it = values.find(name);
        if (it == values.end())
            return std::nullopt;
        return it->second;
    }
};

bool parseArgs(ArgList& args, Parsed& parsed, std::string& error) {
    for (const auto& name : kValueOptions)
        if (auto v = args.option(name))
            parsed.values[name] = *v;
    for (const auto& name : kFlags)
        if (args.flag(name))
            parsed.flags.insert(name);
    parsed.positionals = args.positionals(error);
    return error.empty();
}

// Refuses options the subcommand does not take.
bool onlyAllowed(const Parsed& parsed, const std::set<std::string>& allowed, std::string& error) {
    for (const auto& [name, value] : parsed.values)
        if (!allowed.count(name)) {
            error = "option " + name + " does not apply here";
            return false;
        }
    for (const auto& name : parsed.flags)
        if (!allowed.count(name)) {
            error = "option " + name + " does not apply here";
            return false;
        }
    return true;
}

int usageError(Invocation& inv, const std::string& prefix, const std::string& text) {
    inv.io.err << prefix << ": " << text << "\n";
    return kExitUsage;
}

// ------------------------------------------------------------- edits

struct PortEdit {
    bool on = false;
    int port = 0;
};

struct AddressEdits {
    std::optional<AddressMode> mode;
    std::optional<std::uint32_t> ip, mask, gateway;
};

struct ServiceEdits {
    std::map<ServiceKind, PortEdit> ports;
};

std::string optionName(ServiceKind kind) {
    switch (kind) {
    case ServiceKind::Http:
        return "--http";
    case ServiceKind::Https:
        return "--https";
    case ServiceKind::Telnet:
        return "--telnet";
    case ServiceKind::Ssh:
        break;
    }
    return "--ssh";
}

bool parseAddressEdits(const Parsed& p, bool bootpAllowed, AddressEdits& edits,
                       std::string& error) {
    const int modes = static_cast<int>(p.flags.count("--dhcp")) +
                      static_cast<int>(p.flags.count("--bootp")) +
                      static_cast<int>(p.flags.count("--static"));
    if (modes > 1) {
        error = bootpAllowed ? "choose one of --dhcp, --bootp and --static"
                             : "choose one of --dhcp and --static";
        return false;
    }
    if (p.flags.count("--dhcp"))
        edits.mode = AddressMode::Dhcp;
    if (p.flags.count("--bootp"))
        edits.mode = AddressMode::Bootp;
    if (p.flags.count("--static"))
        edits.mode = AddressMode::Static;
    const std::pair<const char*, std::optional<std::uint32_t>*> fields[] = {
        {"--ip", &edits.ip}, {"--mask", &edits.mask}, {"--gateway", &edits.gateway}};
    for (const auto& [name, target] : fields) {
        if (auto text = p.value(name)) {
            const auto address = ParseIPv4(*text);
            if (!address) {
                error = std::string(name) + " takes a dotted IPv4 address, not '" + *text + "'";
                return false;
            }
            *target = *address;
        }
    }
    // An address is set only in static mode: asking for DHCP or BOOTP and an
    // address at once is a contradiction, refused before any device is asked.
    if (edits.mode && *edits.mode != AddressMode::Static &&
        (edits.ip || edits.mask || edits.gateway)) {
        error = std::string(*edits.mode == AddressMode::Dhcp ? "--dhcp" : "--bootp") +
                " cannot go with --ip, --mask or --gateway: an address is set with --static";
        return false;
    }
    return true;
}

bool parseServiceEdits(const Parsed& p, ServiceEdits& edits, std::string& error) {
    for (const ServiceKind kind : kServices) {
        const auto text = p.value(optionName(kind));
        if (!text)
            continue;
        if (*text == "off") {
            edits.ports[kind] = {false, 0};
            continue;
        }
        const auto port = ParsePortNumber(*text);
        if (!port) {
            error = optionName(kind) + " takes a port number or off, not '" + *text + "'";
            return false;
        }
        if (*port < 1 || *port > kMaxServicePort) {
            error = optionName(kind) + " takes a port number from 1 to " +
                    std::to_string(kMaxServicePort) + " or off, not " + *text;
            return false;
        }
        edits.ports[kind] = {true, *port};
    }
    return true;
}

// Applies the edits as a person would on the IP Address page; an error when
// the page would not allow them.
std::optional<std::string> applyAddressEdits(const AddressEdits& edits, IpAddressPageModel& page) {
    if (edits.mode == AddressMode::Bootp && !page.bootpAvailable())
        return "BOOTP is not available on this device (only a model K device with settings "
               "version 31 or more offers it)";
    if (edits.mode)
        page.mode = *edits.mode;
    if ((edits.ip || edits.mask || edits.gateway) && !page.addressesEditable())
        return "--ip, --mask and --gateway set a static address: add --static";
    if (edits.ip)
        page.ipAddress = *edits.ip;
    if (edits.mask)
        page.subnetMask = *edits.mask;
    if (edits.gateway)
        page.gateway = *edits.gateway;
    return std::nullopt;
}

std::optional<std::string> applyServiceEdits(const ServiceEdits& edits, AdvancedPageModel& page) {
    for (const auto& [kind, edit] : edits.ports) {
        if (!page.serviceEditable(kind)) {
            if (kind == ServiceKind::Http || kind == ServiceKind::Telnet)
                return "this device's settings (version " + std::to_string(page.version) +
                       ") have no " + std::string(ServiceName(kind)) + " setting";
            return "this device has no " + std::string(ServiceName(kind)) + " service";
        }
        page.setEnabled(kind, edit.on);
        if (edit.on)
            page.service(kind).port = edit.port;
    }
    return std::nullopt;
}

std::string_view modeName(AddressMode mode) {
    switch (mode) {
    case AddressMode::Dhcp:
        return "dhcp";
    case AddressMode::Bootp:
        return "bootp";
    case AddressMode::Static:
        break;
    }
    return "static";
}

// ------------------------------------------------------------- common steps

std::optional<DeviceIdentity> findTarget(Invocation& inv, const std::string& prefix,
                                         const std::string& text) {
    std::string error;
    auto device = FindDevice(inv.env.context(), text, error);
    if (!device)
        inv.io.err << prefix << ": " << error << "\n";
    return device;
}

// Loads the password answers; prints and returns false on an unreadable file.
bool loadAnswers(Invocation& inv, const std::string& prefix, const Parsed& p, CliAnswers& answers) {
    std::string error;
    if (!LoadPasswordAnswers(p.value("--password-file"), p.value("--new-password-file"), answers,
                             error)) {
        inv.io.err << prefix << ": " << error << "\n";
        return false;
    }
    answers.yes = p.flags.count("--yes") > 0;
    return true;
}

// The gate's ends that the GUI passes over in silence still need a word here.
int gateEnd(CliOperator& op, ConfigEnd end) {
    switch (end) {
    case ConfigEnd::NoReply:
        op.error(std::string(text::kNoRespond));
        break;
    case ConfigEnd::Cancelled:
        if (!op.unanswered())
            op.error("cancelled");
        break;
    default:
        break;
    }
    return kExitFailure;
}

// ------------------------------------------------------------- settings

int settingsShow(Invocation& inv, const Parsed& p) {
    const std::string prefix = "korvane settings show";
    std::string error;
    if (!onlyAllowed(p, {"--json"}, error))
        return usageError(inv, prefix, error);
    if (p.positionals.size() != 2)
        return usageError(inv, prefix, "usage: settings show DEVICE [--json]");
    const auto device = findTarget(inv, prefix, p.positionals[1]);
    if (!device)
        return kExitFailure;

    Context& ctx = inv.env.context();
    ctx.useAdapterOf(device->adapterIndex());
    SettingsBlock block;
    const std::uint16_t status = ReadSettings(ctx, device->mac(), "", block);
    if (status == status::kNoReply) {
        inv.io.err << prefix << ": " << text::kNoRespond << "\n";
        return kExitFailure;
    }
    const NetworkSettingsModel m = FillNetworkSettings(block, status, ModelLetterIsK(*device));

    // An old device has no HTTP and Telnet fields: those show as absent.
    const auto state = [&](ServiceKind kind) -> std::string_view {
        const ServiceSetting& s = m.advancedPage.service(kind);
        if (s.absent || ((kind == ServiceKind::Http || kind == ServiceKind::Telnet) &&
                         !m.advancedPage.serviceEditable(kind)))
            return "absent";
        return s.enabled ? "on" : "off";
    };

    if (p.flags.count("--json")) {
        JsonObject services;
        for (const ServiceKind kind : kServices) {
            JsonObject service;
            const std::string_view st = state(kind);
            service.add("state", st);
            if (st == "absent")
                service.addRaw("port", "null");
            else
                service.add("port", m.advancedPage.service(kind).port);
            std::string key(ServiceName(kind));
            for (char& c : key)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            services.addRaw(key, service.str());
        }
        inv.io.out << JsonObject()
                          .add("serial", std::to_string(device->serialNumber()))
                          .add("mac", device->mac().toString())
                          .add("address_mode", modeName(m.ipPage.mode))
                          .add("ip_address", FormatIPv4(m.ipPage.ipAddress))
                          .add("subnet_mask", FormatIPv4(m.ipPage.subnetMask))
                          .add("gateway", FormatIPv4(m.ipPage.gateway))
                          .addRaw("services", services.str())
                          .add("settings_version", static_cast<int>(m.ipPage.version))
                          .add("password_set", m.devicePasswordSet)
                          .str()
                   << "\n";
        return kExitOk;
    }
    auto& out = inv.io.out;
    out << "Device:           " << device->serialNumber() << " (" << device->mac().toString()
        << ")\n";
    out << "Address mode:     " << modeName(m.ipPage.mode) << "\n";
    out << "IP address:       " << FormatIPv4(m.ipPage.ipAddress) << "\n";
    out << "Subnet mask:      " << FormatIPv4(m.ipPage.subnetMask) << "\n";
    out << "Gateway:          " << FormatIPv4(m.ipPage.gateway) << "\n";
    for (const ServiceKind kind : kServices) {
        const std::string name = std::string(ServiceName(kind)) + ":";
        out << name << std::string(18 - name.size(), ' ') << state(kind);
        if (state(kind) != "absent")
            out << ", port " << m.advancedPage.service(kind).port;
        out << "\n";
    }
    out << "Settings version: " << m.ipPage.version << "\n";
    out << "Password:         " << (m.devicePasswordSet ? "set" : "not set") << "\n";
    return kExitOk;
}

int settingsSet(Invocation& inv, const Parsed& p) {
    const std::string prefix = "korvane settings set";
    std::string error;
    if (!onlyAllowed(p,
                     {"--dhcp", "--bootp", "--static", "--ip", "--mask", "--gateway", "--http",
                      "--https", "--telnet", "--ssh", "--yes", "--password-file"},
                     error))
        return usageError(inv, prefix, error);
    if (p.positionals.size() != 2)
        return usageError(inv, prefix, "usage: settings set DEVICE [OPTIONS]");
    AddressEdits addressEdits;
    ServiceEdits serviceEdits;
    if (!parseAddressEdits(p, true, addressEdits, error) ||
        !parseServiceEdits(p, serviceEdits, error))
        return usageError(inv, prefix, error);
    CliAnswers answers;
    if (!loadAnswers(inv, prefix, p, answers))
        return kExitUsage;
    const auto device = findTarget(inv, prefix, p.positionals[1]);
    if (!device)
        return kExitFailure;

    CliOperator op(inv.io, prefix, answers);
    std::optional<std::string> editError;
    NetworkSettingsHooks hooks;
    // The sheet is "shown" once: a refused OK ends the command.
    hooks.edit = [&](NetworkSettingsModel& m, SheetRefusal previous) {
        if (previous != SheetRefusal::None)
            return false;
        editError = applyAddressEdits(addressEdits, m.ipPage);
        if (!editError)
            editError = applyServiceEdits(serviceEdits, m.advancedPage);
        return !editError;
    };
    const NetworkSettingsResult r = RunNetworkSettings(inv.env.context(), *device, op, hooks);
    switch (r.end) {
    case ConfigEnd::NoReply:
        return kExitFailure; // "No respond!" was shown
    case ConfigEnd::Cancelled:
        if (editError) {
            op.error(*editError);
            return kExitFailure;
        }
        switch (r.lastRefusal) {
        case SheetRefusal::GateNoReply:
            return gateEnd(op, ConfigEnd::NoReply);
        case SheetRefusal::GateCancelled:
            return gateEnd(op, ConfigEnd::Cancelled);
        case SheetRefusal::ConflictDeclined:
            if (!op.unanswered())
                op.error("settings not written");
            return kExitFailure;
        default:
            return kExitFailure; // the refusal's message was shown
        }
    case ConfigEnd::NothingToWrite:
        inv.io.out << "Nothing changed: no settings written\n";
        return kExitOk;
    default:
        break;
    }
    if (r.settingsWritten && r.settingsStatus == status::kNoReply) {
        op.error(std::string(text::kNoRespond) + " (the settings write was not answered)");
        return kExitFailure;
    }
    if (r.settingsWritten && r.settingsStatus != status::kDone) {
        op.error("the device did not accept the settings (status " +
                 std::to_string(r.settingsStatus) + ")");
        return kExitFailure;
    }
    inv.io.out << "Settings written\n";
    return kExitOk;
}

int settingsSetIp(Invocation& inv, const Parsed& p) {
    const std::string prefix = "korvane settings set-ip";
    std::string error;
    if (!onlyAllowed(p, {"--dhcp", "--static", "--ip", "--mask", "--gateway", "--password-file"},
                     error))
        return usageError(inv, prefix, error);
    if (p.positionals.size() != 2)
        return usageError(inv, prefix, "usage: settings set-ip DEVICE [OPTIONS]");
    AddressEdits edits;
    if (!parseAddressEdits(p, false, edits, error))
        return usageError(inv, prefix, error);
    CliAnswers answers;
    if (!loadAnswers(inv, prefix, p, answers))
        return kExitUsage;
    const auto device = findTarget(inv, prefix, p.positionals[1]);
    if (!device)
        return kExitFailure;

    CliOperator op(inv.io, prefix, answers);
    std::optional<std::string> editError;
    const IpSettingsResult r =
        RunIpSettings(inv.env.context(), *device, op,
                      [&](IpAddressPageModel& page, const std::optional<std::string>& refusal) {
                          if (refusal)
                              return false;
                          editError = applyAddressEdits(edits, page);
                          return !editError;
                      });
    switch (r.end) {
    case ConfigEnd::Written:
        inv.io.out << "Settings written\n";
        return kExitOk;
    case ConfigEnd::NothingToWrite:
        inv.io.out << "Nothing changed: no settings written (give --dhcp, --static, --ip, --mask "
                      "or --gateway)\n";
        return kExitOk;
    case ConfigEnd::NoReply:
    case ConfigEnd::Cancelled:
        if (editError) {
            op.error(*editError);
            return kExitFailure;
        }
        return gateEnd(op, r.end);
    default:
        return kExitFailure; // "Incorrect Password.", "Write Abort" or a test's message was shown
    }
}

// ------------------------------------------------------------- password

int passwordCommand(Invocation& inv, const Parsed& p, bool clear) {
    const std::string prefix = clear ? "korvane password clear" : "korvane password set";
    std::string error;
    const std::set<std::string> allowed =
        clear ? std::set<std::string>{"--password-file"}
              : std::set<std::string>{"--password-file", "--new-password-file"};
    if (!onlyAllowed(p, allowed, error))
        return usageError(inv, prefix, error);
    if (p.positionals.size() != 2)
        return usageError(inv, prefix,
                          clear ? "usage: password clear DEVICE [--password-file F]"
                                : "usage: password set DEVICE [--password-file F] "
                                  "[--new-password-file F]");
    CliAnswers answers;
    if (!loadAnswers(inv, prefix, p, answers))
        return kExitUsage;
    const auto device = findTarget(inv, prefix, p.positionals[1]);
    if (!device)
        return kExitFailure;

    CliOperator op(inv.io, prefix, answers);
    bool pageRefused = false;
    const SetPasswordResult r =
        RunSetPassword(inv.env.context(), *device, op,
                       [&](PasswordPageModel& page, const std::optional<std::string>& refusal) {
                           if (refusal) {
                               pageRefused = true; // its message was shown
                               return false;
                           }
                           page.enabled = !clear;
                           if (clear)
                               return true;
                           return op.askNewPassword(page.newPassword, page.confirmPassword);
                       });
    switch (r.end) {
    case ConfigEnd::Written:
        inv.io.out << (clear ? "Password cleared\n" : "Password set\n");
        return kExitOk;
    case ConfigEnd::NothingToWrite:
        inv.io.out << "Password unchanged\n";
        return kExitOk;
    case ConfigEnd::Cancelled:
        if (pageRefused)
            return kExitFailure;
        return gateEnd(op, r.end);
    case ConfigEnd::NoReply:
        return gateEnd(op, r.end);
    default:
        return kExitFailure; // its message was shown
    }
}

} // namespace

int CmdSettings(Invocation& inv) {
    Parsed p;
    std::string error;
    if (!parseArgs(inv.args, p, error))
        return usageError(inv, "korvane settings", error);
    const std::string sub = p.positionals.empty() ? "" : p.positionals[0];
    if (sub == "show")
        return settingsShow(inv, p);
    if (sub == "set")
        return settingsSet(inv, p);
    if (sub == "set-ip")
        return settingsSetIp(inv, p);
    return usageError(inv, "korvane settings", "usage: settings show|set|set-ip DEVICE ...");
}

int CmdPassword(Invocation& inv) {
    Parsed p;
    std::string error;
    if (!parseArgs(inv.args, p, error))
        return usageError(inv, "korvane password", error);
    const std::string sub = p.positionals.empty() ? "" : p.positionals[0];
    if (sub == "set" || sub == "clear")
        return passwordCommand(inv, p, sub == "clear");
    return usageError(inv, "korvane password", "usage: password set|clear DEVICE ...");
}

int CmdFactory(Invocation& inv) {
    const std::string prefix = "korvane factory serial";
    Parsed p;
    std::string error;
    if (!parseArgs(inv.args, p, error))
        return usageError(inv, "korvane factory", error);
    if (p.positionals.empty() || p.positionals[0] != "serial")
        return usageError(inv, "korvane factory", "usage: factory serial DEVICE NUMBER");
    if (!onlyAllowed(p, {"--password-file", "--force"}, error))
        return usageError(inv, prefix, error);
    if (p.positionals.size() != 3)
        return usageError(inv, prefix,
                          "usage: factory serial DEVICE NUMBER [--password-file F] [--force]\n"
                          "  --force writes a number whose MAC address another device on the "
                          "segment has, or that lies outside 02-19-A7-00-00-00 to "
                          "02-19-A7-00-01-FF");
    const std::string& number = p.positionals[2];
    // Stricter than the dialog's conversion: a typing error must not become a MAC address.
    if (number.empty() || number.size() > 10 ||
        number.find_first_not_of("0123456789") != std::string::npos ||
        std::stoull(number) > 0xFFFFFFFFull)
        return usageError(inv, prefix,
                          "NUMBER is a serial number from 0 to 4294967295, not '" + number + "'");
    CliAnswers answers;
    if (!loadAnswers(inv, prefix, p, answers))
        return kExitUsage;
    answers.force = p.flags.count("--force") > 0;
    const auto device = findTarget(inv, prefix, p.positionals[1]);
    if (!device)
        return kExitFailure;
    if (!FactoryCommandEnabled(FactoryCommand::SerialNumber, 1, device->mac())) {
        inv.io.err << prefix << ": the serial number can be set only on a device whose MAC lies "
                   << "between 02-19-A7-00-00-00 and 02-19-A7-00-01-FF (this one is "
                   << device->mac().toString() << ")\n";
        return kExitFailure;
    }

    CliOperator op(inv.io, prefix, answers);
    const SerialNumberResult r =
        RunSetSerialNumber(inv.env.context(), *device, op,
                           [&](std::string_view) { return std::optional<std::string>(number); });
    switch (r.end) {
    case ConfigEnd::Written:
        inv.io.out << "Serial number " << ParseSerialNumberText(number) << " written: MAC "
                   << r.newMac.toString() << "\n";
        return kExitOk;
    case ConfigEnd::NoReply:
    case ConfigEnd::Cancelled:
        return gateEnd(op, r.end);
    case ConfigEnd::Declined:
        op.error("nothing written");
        return kExitFailure;
    case ConfigEnd::WriteFailed:
        if (static_cast<std::int16_t>(r.writeStatus) < 0)
            op.error("the device refused the factory block (status " +
                     std::to_string(r.writeStatus) + ")");
        return kExitFailure;
    default:
        return kExitFailure;
    }
}

} // namespace korvane::cli
