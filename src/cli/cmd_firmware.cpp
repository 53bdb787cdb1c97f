// firmware upgrade IMAGE (DEVICE... | --all)

#include "cli/cli_operator.hpp"
#include "cli/commands.hpp"
#include "cli/device_lookup.hpp"
#include "cli/json.hpp"
#include "firmware/upgrade.hpp"
#include "protocol/discovery.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <istream>
#include <map>
#include <mutex>
#include <ostream>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace korvane::cli {

namespace {

constexpr const char* kName = "korvane firmware";
constexpr const char* kUsage =
    "usage: korvane firmware upgrade IMAGE (DEVICE... | --all) [--allow-older-boot]\n"
    "           [--allow-short-image] [--on-block-failure abort|retry|ignore]\n"
    "           [--password-file F] [--json] [--pacing shared|per-device]\n"
    "  --allow-short-image sends a file shorter than a firmware image of these devices;\n"
    "  --allow-older-boot goes on where the image's boot version is older than the device's.\n"
    "  DEVICE is a serial number or a MAC address. Passwords come from --password-file\n"
    "  (one line with the password, or lines \"DEVICE PASSWORD\"), else from\n"
    "  KORVANE_PASSWORD, else from a prompt on the terminal.\n"
    "  --pacing: devices need 4 ms between the commands they receive. 'shared' (the\n"
    "  default, the conservative choice) keeps 4 ms between any two commands of the\n"
    "  run, so eight units take eight times as long as one; 'per-device' keeps the\n"
    "  4 ms between each unit's own commands and lets the units send side by side,\n"
    "  which is much faster for many units.\n";

// An automatic answer to a refused block is given at most this many times per
// unit, so that an unattended run cannot retry a dead device for ever.
constexpr int kMaxAutomaticBlockAnswers = 3;
// The live display redraws at most this often (it is not a protocol wait).
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr int kBarWidth = 24;

bool matches(const DeviceSelector& selector, const DeviceIdentity& record) {
    return selector.mac ? *selector.mac == record.mac() : selector.serial == record.serialNumber();
}

// Passwords given ahead of the run: one for every unit, and per device.
struct PasswordBook {
    std::optional<std::string> common;
    std::vector<std::pair<DeviceSelector, std::string>> perDevice;

    std::optional<std::string> forUnit(const DeviceIdentity& record) const {
        for (const auto& [device, password] : perDevice)
            if (matches(device, record))
                return password;
        return common;
    }
};

// The configuration commands' password file is one line with the password;
// here it may also hold lines "DEVICE PASSWORD" for units whose passwords
// differ. Device passwords contain no blanks, so a line splits into at most
// two words.
bool readPasswordFile(const std::string& path, PasswordBook& book, std::string& error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = "the password file '" + path + "' is a folder";
        return false;
    }
    std::ifstream file(path);
    if (!file) {
        error = "cannot read the password file '" + path + "'";
        return false;
    }
    std::string line;
    int number = 0;
    while (std::getline(file, line)) {
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

// One discovery on each adapter; a device seen on two adapters is kept with
// the first that found it.
std::vector<DeviceIdentity> discoverAll(Context& ctx) {
    std::vector<DeviceIdentity> all;
    for (int a = 0; a < ctx.adapters.count(); ++a) {
        if (!ctx.openAdapter(a))
            continue;
        std::vector<DeviceIdentity> records(kDiscoveryCapacity);
        const int n = DiscoverDevices(ctx, records, a);
        for (int i = 0; i < n; ++i) {
            const DeviceIdentity& found = records[static_cast<std::size_t>(i)];
            if (std::none_of(all.begin(), all.end(),
                             [&](const DeviceIdentity& r) { return r.mac() == found.mac(); }))
                all.push_back(found);
        }
    }
    return all;
}

bool isTerminalOut(const std::ostream& out) {
    return &out == &std::cout && ::isatty(STDOUT_FILENO);
}

std::string bar(std::uint64_t done, std::uint64_t total) {
    const std::uint64_t percent = total == 0 ? 0 : std::min<std::uint64_t>(done * 100 / total, 100);
    const auto filled = static_cast<int>(percent * kBarWidth / 100);
    char tail[8];
    std::snprintf(tail, sizeof tail, " %3d%%", static_cast<int>(percent));
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(kBarWidth - filled), '-') + "]" + tail;
}

// The firmware command's Operator: answers questions from the flags or a
// prompt on the terminal, and shows the run either as a live display (one
// line per unit with its state and a bar, the status line, the overall bar)
// or, without a terminal, as plain lines when a unit's state changes.
struct ConsoleOptions {
    bool yes = false;
    std::optional<BlockFailureChoice> onBlockFailure;
    bool allowShortImage = false;
    bool allowOlderBoot = false;
    bool json = false;
    std::string passwordSource; // where the given passwords came from, for messages
};

// Passwords never come from here: each unit's given password is already its
// remembered password, and a prompt is for a device that refused it.
CliAnswers questionAnswers(const ConsoleOptions& options) {
    CliAnswers answers;
    answers.yes = options.yes;
    answers.onBlockFailure = options.onBlockFailure;
    answers.allowShortImage = options.allowShortImage;
    answers.allowOlderBoot = options.allowOlderBoot;
    return answers;
}

class FirmwareConsole : public Operator {
  public:
    using Options = ConsoleOptions;

    FirmwareConsole(Streams io, Options options, std::uint64_t imageLength)
        : io_(io), options_(options), imageLength_(imageLength),
          live_(!options.json && isTerminalOut(io.out)),
          questions_(io, kName, questionAnswers(options)) {}

    // The units of the run now starting, for the per-unit bars.
    void beginRun(const FirmwareUpgrade* session, const std::vector<DeviceIdentity*>& units) {
        std::lock_guard lock(mutex_);
        session_ = session;
        unitIndex_.clear();
        for (std::size_t k = 0; k < units.size(); ++k) {
            const std::string key = UnitKey(units[k]->mac());
            unitIndex_[key] = k;
            rowFor(key);
        }
    }
    void endRun() {
        std::lock_guard lock(mutex_);
        redraw(true);
        session_ = nullptr;
    }
    // Leaves the live display so that the end report follows below it.
    void finish() {
        std::lock_guard lock(mutex_);
        linesDrawn_ = 0;
    }

    // Questions go to the command line's Operator, one at a time: units ask
    // from their own threads. A unit's given password was tried before the
    // prompt (it is the record's remembered password), so a prompt means the
    // device wants another one.
    std::optional<std::string> askPassword(const std::string& label,
                                           const std::string& preset) override {
        Prompt prompt(*this);
        if (!preset.empty()) {
            // The preset is the password given for this unit, and the device
            // has just refused it: say so, rather than ask for a password.
            say(label + ": the password given by " + options_.passwordSource +
                " was refused by this device");
            if (!io_.interactive)
                return std::nullopt;
        }
        return questions_.askPassword(label, preset);
    }

    bool askYesNo(const std::string& text, MessageIcon icon) override {
        Prompt prompt(*this);
        return questions_.askYesNo(text, icon);
    }

    BlockFailureChoice askAbortRetryIgnore(const std::string& text) override {
        return blockFailure(text, std::nullopt);
    }

    Answer ask(const Question& question) override {
        if (question.topic == QuestionTopic::BlockFailure) {
            const auto unit =
                question.devices.empty() ? std::nullopt : std::optional(question.devices.front());
            switch (blockFailure(question.text, unit)) {
            case BlockFailureChoice::Retry:
                return Answer::Retry;
            case BlockFailureChoice::Ignore:
                return Answer::Ignore;
            case BlockFailureChoice::Abort:
                break;
            }
            return Answer::Abort;
        }
        Prompt prompt(*this);
        return questions_.ask(question);
    }

    void showMessage(const std::string& text, MessageIcon icon) override {
        say((icon == MessageIcon::Warning ? "warning: " : "") + text);
    }

    void setStatusLine(const std::string& text) override {
        std::lock_guard lock(mutex_);
        statusLine_ = text;
        redraw(false);
    }

    void setUnitStatus(const std::string& key, const std::string& text) override {
        std::lock_guard lock(mutex_);
        std::string& row = rowFor(key);
        if (row == text)
            return;
        row = text;
        if (!live_ && !options_.json && !text.empty())
            io_.out << key << "  " << text << "\n";
        redraw(true);
    }

    void setProgress(int percent) override {
        std::lock_guard lock(mutex_);
        if (!live_ && !options_.json && percent / 10 != progress_ / 10)
            io_.out << "progress " << percent << "%\n";
        progress_ = percent;
        redraw(false);
    }

  private:
    // The automatic answers are counted per unit, so that one dead device
    // cannot use up the others' answers, nor a later batch find them spent.
    BlockFailureChoice blockFailure(const std::string& text, std::optional<MacAddress> unit) {
        if (options_.onBlockFailure && *options_.onBlockFailure != BlockFailureChoice::Abort) {
            bool allowed = true;
            {
                std::lock_guard lock(mutex_);
                allowed =
                    automaticAnswers_[unit.value_or(MacAddress{})]++ < kMaxAutomaticBlockAnswers;
            }
            if (!allowed) {
                say(text + ": abort after " + std::to_string(kMaxAutomaticBlockAnswers) +
                    " automatic answers (--on-block-failure)");
                return BlockFailureChoice::Abort;
            }
        }
        Prompt prompt(*this);
        return questions_.askAbortRetryIgnore(text);
    }

    // While a person answers a prompt the other units go on; the display
    // stays still meanwhile so that it does not run through the prompt, and
    // prompts come one at a time.
    class Prompt {
      public:
        explicit Prompt(FirmwareConsole& console) : console_(console), turn_(console.promptMutex_) {
            std::lock_guard lock(console_.mutex_);
            console_.leaveDisplay();
            console_.prompting_ = true;
        }
        ~Prompt() {
            std::lock_guard lock(console_.mutex_);
            console_.prompting_ = false;
        }
        Prompt(const Prompt&) = delete;
        Prompt& operator=(const Prompt&) = delete;

      private:
        FirmwareConsole& console_;
        std::lock_guard<std::mutex> turn_;
    };

    void say(const std::string& line) {
        std::lock_guard lock(mutex_);
        leaveDisplay();
        io_.err << kName << ": " << line << "\n";
    }

    std::string& rowFor(const std::string& key) {
        auto it = std::find_if(rows_.begin(), rows_.end(),
                               [&](const auto& row) { return row.first == key; });
        if (it == rows_.end()) {
            rows_.emplace_back(key, std::string());
            return rows_.back().second;
        }
        return it->second;
    }

    // A prompt or message goes below the display, which starts afresh after it.
    void leaveDisplay() {
        if (live_)
            io_.out << std::flush;
        linesDrawn_ = 0;
    }

    void redraw(bool force) {
        if (!live_ || prompting_)
            return;
        const auto now = SteadyClock::now();
        if (!force && now - lastDraw_ < kRedrawInterval)
            return;
        lastDraw_ = now;
        std::string screen;
        if (linesDrawn_ > 0)
            screen += "\x1b[" + std::to_string(linesDrawn_) + "A";
        int lines = 0;
        auto line = [&](const std::string& text) {
            screen += "\r\x1b[2K" + text + "\n";
            ++lines;
        };
        for (const auto& [key, text] : rows_) {
            std::string row = key;
            row.resize(std::max<std::size_t>(row.size(), 12), ' ');
            std::string state = text;
            state.resize(std::max<std::size_t>(state.size(), 24), ' ');
            row += state;
            const auto unit = unitIndex_.find(key);
            if (session_ && unit != unitIndex_.end())
                row += bar(session_->unitBytesDone(unit->second), imageLength_);
            line(row);
        }
        line(statusLine_);
        std::string overall = "all units";
        overall.resize(36, ' ');
        line(overall + bar(static_cast<std::uint64_t>(progress_), 100));
        io_.out << screen << std::flush;
        linesDrawn_ = lines;
    }

    Streams io_;
    Options options_;
    std::uint64_t imageLength_;
    bool live_;
    std::mutex mutex_;       // the display state and every line written
    std::mutex promptMutex_; // one prompt at a time; taken before mutex_
    bool prompting_ = false;
    const FirmwareUpgrade* session_ = nullptr;
    std::map<std::string, std::size_t> unitIndex_;
    std::vector<std::pair<std::string, std::string>> rows_;
    std::string statusLine_;
    int progress_ = 0;
    int linesDrawn_ = 0;
    SteadyClock::time_point lastDraw_{};
    std::map<MacAddress, int> automaticAnswers_;
    CliOperator questions_; // only under promptMutex_
};

// The value of --pacing; nullopt for anything else.
std::optional<CommandPacing> ParsePacing(const std::string& text) {
    if (text == "shared")
        return CommandPacing::Shared;
    if (text == "per-device")
        return CommandPacing::PerDevice;
    return std::nullopt;
}

int usageError(Invocation& inv, const std::string& message) {
    inv.io.err << kName << ": " << message << "\n" << kUsage;
    return kExitUsage;
}

} // namespace

int CmdFirmware(Invocation& inv) {
    if (inv.args.flag("--help")) {
        inv.io.out << kUsage;
        return kExitOk;
    }
    const auto pacingText = inv.args.option("--pacing");
    const auto pacing = ParsePacing(pacingText.value_or("shared"));
    if (!pacing)
        return usageError(inv, "--pacing takes shared or per-device");
    FirmwareConsole::Options options;
    options.json = inv.args.flag("--json");
    options.yes = inv.args.flag("--yes");
    options.allowShortImage = inv.args.flag("--allow-short-image");
    options.allowOlderBoot = inv.args.flag("--allow-older-boot");
    const bool all = inv.args.flag("--all");
    const auto choice = inv.args.option("--on-block-failure");
    const auto passwordFile = inv.args.option("--password-file");
    std::string error;
    auto positionals = inv.args.positionals(error);
    if (!error.empty())
        return usageError(inv, error);
    if (positionals.empty() || positionals[0] != "upgrade")
        return usageError(inv, positionals.empty() ? "missing subcommand"
                                                   : "unknown subcommand '" + positionals[0] + "'");
    if (positionals.size() < 2)
        return usageError(inv, "missing IMAGE");
    const std::string image = positionals[1];
    const std::vector<std::string> devices(positionals.begin() + 2, positionals.end());
    for (const std::string& device : devices)
        if (!ParseDeviceSelector(device))
            return usageError(inv, "'" + device +
                                       "' is neither a serial number nor a MAC address (like "
                                       "02-19-A7-00-01-23)");
    if (all == !devices.empty())
        return usageError(inv, all ? "give DEVICEs or --all, not both" : "give DEVICEs or --all");
    if (choice) {
        options.onBlockFailure = ParseBlockFailureChoice(*choice);
        if (!options.onBlockFailure)
            return usageError(inv, "--on-block-failure takes abort, retry or ignore");
    }
    // The image is judged before anything is searched.
    const ImageFileCheck imageCheck = CheckImageFile(image);
    switch (imageCheck.verdict) {
    case ImageFileVerdict::CannotOpen:
    case ImageFileVerdict::Empty:
        inv.io.err << kName << ": " << image << ": not a readable, non-empty file\n";
        return kExitUsage;
    case ImageFileVerdict::TooLarge:
        inv.io.err << kName << ": " << image << ": " << ImageRefusalText(imageCheck) << "\n";
        return kExitUsage;
    case ImageFileVerdict::Short:
        if (!options.allowShortImage) {
            inv.io.err << kName << ": " << image << ": " << ImageRefusalText(imageCheck) << "\n"
                       << kName << ": refused: --allow-short-image is needed to send it\n";
            return kExitUsage;
        }
        break;
    case ImageFileVerdict::Usable:
        break;
    }
    PasswordBook passwords;
    if (passwordFile) {
        if (!readPasswordFile(*passwordFile, passwords, error)) {
            inv.io.err << kName << ": " << error << "\n";
            return kExitUsage;
        }
        options.passwordSource = "--password-file";
    } else if (const char* fromEnvironment = std::getenv(kPasswordEnvironment)) {
        passwords.common = fromEnvironment;
        options.passwordSource = kPasswordEnvironment;
    }

    Context& ctx = inv.env.context();
    std::vector<DeviceIdentity> found = discoverAll(ctx);
    std::vector<DeviceIdentity> chosen;
    if (all) {
        chosen = found;
    } else {
        for (const std::string& device : devices) {
            const auto selector = ParseDeviceSelector(device);
            auto it = std::find_if(found.begin(), found.end(), [&](const DeviceIdentity& r) {
                return selector && matches(*selector, r);
            });
            if (it == found.end()) {
                inv.io.err << kName << ": no device " << device << " found\n";
                return kExitFailure;
            }
            if (std::none_of(chosen.begin(), chosen.end(),
                             [&](const DeviceIdentity& r) { return r.mac() == it->mac(); }))
                chosen.push_back(*it);
        }
    }
    if (chosen.empty()) {
        inv.io.err << kName << ": No device found\n";
        return kExitFailure;
    }
    for (DeviceIdentity& record : chosen)
        if (const auto password = passwords.forUnit(record))
            record.setRememberedPassword(*password);

    // One link serves one adapter at a time: the units of each adapter form
    // a run of their own, one after another.
    std::map<int, std::vector<DeviceIdentity*>> byAdapter;
    for (DeviceIdentity& record : chosen)
        byAdapter[AdapterForDevice(record.adapterIndex())].push_back(&record);

    FirmwareConsole console(inv.io, options, imageCheck.length);
    std::vector<UnitOutcome> outcomes;
    UnitResultMap results;
    for (auto& [adapter, units] : byAdapter) {
        if (!ctx.useAdapterOf(adapter)) {
            for (DeviceIdentity* unit : units) {
                UnitOutcome outcome;
                outcome.mac = unit->mac();
                outcome.key = UnitKey(outcome.mac);
                outcome.failure = UnitFailure::NotStarted;
                outcomes.push_back(outcome);
                results[outcome.key] = 0;
            }
            continue;
        }
        FirmwareUpgrade session(ctx, console, units, UnitPasswordGate(ctx, console));
        session.setPacing(*pacing);
        console.beginRun(&session, units);
        const auto summary = session.DownloadAllUnits([&] { return image; });
        console.endRun();
        if (!summary)
            continue;
        outcomes.insert(outcomes.end(), summary->outcomes.begin(), summary->outcomes.end());
        // Rows of devices that are no unit (a notice seen from them) stay
        // in the list; a unit's row is its own outcome, set below.
        for (const auto& row : summary->rows)
            results[row.key] =
                results[row.key] | (row.text == firmware_text::kDownloadSuccessfully ? 1 : 0);
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
        std::vector<std::string> rows;
        for (const auto& outcome : outcomes) {
            const bool listed = outcome.success;
            rows.push_back(JsonObject()
                               .add("device", outcome.key)
                               .add("mac", outcome.mac.toString())
                               .add("success", outcome.success)
                               .add("failure", UnitFailureName(outcome.failure))
                               .add("status", listed ? firmware_text::kDownloadSuccessfully
                                                     : firmware_text::kDownloadFailed)
                               .add("image_length", static_cast<std::int64_t>(outcome.imageLength))
                               .add("blocks", static_cast<std::int64_t>(outcome.blocksAccepted))
                               .add("factory_block_patched", outcome.factoryBlockPatched)
                               .str());
        }
        inv.io.out << JsonObject()
                          .addRaw("units", JsonArray(rows))
                          .add("successes", units - failures)
                          .add("failures", failures)
                          .add("summary", std::string_view(summaryLine))
                          .str()
                   << "\n";
    } else {
        inv.io.out << "\nDevice      Download Status\n";
        for (const auto& [key, flag] : results) {
            std::string column = key;
            column.resize(std::max<std::size_t>(column.size() + 2, 12), ' ');
            inv.io.out << column
                       << (flag == 1 ? firmware_text::kDownloadSuccessfully
                                     : firmware_text::kDownloadFailed);
            const auto unit = unitOutcome.find(key);
            if (unit != unitOutcome.end() && !unit->second->success)
                inv.io.out << " (" << UnitFailureText(unit->second->failure) << ")";
            inv.io.out << "\n";
        }
        inv.io.out << summaryLine << "\n";
    }
    return failures == 0 ? kExitOk : kExitFailure;
}

} // namespace korvane::cli
