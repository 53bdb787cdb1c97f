#pragma once

// What the firmware tests share: image files, an operator that answers from
// a script and records what it was told, and a rig of emulated devices with
// their records, ready for an upgrade session.

#include "base/byte_cursor.hpp"
#include "base/operator.hpp"
#include "firmware/upgrade.hpp"
#include "protocol/frame.hpp"
#include "unit/emulator_fixture.hpp"
#include "wire_fields.hpp"

#include <atomic>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace korvane::test {

// An image of `length` bytes with a recognisable pattern, a factory block
// whose sum is right (or off by one) and the boot identification bytes (boot
// version 1.2, compatibility code 3, as the emulated devices' flash has), as
// far as the length reaches.
inline std::vector<std::uint8_t> MakeImage(std::size_t length, bool validFactoryBlock = true,
                                           std::array<std::uint8_t, 4> boot = {'1', '2', 'x',
                                                                               '3'}) {
    std::vector<std::uint8_t> image(length);
    for (std::size_t i = 0; i < length; ++i)
        image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    if (length >= 0xFF1C) {
        auto block = std::span<std::uint8_t>(image).subspan(0xFF00, 28);
        std::fill(block.begin(), block.end(), std::uint8_t{0});
        const std::array<std::uint8_t, 6> placeholder{0x02, 0x19, 0xA7, 0xFF, 0xFF, 0xFF};
        std::copy(placeholder.begin(), placeholder.end(), block.begin() + 4);
        block[12] = '2';
        block[13] = '.';
        block[14] = '0';
        writeU32(block, 0, BlockChecksum(block) + (validFactoryBlock ? 0 : 1));
    }
    if (length >= 0xFFE8)
        std::copy(boot.begin(), boot.end(), image.begin() + 0xFFE4);
    return image;
}

// A folder of its own for each test's files, removed afterwards.
class TempDir {
  public:
    TempDir() {
        static std::atomic<int> counter{0};
        path_ = std::filesystem::temp_directory_path() /
                ("korvane-fw-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::filesystem::path write(const std::string& name,
                                std::span<const std::uint8_t> bytes) const {
        const auto file = path_ / name;
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return file;
    }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// Answers from a script and records what it was told, each event with a
// number from one counter so that tests can order events across threads.
class ScriptedOperator : public Operator {
  public:
    std::optional<std::string> passwordAnswer; // nullopt: cancel
    bool yesNoAnswer = true;
    std::deque<BlockFailureChoice> blockChoices; // empty: Abort
    // Answers by topic; without one, Continue to a short image and
    // yesNoAnswer to a Yes/No question.
    std::map<QuestionTopic, Answer> answers;

    struct Prompt {
        std::string label;
        std::string preset;
    };
    struct RowEvent {
        int seq = 0;
        std::string key;
        std::string text;
    };

    std::optional<std::string> askPassword(const std::string& label,
                                           const std::string& preset) override {
        std::lock_guard lock(mutex_);
        prompts.push_back({label, preset});
        return passwordAnswer;
    }
    Answer ask(const Question& question) override {
        std::lock_guard lock(mutex_);
        if (question.buttons == QuestionButtons::AbortRetryIgnore) {
            blockQuestions.push_back(question.text);
            if (blockChoices.empty())
                return Answer::Abort;
            const auto choice = blockChoices.front();
            blockChoices.pop_front();
            return BlockFailureAnswer(choice);
        }
        asked.push_back(question);
        if (const auto it = answers.find(question.topic); it != answers.end())
            return it->second;
        if (question.buttons == QuestionButtons::ContinueCancel)
            return Answer::Continue;
        return yesNoAnswer ? Answer::Yes : Answer::No;
    }
    void showMessage(const std::string& text, MessageIcon icon) override {
        std::lock_guard lock(mutex_);
        messages.push_back({text, icon});
    }
    void setStatusLine(const std::string& text) override {
        std::lock_guard lock(mutex_);
        statusLines.push_back(text);
    }
    void setUnitStatus(const std::string& key, const std::string& text) override {
        std::lock_guard lock(mutex_);
        rowEvents.push_back({sequence_++, key, text});
    }
    void setProgress(int percent) override {
        std::lock_guard lock(mutex_);
        progress.push_back({sequence_++, percent});
    }

    // Read after the run (its threads have ended).
    std::vector<Prompt> prompts;
    std::vector<Question> asked; // through ask(), Abort/Retry/Ignore excepted
    std::vector<std::string> blockQuestions;
    std::vector<std::pair<std::string, MessageIcon>> messages;
    std::vector<std::string> statusLines;
    std::vector<RowEvent> rowEvents;
    std::vector<std::pair<int, int>> progress; // (seq, percent)

    // The texts one unit's row went through, in order.
    std::vector<std::string> rowTexts(const std::string& key) const {
        std::vector<std::string> texts;
        for (const auto& event : rowEvents)
            if (event.key == key)
                texts.push_back(event.text);
        return texts;
    }
    // The sequence number of the first and the last event of a row that
    // carried a text (the reset to empty at the start of a run excluded).
    std::pair<int, int> rowSpan(const std::string& key) const {
        std::pair<int, int> span{-1, -1};
        for (const auto& event : rowEvents) {
            if (event.key != key || event.text.empty())
                continue;
            if (span.first < 0)
                span.first = event.seq;
            span.second = event.seq;
        }
        return span;
    }

  private:
    std::mutex mutex_;
    int sequence_ = 0;
};

// Emulated devices on the simulated segment, their records as discovery
// would have made them, and a scripted operator.
class FirmwareRig {
  public:
    static Timing fastTiming() {
        Timing t = testing::TestTiming();
        t.noticeWait = Millis(2000); // ends as soon as the notice comes
        return t;
    }
    static sim::LanOptions lanOptions(sim::LanOptions options = {}) {
        options.programmingDelay = Millis(1);
        return options;
    }

    explicit FirmwareRig(int devices, Timing timing = fastTiming(),
                         sim::LanOptions options = lanOptions())
        : lan(devices, timing, options) {
        for (int i = 0; i < devices; ++i) {
            records.push_back(std::make_unique<DeviceIdentity>(device(i).identity()));
            records.back()->setAdapterIndex(0);
        }
    }

    sim::EmulatedDevice& device(std::size_t i) { return lan.device(i); }
    std::string key(std::size_t i) { return UnitKey(lan.mac(i)); }
    Context& ctx() { return *lan.ctx; }

    void addRule(std::size_t i, sim::StatusRule rule) {
        auto faults = device(i).faults();
        faults.statusRules.push_back(rule);
        device(i).setFaults(faults);
    }
    template <class Change>
    void changeFaults(std::size_t i, Change change) {
        auto faults = device(i).faults();
        change(faults);
        device(i).setFaults(faults);
    }

    std::vector<DeviceIdentity*> units() {
        std::vector<DeviceIdentity*> list;
        for (auto& record : records)
            list.push_back(record.get());
        return list;
    }

    std::filesystem::path writeImage(std::span<const std::uint8_t> bytes) {
        return dir.write("image" + std::to_string(images++) + ".bin", bytes);
    }

    // One whole run on this thread with the firmware password gate.
    RunSummary run(const std::filesystem::path& image) {
        FirmwareUpgrade session(ctx(), op, units(), UnitPasswordGate(ctx(), op));
        session.setPacing(pacing);
        return *session.downloadAllUnits([&] { return image.string(); });
    }

    testing::TestLan lan;
    ScriptedOperator op;
    TempDir dir;
    std::vector<std::unique_ptr<DeviceIdentity>> records;
    int images = 0;
    CommandPacing pacing = CommandPacing::Shared;
};

// A block status rule: the first `times` copies of block `number` get `status`.
inline sim::StatusRule
BlockRule(std::uint16_t number, std::uint16_t status, int times = 1,
          sim::StatusRule::Effect effect = sim::StatusRule::Effect::Default) {
    return {code::kFirmwareBlock, number, status, times, effect};
}

} // namespace korvane::test
