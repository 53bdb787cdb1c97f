#pragma once

// The firmware command's console: its Operator, which answers questions from
// the flags or a prompt on the terminal, and shows the run either as a live
// display (one line per unit with its state and a bar, the status line, the
// overall bar) or, without a terminal, as plain lines when a unit's state
// changes.

#include "base/operator.hpp"
#include "base/platform.hpp"
#include "cli/cli_operator.hpp"
#include "firmware/upgrade.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace korvane::cli {

// An automatic answer to a refused block is given at most this many times per
// unit, so that an unattended run cannot retry a dead device for ever.
inline constexpr int kMaxAutomaticBlockAnswers = 3;
// The live display redraws at most this often (it is not a protocol wait).
inline constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
inline constexpr int kBarWidth = 24;

inline bool isTerminalOut(const std::ostream& out) {
    return &out == &std::cout && platform::IsTerminal(1);
}

inline std::string bar(std::uint64_t done, std::uint64_t total) {
    const std::uint64_t percent = total == 0 ? 0 : std::min<std::uint64_t>(done * 100 / total, 100);
    const auto filled = static_cast<int>(percent * kBarWidth / 100);
    char tail[8];
    std::snprintf(tail, sizeof tail, " %3d%%", static_cast<int>(percent));
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(kBarWidth - filled), '-') + "]" + tail;
}

// What the command's flags tell the console.
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
inline CliAnswers questionAnswers(const ConsoleOptions& options) {
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

    // `name` starts every line on the error stream ("korvane firmware upgrade").
    FirmwareConsole(Streams io, std::string name, Options options, std::uint64_t imageLength)
        : io_(io), options_(options), imageLength_(imageLength),
          live_(!options.json && isTerminalOut(io.out)), name_(name),
          questions_(io, std::move(name), questionAnswers(options)) {}

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

    Answer ask(const Question& question) override {
        if (question.topic == QuestionTopic::BlockFailure) {
            const auto unit =
                question.devices.empty() ? std::nullopt : std::optional(question.devices.front());
            return BlockFailureAnswer(blockFailure(question.text, unit));
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
        // Line by line, flushed: a pipe (tee, a log) shows a unit's state
        // when it changes, not when the run ends.
        if (!live_ && !options_.json && !text.empty())
            io_.out << key << "  " << text << "\n" << std::flush;
        redraw(true);
    }

    void setProgress(int percent) override {
        std::lock_guard lock(mutex_);
        if (!live_ && !options_.json && percent / 10 != progress_ / 10)
            io_.out << "progress " << percent << "%\n" << std::flush;
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
        io_.err << name_ << ": " << line << "\n";
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
    const std::string name_;
    CliOperator questions_; // only under promptMutex_
};

} // namespace korvane::cli
