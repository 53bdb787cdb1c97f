// korvane settings show|set|set-ip DEVICE: a device's network settings.

#include "app/environment.hpp"
#include "cli/config_steps.hpp"
#include "cli/device_command.hpp"
#include "cli/json_output.hpp"
#include "cli/options.hpp"
#include "config/arp_probe.hpp"
#include "config/settings_edits.hpp"
#include "config/settings_model.hpp"
#include "protocol/frame.hpp"

#include <cctype>
#include <map>
#include <memory>
#include <ostream>

namespace korvane::cli {

namespace {

// ------------------------------------------------------------- options

struct AddressOptions {
    bool dhcp = false, bootp = false, statik = false;
    std::string ip, mask, gateway;
};

struct SettingsOptions {
    bool json = false;
    bool yes = false;
    AddressOptions address;
    std::map<ServiceKind, std::string> ports; // "off" or a number, as given
    SettingsEdits edits;                      // what the options ask for, checked before any frame
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

// The options were checked one by one while parsing; what is left is how
// they go together. An address is set only in static mode: DHCP or BOOTP
// with an address is a contradiction, refused before any device is asked.
std::optional<std::string> makeAddressEdits(const AddressOptions& o, SettingsEdits& edits) {
    if (o.dhcp)
        edits.mode = AddressMode::Dhcp;
    if (o.bootp)
        edits.mode = AddressMode::Bootp;
    if (o.statik)
        edits.mode = AddressMode::Static;
    const std::pair<const std::string*, std::optional<std::uint32_t>*> fields[] = {
        {&o.ip, &edits.ip}, {&o.mask, &edits.mask}, {&o.gateway, &edits.gateway}};
    for (const auto& [text, target] : fields)
        if (!text->empty())
            *target = ParseIPv4(*text);
    if (edits.mode && *edits.mode != AddressMode::Static &&
        (edits.ip || edits.mask || edits.gateway))
        return std::string(*edits.mode == AddressMode::Dhcp ? "--dhcp" : "--bootp") +
               " cannot go with --ip, --mask or --gateway: an address is set with --static";
    return std::nullopt;
}

void addPortEdits(const SettingsOptions& o, SettingsEdits& edits) {
    for (const auto& [kind, text] : o.ports) {
        if (text.empty())
            continue;
        if (text == "off")
            edits.services[kind] = {false, 0};
        else
            edits.services[kind] = {true, ParsePortNumber(text).value_or(0)};
    }
}

void addAddressOptions(CLI::App& cmd, AddressOptions& o, bool bootp) {
    // One mode at most.
    CLI::Option_group* mode = cmd.add_option_group("Address mode");
    mode->add_flag("--dhcp", o.dhcp, "get the address from a DHCP server");
    mode->add_flag("--static", o.statik, "a fixed address (--ip, --mask, --gateway)");
    if (bootp)
        mode->add_flag("--bootp", o.bootp, "get the address from a BOOTP server (model K devices)");
    mode->require_option(0, 1);
    cmd.add_option("--ip", o.ip, "the IP address")->type_name("A.B.C.D")->check(Ipv4Check());
    cmd.add_option("--mask", o.mask, "the subnet mask")->type_name("A.B.C.D")->check(Ipv4Check());
    cmd.add_option("--gateway", o.gateway, "the gateway")->type_name("A.B.C.D")->check(Ipv4Check());
}

// ------------------------------------------------------------- edits on the pages

// The pages' refusals, in the words of the options.
std::optional<std::string> refusalText(const std::optional<EditRefusal>& refusal) {
    if (!refusal)
        return std::nullopt;
    switch (refusal->kind) {
    case EditRefusal::Kind::BootpUnavailable:
        return "BOOTP is not available on this device (only a model K device with settings "
               "version 31 or more offers it)";
    case EditRefusal::Kind::AddressNeedsStatic:
        return "--ip, --mask and --gateway set a static address: add --static";
    default:
        break;
    }
    return ServiceRefusalText(*refusal);
}

// ------------------------------------------------------------- the subcommands

int runShow(Invocation& inv, const DeviceIdentity& device, CliOperator& /*op*/,
            const SettingsOptions& o) {
    Context& ctx = inv.env.context();
    ctx.useAdapterOf(device.adapterIndex());
    SettingsBlock block;
    const std::uint16_t readStatus = ReadSettings(ctx, device.mac(), "", block);
    if (readStatus == status::kNoReply) {
        inv.error() << text::kNoRespond << "\n";
        return kExitFailure;
    }
    const NetworkSettingsModel m = FillNetworkSettings(block, readStatus, ModelLetterIsK(device));

    // An old device has no HTTP and Telnet fields: those show as absent.
    const auto state = [&](ServiceKind kind) -> std::string {
        const ServiceSetting& s = m.advancedPage.service(kind);
        if (s.absent || ((kind == ServiceKind::Http || kind == ServiceKind::Telnet) &&
                         !m.advancedPage.serviceEditable(kind)))
            return "absent";
        return s.enabled ? "on" : "off";
    };

    if (o.json) {
        Json services = Json::object();
        for (const ServiceKind kind : kServices) {
            const std::string st = state(kind);
            std::string key(ServiceName(kind));
            for (char& c : key)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            services[key] = {
                {"state", st},
                {"port", st == "absent" ? Json(nullptr) : Json(m.advancedPage.service(kind).port)}};
        }
        PrintJson(inv.io.out, {{"serial", std::to_string(device.serialNumber())},
                               {"mac", device.mac().toString()},
                               {"address_mode", AddressModeName(m.ipPage.mode)},
                               {"ip_address", FormatIPv4(m.ipPage.ipAddress)},
                               {"subnet_mask", FormatIPv4(m.ipPage.subnetMask)},
                               {"gateway", FormatIPv4(m.ipPage.gateway)},
                               {"services", services},
                               {"settings_version", static_cast<int>(m.ipPage.version)},
                               {"password_set", m.devicePasswordSet}});
        return kExitOk;
    }
    auto& out = inv.io.out;
    out << "Device:           " << device.serialNumber() << " (" << device.mac().toString()
        << ")\n";
    out << "Address mode:     " << AddressModeName(m.ipPage.mode) << "\n";
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

// The line that ends a write. The simulated LAN is made afresh for every
// run, so what was written there is gone with it: say so where it happens.
void sayWritten(Invocation& inv) {
    inv.io.out << "Settings written";
    if (inv.env.lan() != nullptr)
        inv.io.out << " (to the simulated LAN, which starts afresh in every run; korvane-devsim "
                      "keeps a LAN's state between commands)";
    inv.io.out << "\n";
}

// The address and port options made into edits, before any frame: a
// combination that cannot be is a usage error.
int prepareEdits(Invocation& inv, CliAnswers& answers, SettingsOptions& o, bool ports) {
    o.edits = {};
    if (const auto error = makeAddressEdits(o.address, o.edits))
        return inv.usageError(*error);
    if (ports)
        addPortEdits(o, o.edits);
    answers.yes = o.yes;
    return kExitOk;
}

int runSet(Invocation& inv, const DeviceIdentity& device, CliOperator& op,
           const SettingsOptions& o) {
    const SettingsEdits& settingsEdits = o.edits;
    std::optional<std::string> editError;
    NetworkSettingsHooks hooks;
    // The sheet is "shown" once: a refused OK ends the command.
    hooks.edit = [&](NetworkSettingsModel& m, SheetRefusal previous) {
        if (previous != SheetRefusal::None)
            return false;
        editError = refusalText(ApplySettingsEdits(settingsEdits, m));
        return !editError;
    };
    const NetworkSettingsResult r = RunNetworkSettings(inv.env.context(), device, op, hooks);
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
            return GateEnd(op, ConfigEnd::NoReply);
        case SheetRefusal::GateCancelled:
            return GateEnd(op, ConfigEnd::Cancelled);
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
    sayWritten(inv);
    return kExitOk;
}

int runSetIp(Invocation& inv, const DeviceIdentity& device, CliOperator& op,
             const SettingsOptions& o) {
    const SettingsEdits& edits = o.edits;
    std::optional<std::string> editError;
    bool conflictDeclined = false;
    Context& ctx = inv.env.context();
    const IpSettingsResult r = RunIpSettings(
        ctx, device, op, [&](IpAddressPageModel& page, const std::optional<std::string>& refusal) {
            if (refusal)
                return false;
            editError = refusalText(ApplyAddressEdits(edits, page));
            if (editError)
                return false;
            // The same question as `settings set`: a new static address that
            // another station answers to is written only when --yes says so.
            if (ConflictQuestionApplies(page) && ProbeAddressInUse(ctx, page.ipAddress) &&
                !op.askYesNo(text::AddressConflictQuestion(page.ipAddress), MessageIcon::Warning)) {
                conflictDeclined = true;
                return false;
            }
            return true;
        });
    switch (r.end) {
    case ConfigEnd::Written:
        sayWritten(inv);
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
        if (conflictDeclined) {
            if (!op.unanswered())
                op.error("settings not written");
            return kExitFailure;
        }
        return GateEnd(op, r.end);
    default:
        return kExitFailure; // "Incorrect Password.", "Write Abort" or a test's message was shown
    }
}

// Declares `cmd` as a command about one device, running `run` with the options.
using SettingsRun = int (*)(Invocation&, const DeviceIdentity&, CliOperator&,
                            const SettingsOptions&);
void declareDeviceCommand(CLI::App& cmd, Chosen& chosen, std::shared_ptr<SettingsOptions> o,
                          DeviceAccess access, bool ports, SettingsRun run) {
    DeviceCommand command;
    command.access = access;
    if (access != DeviceAccess::Read)
        command.prepare = [o, ports](Invocation& inv, CliAnswers& answers) {
            return prepareEdits(inv, answers, *o, ports);
        };
    command.run = [o, run](Invocation& inv, const DeviceIdentity& device, CliOperator& op) {
        return run(inv, device, op, *o);
    };
    DeclareDeviceCommand(cmd, chosen, std::move(command));
}

} // namespace

void DeclareSettings(CLI::App& app, Chosen& chosen) {
    CLI::App* settings = app.add_subcommand("settings", "a device's network settings");
    settings->require_subcommand(1);

    auto show = std::make_shared<SettingsOptions>();
    CLI::App* cmd = settings->add_subcommand("show", "print a device's network settings");
    declareDeviceCommand(*cmd, chosen, show, DeviceAccess::Read, false, runShow);
    AddJsonFlag(*cmd, show->json, "the settings");

    auto set = std::make_shared<SettingsOptions>();
    cmd = settings->add_subcommand(
        "set", "change a device's network settings: address, mask, gateway, service ports");
    declareDeviceCommand(*cmd, chosen, set, DeviceAccess::Write, true, runSet);
    addAddressOptions(*cmd, set->address, true);
    for (const ServiceKind kind : kServices)
        cmd->add_option(optionName(kind), set->ports[kind],
                        "the " + std::string(ServiceName(kind)) + " port, or off")
            ->type_name("PORT|off")
            ->check(ServicePortCheck());
    cmd->add_flag("--yes", set->yes, "go on when the new address is already in use");

    auto setIp = std::make_shared<SettingsOptions>();
    cmd = settings->add_subcommand("set-ip", "change a device's address alone");
    declareDeviceCommand(*cmd, chosen, setIp, DeviceAccess::Write, false, runSetIp);
    addAddressOptions(*cmd, setIp->address, false);
    cmd->add_flag("--yes", setIp->yes, "go on when the new address is already in use");

    DeclareSettingsApply(*settings, chosen);
}

} // namespace korvane::cli
