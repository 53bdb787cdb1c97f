#pragma once

// The firmware command's console: its Operator, which answers questions from
// the flags or a prompt on the terminal, and shows the run either as a live
// display (one line per unit with its state and a bar, the status line, the
// overall bar) or, without a terminal, as plain lines when a unit's state
// changes.

#include "base/operator.hpp"
#include "cli/cli_operator.hpp"
#include "firmware/upgrade.hpp"

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace korvane::cli {

// What the command's flags tell the console.
struct ConsoleOptions {
    bool yes = false;
    std::optional<BlockFailureChoice> onBlockFailure;
    bool allowShortImage = false;
    bool allowOlderBoot = false;
    bool json = false;
    std::string passwordSource; // where the given passwords came from, for messages
};

class FirmwareConsole : public Operator {
  public:
    using Options = ConsoleOptions;

    // `name` starts every line on the error stream ("korvane firmware upgrade").
    FirmwareConsole(Streams io, std::string name, Options options, std::uint64_t imageLength);

    // The units of the run now starting, for the per-unit bars.
    void beginRun(const FirmwareUpgrade* session, const std::vector<DeviceIdentity*>& units);
    void endRun();
    // Leaves the live display so that the end report follows below it.
    void finish();

    // Questions go to the command line's Operator, one at a time: units ask
    // from their own threads. A unit's given password was tried before the
    // prompt (it is the record's remembered password), so a prompt means the
    // device wants another one.
    std::optional<std::string> askPassword(const std::string& label,
                                           const std::string& preset) override;
    Answer ask(const Question& question) override;
    void showMessage(const std::string& text, MessageIcon icon) override;

    void setStatusLine(const std::string& text) override;
    void setUnitStatus(const std::string& key, const std::string& text) override;
    void setProgress(int percent) override;

  private:
    class Prompt;

    // The automatic answers are counted per unit, so that one dead device
    // cannot use up the others' answers, nor a later batch find them spent.
    BlockFailureChoice blockFailure(const std::string& text, std::optional<MacAddress> unit);
    void say(const std::string& line);
    std::string& rowFor(const std::string& key);
    // A prompt or message goes below the display, which starts afresh after it.
    void leaveDisplay();
    void redraw(bool force);

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
