// korvane settings apply PLAN: the network settings of many devices from one
// file. Everything is checked before anything is written; then the devices
// are written one after another with the Network Settings flow (the password
// gate, the same block, the same pacing), each result printed as it comes.

#include "app/environment.hpp"
#include "base/file_head.hpp"
#include "cli/cli_operator.hpp"
#include "cli/command.hpp"
#include "cli/json_output.hpp"
#include "cli/options.hpp"
#include "cli/password_book.hpp"
#include "cli/resolver.hpp"
#include "config/arp_probe.hpp"
#include "config/blocks.hpp"
#include "config/config_commands.hpp"
#include "config/settings_plan.hpp"
#include "protocol/frame.hpp"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <memory>
#include <ostream>

namespace korvane::cli {

namespace {

// A plan for every device one discovery can list fits in far less.
constexpr std::size_t kPlanLimit = 4 * 1024 * 1024;

struct ApplyOptions {
    std::string plan;
    bool dryRun = false;
    bool json = false;
    std::string passwordBook;
};

// The Operator of one device's write: the password comes from the book (or
// KORVANE_PASSWORD, or a prompt at a terminal), and what the flow would show
// in a message box becomes that device's result rather than a line of its own.
class DeviceWriteOperator : public Operator {
  public:
    DeviceWriteOperator(Streams io, std::string prefix, std::optional<std::string> password,
                        const MacAddress& device)
        : io_(io), prefix_(std::move(prefix)), password_(std::move(password)), device_(device) {}

    std::optional<std::string> askPassword(const std::string& /*label*/,
                                           const std::string& /*preset*/) override {
        if (password_)
            return password_;
        if (!io_.interactive) {
            messages_.push_back("the device has a password: give it with --password-book FILE "
                                "or the environment variable " +
                                std::string(kPasswordEnvironment));
            return std::nullopt;
        }
        CliOperator prompt(io_, prefix_, {});
        return prompt.askPassword(UnitPasswordLabel(device_), {});
    }
    // The address question is answered by the plan's check before any write.
    Answer ask(const Question& question) override { return YesNoAnswer(question.buttons, false); }
    void showMessage(const std::string& text, MessageIcon /*icon*/) override {
        messages_.push_back(text);
    }

    std::string messages() const {
        std::string text;
        for (const auto& m : messages_)
            text += (text.empty() ? "" : "; ") + m;
        return text;
    }

  private:
    Streams io_;
    std::string prefix_;
    std::optional<std::string> password_;
    MacAddress device_;
    std::vector<std::string> messages_;
};

enum class Outcome { Written, Unchanged, Failed, NotStarted, WouldWrite };

const char* outcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::Written:
        return "written";
    case Outcome::Unchanged:
        return "unchanged";
    case Outcome::Failed:
        return "failed";
    case Outcome::NotStarted:
        return "not started";
    case Outcome::WouldWrite:
        break;
    }
    return "would write";
}

// "not started" as a JSON value: "not_started".
std::string jsonName(std::string text) {
    std::replace(text.begin(), text.end(), ' ', '_');
    return text;
}

std::string changesText(const std::vector<SettingChange>& changes) {
    std::string text;
    for (const SettingChange& c : changes)
        text += (text.empty() ? "" : ", ") + c.setting + " " + c.from + " -> " + c.to;
    return text;
}

struct DeviceResult {
    Outcome outcome = Outcome::Unchanged;
    std::string reason; // why it failed
};

// One device's line, as it comes: "2801795073 (02-19-A7-00-00-01)  written  ip ... -> ...".
void printResult(Invocation& inv, const PlannedDevice& d, const DeviceResult& result, bool json) {
    const auto changes = PlannedChanges(d.model);
    if (json) {
        Json list = Json::array();
        for (const SettingChange& c : changes)
            list.push_back({{"setting", c.setting}, {"from", c.from}, {"to", c.to}});
        Json object = {{"row", d.row.row},
                       {"serial", std::to_string(d.device.serialNumber())},
                       {"mac", d.device.mac().toString()},
                       {"result", jsonName(outcomeName(result.outcome))},
                       {"changes", list}};
        if (!result.reason.empty())
            object["error"] = JsonText(result.reason);
        PrintJson(inv.io.out, object, JsonLayout::OneLine);
    } else {
        std::string state = outcomeName(result.outcome);
        state.resize(std::max<std::size_t>(state.size(), 11), ' ');
        inv.io.out << DeviceName(d.device.mac()) << "  " << state;
        if (!result.reason.empty())
            inv.io.out << "  " << result.reason;
        else if (!changes.empty())
            inv.io.out << "  " << changesText(changes);
        inv.io.out << "\n";
    }
    inv.io.out.flush();
}

// Why a device's write failed, from the flow's result and its messages.
std::string failureReason(const NetworkSettingsResult& r, const DeviceWriteOperator& op,
                          bool stopped) {
    if (stopped)
        return "stopped (interrupted)";
    const std::string shown = op.messages();
    switch (r.end) {
    case ConfigEnd::NoReply:
        return std::string(text::kNoRespond) + " (the settings read was not answered)";
    case ConfigEnd::Cancelled:
        if (r.lastRefusal == SheetRefusal::GateNoReply)
            return std::string(text::kNoRespond) + " (the password check was not answered)";
        return shown.empty() ? std::string("not written") : shown;
    default:
        break;
    }
    if (r.settingsStatus == status::kNoReply)
        return std::string(text::kNoRespond) + " (the settings write was not answered)";
    if (r.settingsStatus == status::kPasswordRefused)
        return std::string(text::kIncorrectPassword);
    return "the device did not accept the settings (status " + std::to_string(r.settingsStatus) +
           ")";
}

DeviceResult writeDevice(Invocation& inv, const PlannedDevice& d,
                         const std::optional<std::string>& password, StopToken& stop) {
    DeviceWriteOperator op(inv.io, inv.name, password, d.device.mac());
    NetworkSettingsHooks hooks;
    // The sheet is "shown" once, with the row's changes; a refused OK ends the device.
    hooks.edit = [&](NetworkSettingsModel& m, SheetRefusal previous) {
        return previous == SheetRefusal::None && !ApplySettingsEdits(d.edits, m);
    };
    // Every new address was probed by the check, with the plan's own
    // give-ups allowed: asking again would find the device that gives it up
    // still holding it when it comes later in the order.
    hooks.addressInUse = [](std::uint32_t) { return false; };
    const NetworkSettingsResult r =
        RunNetworkSettings(inv.env.context(), d.device, op, hooks, &stop);
    if (r.end == ConfigEnd::NothingToWrite)
        return {Outcome::Unchanged, {}}; // it came to be as planned meanwhile
    if (r.end == ConfigEnd::Written && r.settingsWritten && r.settingsStatus == status::kDone)
        return {Outcome::Written, {}};
    return {Outcome::Failed, failureReason(r, op, stop.stopRequested())};
}

int printErrors(Invocation& inv, const std::vector<PlanError>& errors, bool json) {
    for (const PlanError& e : errors)
        inv.error() << e.text() << "\n";
    inv.error() << errors.size() << (errors.size() == 1 ? " error" : " errors")
                << " in the plan: nothing was written\n";
    if (json) {
        Json list = Json::array();
        for (const PlanError& e : errors) {
            Json object = {{"row", e.row}};
            if (e.line > 0)
                object["line"] = e.line;
            object["device"] = JsonText(e.device);
            object["message"] = JsonText(e.message);
            list.push_back(object);
        }
        PrintJson(inv.io.out, {{"errors", list}, {"written", 0}}, JsonLayout::OneLine);
    }
    return kExitUsage;
}

int runApply(Invocation& inv, const ApplyOptions& o) {
    // The files first: an unfit one ends the command before any frame.
    std::string content, error;
    if (!ReadFileHead(o.plan, kPlanLimit, content, error, "plan"))
        return inv.usageError(error);
    if (content.size() > kPlanLimit)
        return inv.usageError("the plan '" + o.plan + "' is longer than " +
                              std::to_string(kPlanLimit / (1024 * 1024)) + " MiB");
    std::vector<PlanError> errors;
    const auto rows = ParseSettingsPlan(content, errors);
    if (!rows)
        return printErrors(inv, errors, o.json);
    PasswordBook passwords;
    if (!o.passwordBook.empty()) {
        if (!ReadPasswordBook(o.passwordBook, passwords, error))
            return inv.usageError(error);
    } else if (const char* fromEnvironment = std::getenv(kPasswordEnvironment)) {
        passwords.common = fromEnvironment;
    }

    // Interrupts: while the plan is checked, the first ends the command with
    // nothing written. While devices are written, the first lets the device
    // in progress finish and starts no other; the second stops that one too.
    Context& ctx = inv.env.context();
    StopToken stop;
    stop.wakeAlso(ctx.link.arrivals());
    std::atomic<int> interrupts{0};
    std::atomic<bool> writing{false};
    if (inv.io.interrupt)
        inv.io.interrupt->setHandler([&](int count) {
            interrupts.store(count);
            if (!writing.load() || count >= 2)
                stop.requestStop();
        });
    struct Cleanup {
        Invocation& inv;
        StopToken& stop;
        Context& ctx;
        ~Cleanup() {
            if (inv.io.interrupt)
                inv.io.interrupt->clearHandler();
            stop.forget(ctx.link.arrivals());
        }
    } cleanup{inv, stop, ctx};

    Resolution found = ResolveDevices(inv.env, {}, true);
    if (found.status == kExitNoAdapter) {
        inv.error() << found.error << "\n";
        return found.status;
    }
    const PlanCheck check = CheckSettingsPlan(
        *rows, found.devices,
        [&](const DeviceIdentity& device, SettingsBlock& block) {
            if (!ctx.useAdapterOf(device.adapterIndex(), &stop))
                return std::uint16_t{0};
            return ReadSettings(ctx, device.mac(), "", block, &stop);
        },
        [&](const DeviceIdentity& device, std::uint32_t address) {
            return ctx.useAdapterOf(device.adapterIndex(), &stop) &&
                   ProbeAddressInUse(ctx, address, &stop);
        });
    if (interrupts.load() > 0) {
        inv.error() << "interrupted while the plan was checked: nothing was written\n";
        return kExitInterrupted;
    }
    if (!check.errors.empty())
        return printErrors(inv, check.errors, o.json);

    if (o.dryRun) {
        int changing = 0;
        for (const PlannedDevice& d : check.devices) {
            changing += d.changes() ? 1 : 0;
            printResult(inv, d, {d.changes() ? Outcome::WouldWrite : Outcome::Unchanged, {}},
                        o.json);
        }
        if (o.json)
            PrintJson(inv.io.out,
                      {{"summary",
                        {{"dry_run", true},
                         {"would_write", changing},
                         {"unchanged", static_cast<int>(check.devices.size()) - changing}}}},
                      JsonLayout::OneLine);
        else
            inv.io.out << check.devices.size() << " devices: " << changing << " would be written, "
                       << check.devices.size() - static_cast<std::size_t>(changing)
                       << " unchanged; nothing was written (--dry-run)\n";
        return kExitOk;
    }

    writing.store(true);
    int written = 0, unchanged = 0, notStarted = 0;
    std::vector<std::string> failed;
    // The addresses that devices of the plan were to give up but still hold,
    // because they were not written: a device planned to take one stays as it is.
    std::map<std::uint32_t, std::string> stillHeld;
    for (const PlannedDevice& d : check.devices) {
        const IpAddressPageModel& page = d.model.ipPage;
        const bool takesAddress =
            page.mode == AddressMode::Static && page.ipAddress != d.model.original.ipAddress;
        const auto holder = takesAddress ? stillHeld.find(page.ipAddress) : stillHeld.end();
        DeviceResult result;
        if (!d.changes())
            result = {Outcome::Unchanged, {}};
        else if (interrupts.load() > 0)
            result = {Outcome::NotStarted, {}};
        else if (holder != stillHeld.end())
            result = {Outcome::Failed, "not written: its new address " +
                                           FormatIPv4(page.ipAddress) + " is still held by " +
                                           holder->second + ", which was not written"};
        else
            result = writeDevice(inv, d, passwords.forUnit(d.device), stop);
        if (result.outcome != Outcome::Written && result.outcome != Outcome::Unchanged &&
            takesAddress)
            stillHeld.emplace(d.model.original.ipAddress, DeviceName(d.device.mac()));
        switch (result.outcome) {
        case Outcome::Written:
            ++written;
            break;
        case Outcome::Unchanged:
            ++unchanged;
            break;
        case Outcome::NotStarted:
            ++notStarted;
            break;
        default:
            failed.push_back(DeviceName(d.device.mac()));
            break;
        }
        printResult(inv, d, result, o.json);
    }
    const bool interrupted = interrupts.load() > 0;

    if (o.json) {
        Json failedList = Json::array();
        for (const auto& name : failed)
            failedList.push_back(name);
        PrintJson(inv.io.out,
                  {{"summary",
                    {{"written", written},
                     {"unchanged", unchanged},
                     {"failed", static_cast<int>(failed.size())},
                     {"not_started", notStarted},
                     {"failed_devices", failedList},
                     {"interrupted", interrupted}}}},
                  JsonLayout::OneLine);
    } else {
        inv.io.out << check.devices.size() << " devices: " << written << " written, " << unchanged
                   << " unchanged, " << failed.size() << " failed";
        if (notStarted > 0)
            inv.io.out << ", " << notStarted << " not started (interrupted)";
        inv.io.out << "\n";
    }
    if (!failed.empty()) {
        std::string names;
        for (const auto& name : failed)
            names += (names.empty() ? "" : ", ") + name;
        inv.error() << "not written to " << names << "\n";
    }
    if (interrupted)
        return kExitInterrupted;
    return failed.empty() ? kExitOk : kExitFailure;
}

} // namespace

void DeclareSettingsApply(CLI::App& settings, Chosen& chosen) {
    auto o = std::make_shared<ApplyOptions>();
    CLI::App* cmd = settings.add_subcommand(
        "apply",
        "change the network settings of many devices from a plan file (CSV or JSON, see "
        "docs/command-line.md): every row is checked first, against the devices on the segment "
        "and the rules of the Network Settings sheet, and nothing is written when one is wrong "
        "(exit status 2). Then the devices are written one after another; a device already as "
        "planned is not written.\nCtrl-C (or SIGTERM) stops gently: the device in progress "
        "finishes, no other starts, and the exit status is 130.");
    cmd->add_option("PLAN", o->plan, "the plan file")
        ->required()
        ->type_name("PLAN")
        ->check(ReadableFileCheck());
    cmd->add_flag("--dry-run", o->dryRun,
                  "check the plan and print what would change on each device (current -> new), "
                  "writing nothing");
    cmd->add_option("--password-book", o->passwordBook,
                    "the devices' passwords: one line with the password of every device, or "
                    "lines \"DEVICE PASSWORD\" (else KORVANE_PASSWORD, else a prompt on a "
                    "terminal)")
        ->type_name("FILE")
        ->check(ReadableFileCheck());
    AddJsonFlag(*cmd, o->json,
                "one object per device as it is done, then a summary (one per line)");
    OnChosen(*cmd, chosen, [o](Invocation& inv) { return runApply(inv, *o); });
}

} // namespace korvane::cli
