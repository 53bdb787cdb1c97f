// korvane firmware upgrade IMAGE (DEVICE... | --all): new firmware, eight units at a time.

#include "app/environment.hpp"
#include "cli/cli_operator.hpp"
#include "cli/command.hpp"
#include "cli/device_command.hpp"
#include "cli/firmware_console.hpp"
#include "cli/json_output.hpp"
#include "cli/options.hpp"
#include "cli/password_book.hpp"
#include "cli/resolver.hpp"
#include "firmware/upgrade.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <istream>
#include <map>
#include <mutex>
#include <ostream>
#include <thread>

namespace korvane::cli {

namespace {

struct FirmwareOptions {
    std::string image;
    std::vector<std::string> devices;
    bool all = false;
    std::string pacing = "shared";
    std::string onBlockFailure;
    std::string passwordFile;
    ConsoleOptions console;
};

constexpr const char* kGentleStopLine =
    "Stopping: the units in transfer finish their image, no other unit starts "
    "(interrupt again to abort at once)";
constexpr const char* kAbortLine = "Aborting: the units in transfer are cut where they are";

// A unit stopped after some of its image went out.
bool cutMidTransfer(const UnitOutcome& outcome) {
    return outcome.failure == UnitFailure::Stopped && outcome.blocksAccepted > 0;
}

// Why a unit failed, for its row; a unit cut mid-transfer with its block.
std::string failureText(const UnitOutcome& outcome, std::uint64_t imageLength) {
    if (!cutMidTransfer(outcome))
        return UnitFailureText(outcome.failure);
    const std::uint64_t blocks = (imageLength + kFirmwareBlockSize - 1) / kFirmwareBlockSize;
    return "stopped after " + std::to_string(outcome.blocksAccepted) + " of " +
           std::to_string(blocks) + " blocks";
}

int runUpgrade(Invocation& inv, FirmwareOptions& o) {
    const std::string& image = o.image;
    ConsoleOptions& options = o.console;
    const CommandPacing pacing =
        o.pacing == "per-device" ? CommandPacing::PerDevice : CommandPacing::Shared;
    if (!o.onBlockFailure.empty())
        options.onBlockFailure = ParseBlockFailureChoice(o.onBlockFailure);
    std::string error;
    // The image is judged before anything is searched.
    const ImageFileCheck imageCheck = CheckImageFile(image);
    switch (imageCheck.verdict) {
    case ImageFileVerdict::CannotOpen:
    case ImageFileVerdict::Empty:
        return inv.usageError(image + ": not a readable, non-empty file");
    case ImageFileVerdict::TooLarge:
        return inv.usageError(image + ": " + ImageRefusalText(imageCheck));
    case ImageFileVerdict::Short:
        if (!options.allowShortImage) {
            inv.error() << image << ": " << WithoutQuestion(ImageRefusalText(imageCheck)) << "\n";
            return inv.usageError("refused: --allow-short-image is needed to send it");
        }
        break;
    case ImageFileVerdict::Usable:
        break;
    }
    PasswordBook passwords;
    if (!o.passwordFile.empty()) {
        if (!ReadPasswordBook(o.passwordFile, passwords, error))
            return inv.usageError(error);
        options.passwordSource = "--password-file";
    } else if (const char* fromEnvironment = std::getenv(kPasswordEnvironment)) {
        passwords.common = fromEnvironment;
        options.passwordSource = kPasswordEnvironment;
    }

    Resolution found = ResolveDevices(inv.env, o.devices, o.all);
    if (found.status != kExitOk) {
        inv.error() << found.error << "\n";
        return found.status;
    }
    Context& ctx = inv.env.context();
    std::vector<DeviceIdentity> chosen = std::move(found.devices);
    for (DeviceIdentity& record : chosen)
        if (const auto password = passwords.forUnit(record))
            record.setRememberedPassword(*password);

    // One link serves one adapter at a time: the units of each adapter form
    // a run of their own, one after another.
    std::map<int, std::vector<DeviceIdentity*>> byAdapter;
    for (DeviceIdentity& record : chosen)
        byAdapter[AdapterForDevice(record.adapterIndex(), ctx.adapterCount())].push_back(&record);

    FirmwareConsole console(inv.io, inv.name, options, imageCheck.length);
    std::vector<UnitOutcome> outcomes;
    UnitResultMap results;
    std::uint64_t foreignNotices = 0;

    // Interrupts: the first lets the units in transfer finish their image
    // and starts no other; the second aborts at once (the units cut
    // mid-transfer are named below); a third ends the process.
    std::mutex interruptMutex;
    FirmwareUpgrade* running = nullptr;
    int interrupts = 0;
    const auto applyInterrupts = [&](FirmwareUpgrade& session) {
        if (interrupts >= 1)
            session.requestStopStarting();
        if (interrupts >= 2)
            session.requestStop();
    };
    if (inv.io.interrupt)
        inv.io.interrupt->setHandler([&](int count) {
            std::lock_guard lock(interruptMutex);
            interrupts = count;
            if (running == nullptr)
                return;
            applyInterrupts(*running);
            running->setStatusLine(count == 1 ? kGentleStopLine : kAbortLine);
        });
    const auto unitsEndedAs = [&](const std::vector<DeviceIdentity*>& units, UnitFailure failure) {
        for (DeviceIdentity* unit : units) {
            UnitOutcome outcome;
            outcome.mac = unit->mac();
            outcome.key = UnitKey(outcome.mac);
            outcome.failure = failure;
            outcomes.push_back(outcome);
            results[outcome.key] = 0;
        }
    };
    for (auto& [adapter, units] : byAdapter) {
        {
            std::lock_guard lock(interruptMutex);
            if (interrupts > 0) {
                unitsEndedAs(units, UnitFailure::StoppedBeforeStart);
                continue;
            }
        }
        if (!ctx.useAdapterOf(adapter)) {
            unitsEndedAs(units, UnitFailure::NotStarted);
            continue;
        }
        FirmwareUpgrade session(ctx, console, units, UnitPasswordGate(ctx, console));
        session.setPacing(pacing);
        console.beginRun(&session, units);
        {
            std::lock_guard lock(interruptMutex);
            running = &session;
            applyInterrupts(session);
        }
        const auto summary = session.downloadAllUnits([&] { return image; });
        {
            std::lock_guard lock(interruptMutex);
            running = nullptr;
        }
        console.endRun();
        if (!summary)
            continue;
        outcomes.insert(outcomes.end(), summary->outcomes.begin(), summary->outcomes.end());
        foreignNotices += summary->foreignNotices;
    }
    if (inv.io.interrupt)
        inv.io.interrupt->clearHandler();
    int interrupted = 0;
    {
        std::lock_guard lock(interruptMutex);
        interrupted = interrupts;
    }
    std::map<std::string, const UnitOutcome*> unitOutcome;
    for (const auto& outcome : outcomes) {
        unitOutcome[outcome.key] = &outcome;
        results[outcome.key] = outcome.success ? 1 : 0;
    }
    console.finish();

    int failures = 0;
    for (const auto& outcome : outcomes)
        failures += outcome.success ? 0 : 1;
    const int units = static_cast<int>(outcomes.size());
    char summaryLine[96];
    std::snprintf(summaryLine, sizeof summaryLine, firmware_text::kSummaryFormat, units - failures,
                  failures);

    if (options.json) {
        Json rows = Json::array();
        for (const auto& outcome : outcomes) {
            rows.push_back({{"device", outcome.key},
                            {"mac", outcome.mac.toString()},
                            {"success", outcome.success},
                            {"failure", UnitFailureName(outcome.failure)},
                            {"status", outcome.success ? firmware_text::kDownloadSuccessfully
                                                       : firmware_text::kDownloadFailed},
                            {"image_length", static_cast<std::int64_t>(outcome.imageLength)},
                            {"blocks", static_cast<std::int64_t>(outcome.blocksAccepted)},
                            {"factory_block_patched", outcome.factoryBlockPatched}});
        }
        PrintJson(inv.io.out, {{"units", rows},
                               {"successes", units - failures},
                               {"failures", failures},
                               {"summary", std::string(summaryLine)},
                               {"foreign_notices", foreignNotices}});
    } else {
        inv.io.out << "\nDevice      Download Status\n";
        for (const auto& [key, flag] : results) {
            std::string column = key;
            column.resize(std::max<std::size_t>(column.size() + 2, 12), ' ');
            const auto unit = unitOutcome.find(key);
            inv.io.out << column
                       << (flag == 1 ? firmware_text::kDownloadSuccessfully
                                     : firmware_text::kDownloadFailed);
            if (unit != unitOutcome.end() && !unit->second->success)
                inv.io.out << " (" << failureText(*unit->second, imageCheck.length) << ")";
            inv.io.out << "\n";
        }
        inv.io.out << summaryLine << "\n";
        if (foreignNotices > 0)
            inv.io.out << ForeignNoticesText(foreignNotices) << "\n";
    }
    // A unit cut in the middle of its image is the one thing to act on.
    for (const auto& outcome : outcomes)
        if (cutMidTransfer(outcome))
            inv.error() << outcome.key << " was cut mid-transfer, "
                        << failureText(outcome, imageCheck.length)
                        << ": its image is incomplete; upgrade it again\n";
    if (interrupted > 0)
        return kExitInterrupted;
    return failures == 0 ? kExitOk : kExitFailure;
}

} // namespace

void DeclareFirmware(CLI::App& app, Chosen& chosen) {
    CLI::App* firmware = app.add_subcommand("firmware", "new firmware for the devices");
    firmware->require_subcommand(1);
    auto o = std::make_shared<FirmwareOptions>();
    CLI::App* cmd = firmware->add_subcommand(
        "upgrade",
        "send IMAGE to the devices named (or to every device found with --all), eight units at a "
        "time.\nCtrl-C (or SIGTERM) stops gently: the units in transfer finish their image, no "
        "other unit starts, the summary names each unit's outcome, and the exit status is 130. A "
        "second Ctrl-C aborts at once and names the units cut mid-transfer, with their block.\n"
        "An image for the emulated devices (--simulate, korvane-devsim): 65536 bytes with the "
        "boot identification word '12x3' (boot version 1.2, compatibility code 3) at offset "
        "0xFFE4, e.g. head -c 65536 /dev/zero > fw.bin; printf 12x3 | dd of=fw.bin bs=1 "
        "seek=65508 conv=notrunc");
    cmd->add_option("IMAGE", o->image, "the firmware image file")
        ->required()
        ->type_name("IMAGE")
        ->check(ReadableFileCheck());
    CLI::Option* devices = AddDevices(*cmd, o->devices);
    cmd->add_flag("--all", o->all, "every device that answers")->excludes(devices);
    cmd->add_flag("--yes", o->console.yes, "answer Yes to the general questions");
    cmd->add_flag("--allow-short-image", o->console.allowShortImage,
                  "send a file shorter than a firmware image of these devices");
    cmd->add_flag("--allow-older-boot", o->console.allowOlderBoot,
                  "go on where the image's boot version is older than the device's");
    cmd->add_option("--on-block-failure", o->onBlockFailure,
                    "the answer when a unit refuses a block (given at most 3 times per unit)")
        ->check(CLI::IsMember({"abort", "retry", "ignore"}));
    cmd->add_option("--password-file", o->passwordFile,
                    "the passwords: one line with the password of every unit, or lines "
                    "\"DEVICE PASSWORD\" (else KORVANE_PASSWORD, else a prompt on a terminal)")
        ->type_name("FILE")
        ->check(ReadableFileCheck());
    AddJsonFlag(*cmd, o->console.json, "each unit's outcome");
    cmd->add_option("--pacing", o->pacing,
                    "devices need 4 ms between the commands they receive: 'shared' (the "
                    "default, the conservative choice) keeps 4 ms between any two commands "
                    "of the run, so eight units take eight times as long as one; "
                    "'per-device' keeps it between each unit's own commands and lets the "
                    "units send side by side, much faster for many units")
        ->check(CLI::IsMember({"shared", "per-device"}));
    OnChosen(*cmd, chosen, [o](Invocation& inv) { return runUpgrade(inv, *o); });
    // DEVICE... or --all: one of the two (--all excludes DEVICE above).
    cmd->parse_complete_callback([o] {
        if (o->devices.empty() && !o->all)
            throw CLI::RequiredError("DEVICE or --all");
    });
}

} // namespace korvane::cli
