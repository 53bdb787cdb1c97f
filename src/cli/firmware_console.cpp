#include "cli/firmware_console.hpp"

#include "base/platform.hpp"

#include <algorithm>
#include <cstdio>
#include <iostream>

namespace korvane::cli {

namespace {

// An automatic answer to a refused block is given at most this many times per
// unit, so that an unattended run cannot retry a dead device for ever.
constexpr int kMaxAutomaticBlockAnswers = 3;
// The live display redraws at most this often (it is not a protocol wait).
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr int kBarWidth = 24;

bool isTerminalOut(const std::ostream& out) {
    return &out == &std::cout && platform::IsTerminal(1);
}

std::string bar(std::uint64_t done, std::uint64_t total) {
    const std::uint64_t percent = total == 0 ? 0 : std::min<std::uint64_t>(done * 100 / total, 100);
    const auto filled = static_cast<int>(percent * kBarWidth / 100);
    char tail[8];
    std::snprintf(tail, sizeof tail, " %3d%%", static_cast<int>(percent));
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(kBarWidth - filled), '-') + "]" + tail;
}

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

} // namespace

FirmwareConsole::FirmwareConsole(Streams io, std::string name, Options options,
                                 std::uint64_t imageLength)
    : io_(io), options_(options), imageLength_(imageLength),
      live_(!options.json && isTerminalOut(io.out)), name_(name),
      questions_(io, std::move(name), questionAnswers(options)) {}

void FirmwareConsole::beginRun(const FirmwareUpgrade* session,
                               const std::vector<DeviceIdentity*>& units) {
    std::lock_guard lock(mutex_);
    session_ = session;
    unitIndex_.clear();
    for (std::size_t k = 0; k < units.size(); ++k) {
        const std::string key = UnitKey(units[k]->mac());
        unitIndex_[key] = k;
        rowFor(key);
    }
}

void FirmwareConsole::endRun() {
    std::lock_guard lock(mutex_);
    redraw(true);
    session_ = nullptr;
}

void FirmwareConsole::finish() {
    std::lock_guard lock(mutex_);
    linesDrawn_ = 0;
}

// While a person answers a prompt the other units go on; the display
// stays still meanwhile so that it does not run through the prompt, and
// prompts come one at a time.
class FirmwareConsole::Prompt {
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

std::optional<std::string> FirmwareConsole::askPassword(const std::string& label,
                                                        const std::string& preset) {
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

Answer FirmwareConsole::ask(const Question& question) {
    if (question.topic == QuestionTopic::BlockFailure) {
        const auto unit =
            question.devices.empty() ? std::nullopt : std::optional(question.devices.front());
        return BlockFailureAnswer(blockFailure(question.text, unit));
    }
    Prompt prompt(*this);
    return questions_.ask(question);
}

void FirmwareConsole::showMessage(const std::string& text, MessageIcon icon) {
    say((icon == MessageIcon::Warning ? "warning: " : "") + text);
}

void FirmwareConsole::setStatusLine(const std::string& text) {
    std::lock_guard lock(mutex_);
    statusLine_ = text;
    redraw(false);
}

void FirmwareConsole::setUnitStatus(const std::string& key, const std::string& text) {
    std::lock_guard lock(mutex_);
    std::string& row = rowFor(key);
    if (row == text)
        return;
    row = text;
    // Line by line, flushed: a pipe (tee, a log) shows a unit's state
    // when it changes, not when the run ends.
    if (!live_ && !options_.json && !text.empty())
        io_.out << key << "  " << text << "\n" << std::flush;
    redraw(true);
}

void FirmwareConsole::setProgress(int percent) {
    std::lock_guard lock(mutex_);
    if (!live_ && !options_.json && percent / 10 != progress_ / 10)
        io_.out << "progress " << percent << "%\n" << std::flush;
    progress_ = percent;
    redraw(false);
}

BlockFailureChoice FirmwareConsole::blockFailure(const std::string& text,
                                                 std::optional<MacAddress> unit) {
    if (options_.onBlockFailure && *options_.onBlockFailure != BlockFailureChoice::Abort) {
        bool allowed = true;
        {
            std::lock_guard lock(mutex_);
            allowed = automaticAnswers_[unit.value_or(MacAddress{})]++ < kMaxAutomaticBlockAnswers;
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

void FirmwareConsole::say(const std::string& line) {
    std::lock_guard lock(mutex_);
    leaveDisplay();
    io_.err << name_ << ": " << line << "\n";
}

std::string& FirmwareConsole::rowFor(const std::string& key) {
    auto it =
        std::find_if(rows_.begin(), rows_.end(), [&](const auto& row) { return row.first == key; });
    if (it == rows_.end()) {
        rows_.emplace_back(key, std::string());
        return rows_.back().second;
    }
    return it->second;
}

void FirmwareConsole::leaveDisplay() {
    if (live_)
        io_.out << std::flush;
    linesDrawn_ = 0;
}

void FirmwareConsole::redraw(bool force) {
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

} // namespace korvane::cli
