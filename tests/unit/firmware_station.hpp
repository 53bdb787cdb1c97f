#pragma once

// A scripted firmware receiver on the simulated segment: answers the password
// check, the boot query, image blocks and the end of transfer, records what
// it received, and sends the completion notice. Statuses for the blocks come
// from a script so that each test says exactly what the device answers.

#include "base/byte_cursor.hpp"
#include "base/operator.hpp"
#include "firmware/upgrade.hpp"
#include "link/simulated_segment.hpp"
#include "protocol/context.hpp"
#include "protocol/device_identity.hpp"
#include "protocol/frame.hpp"

#include <atomic>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace korvane::test {

struct ReceivedBlock {
    std::uint16_t number = 0;
    std::vector<std::uint8_t> data;
};

class FirmwareStation {
  public:
    static constexpr std::uint16_t kSilent = 0xFFFF; // in a script: no answer at all

    FirmwareStation(SimulatedSegment& segment, MacAddress mac, std::atomic<int>* sequence = nullptr)
        : mac_(mac), sequence_(sequence) {
        OpenOptions options;
        const auto filter = protocolFilterProgram();
        options.filter.assign(filter.begin(), filter.end());
        port_ = segment.attachStation(mac, options);
        port_->start([this](std::span<const std::uint8_t> frame) { receive(frame); });
    }
    ~FirmwareStation() { port_->stop(); }

    const MacAddress& mac() const { return mac_; }

    // Knobs; set them before the run.
    std::string password;
    bool answerBoot = true;
    std::uint32_t flashBootWord = 0x01000003; // boot version 1.0, compatibility code 3
    bool sendNotice = true;
    std::deque<std::uint16_t> blockStatuses; // one per block received; empty: 2
    std::function<void()> onEndOfTransfer;   // runs after the end-of-transfer reply

    // Records.
    std::vector<ReceivedBlock> blocks() const {
        std::lock_guard lock(mutex_);
        return blocks_;
    }
    std::optional<std::vector<std::uint8_t>> endRecord() const {
        std::lock_guard lock(mutex_);
        return endRecord_;
    }
    int passwordChecks() const {
        std::lock_guard lock(mutex_);
        return passwordChecks_;
    }
    int bootQueries() const {
        std::lock_guard lock(mutex_);
        return bootQueries_;
    }
    // Sequence numbers (from the shared counter) of the first frame received
    // and of the last thing this device did; -1 before either happened.
    int firstSeen() const { return firstSeen_.load(); }
    int lastActive() const { return lastActive_.load(); }
    // The image as the device assembled it from the blocks (later copies of a
    // number overwrite earlier ones).
    std::vector<std::uint8_t> assembled() const {
        std::lock_guard lock(mutex_);
        std::vector<std::uint8_t> image;
        for (const auto& block : blocks_) {
            const std::size_t at = std::size_t{block.number} * 1024;
            if (image.size() < at + block.data.size())
                image.resize(at + block.data.size());
            std::copy(block.data.begin(), block.data.end(), image.begin() + static_cast<long>(at));
        }
        return image;
    }

    // A completion notice to `to`, as a device sends it when it has programmed its flash.
    void sendNoticeTo(const MacAddress& to) {
        auto frame = BuildRequest(mac_, to, code::kFirmwareNotice, "", 0, {}, 0);
        port_->send(frame->view());
        stamp();
    }

  private:
    int tick() { return sequence_ ? sequence_->fetch_add(1) : 0; }
    void stamp() { lastActive_.store(tick()); }

    void reply(const FrameHeader& request, std::uint16_t replyCode, std::uint16_t status,
               std::span<const std::uint8_t> data = {}) {
        auto frame = BuildRequest(mac_, request.source, replyCode, "", request.parameter, data,
                                  static_cast<std::uint16_t>(data.size()));
        writeU16(frame->bytes, frame_offset::kStatus, status);
        port_->send(frame->view());
    }

    void receive(std::span<const std::uint8_t> frame) {
        const auto header = ParseHeader(frame);
        if (!header)
            return;
        if (header->code == code::kDiscover && header->destination.isBroadcast()) {
            DeviceIdentity identity;
            identity.setMac(mac_);
            identity.bytes[identity_offset::kHardwareVersion] = 2;
            identity.bytes[identity_offset::kFirmwareVersion] = 2;
            reply(*header, code::kDiscoverReply, status::kDone, identity.bytes);
            return;
        }
        if (header->destination != mac_)
            return;
        int expected = -1;
        firstSeen_.compare_exchange_strong(expected, tick());
        stamp();
        const std::string given(fieldText(frame.subspan(frame_offset::kPassword, kPasswordField)));
        const bool passwordOk = given == password;
        const std::uint16_t length = readU16(frame, frame_offset::kDataLength);
        const auto data = frame.size() >= frame_offset::kData + length
                              ? frame.subspan(frame_offset::kData, length)
                              : std::span<const std::uint8_t>();

        switch (header->code) {
        case code::kCheckPassword: {
            {
                std::lock_guard lock(mutex_);
                ++passwordChecks_;
            }
            reply(*header, code::kPasswordReply,
                  passwordOk ? status::kDone : status::kPasswordRefused);
            break;
        }
        case code::kBootQuery: {
            {
                std::lock_guard lock(mutex_);
                ++bootQueries_;
            }
            if (!answerBoot)
                break;
            std::array<std::uint8_t, 8> bootReply{};
            writeU32(bootReply, 4, flashBootWord);
            reply(*header, code::kBootReply, status::kDone, bootReply);
            break;
        }
        case code::kFirmwareBlock: {
            std::uint16_t status = status::kDone;
            {
                std::lock_guard lock(mutex_);
                blocks_.push_back({header->parameter, {data.begin(), data.end()}});
                if (!blockStatuses.empty()) {
                    status = blockStatuses.front();
                    blockStatuses.pop_front();
                }
            }
            if (!passwordOk)
                status = status::kPasswordRefused;
            if (status != kSilent)
                reply(*header, code::kFirmwareReply, status);
            break;
        }
        case code::kFirmwareEnd: {
            {
                std::lock_guard lock(mutex_);
                endRecord_.emplace(data.begin(), data.end());
            }
            reply(*header, code::kFirmwareReply, status::kDone);
            if (onEndOfTransfer)
                onEndOfTransfer();
            if (sendNotice)
                sendNoticeTo(header->source);
            break;
        }
        default:
            break;
        }
    }

    MacAddress mac_;
    std::atomic<int>* sequence_;
    std::unique_ptr<PacketPort> port_;
    mutable std::mutex mutex_;
    std::vector<ReceivedBlock> blocks_;
    std::optional<std::vector<std::uint8_t>> endRecord_;
    int passwordChecks_ = 0;
    int bootQueries_ = 0;
    std::atomic<int> firstSeen_{-1};
    std::atomic<int> lastActive_{-1};
};

// Answers from a script and records everything it was told.
class ScriptedOperator : public Operator {
  public:
    std::optional<std::string> passwordAnswer; // nullopt: cancel
    bool yesNoAnswer = true;
    std::deque<BlockFailureChoice> blockChoices; // empty: Abort
    std::atomic<int>* sequence = nullptr;

    struct Prompt {
        std::string label;
        std::string preset;
    };

    std::optional<std::string> askPassword(const std::string& label,
                                           const std::string& preset) override {
        std::lock_guard lock(mutex_);
        prompts.push_back({label, preset});
        return passwordAnswer;
    }
    bool askYesNo(const std::string& text, MessageIcon) override {
        std::lock_guard lock(mutex_);
        questions.push_back(text);
        return yesNoAnswer;
    }
    BlockFailureChoice askAbortRetryIgnore(const std::string& text) override {
        std::lock_guard lock(mutex_);
        blockQuestions.push_back(text);
        if (blockChoices.empty())
            return BlockFailureChoice::Abort;
        const auto choice = blockChoices.front();
        blockChoices.pop_front();
        return choice;
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
        unitStatuses.push_back({key, text});
    }
    void setProgress(int percent) override {
        std::lock_guard lock(mutex_);
        progress.push_back({sequence ? sequence->fetch_add(1) : 0, percent});
    }

    // Read after the run (the run's threads have ended).
    std::vector<Prompt> prompts;
    std::vector<std::string> questions;
    std::vector<std::string> blockQuestions;
    std::vector<std::pair<std::string, MessageIcon>> messages;
    std::vector<std::string> statusLines;
    std::vector<std::pair<std::string, std::string>> unitStatuses;
    std::vector<std::pair<int, int>> progress; // (sequence, percent)

    // The texts one unit's row went through, in order.
    std::vector<std::string> rowTexts(const std::string& key) const {
        std::vector<std::string> texts;
        for (const auto& [k, text] : unitStatuses)
            if (k == key)
                texts.push_back(text);
        return texts;
    }

  private:
    std::mutex mutex_;
};

// An image of `length` bytes with a recognisable pattern, a factory block
// whose sum is right (or off by one) and the boot identification bytes, as
// far as the length reaches.
inline std::vector<std::uint8_t> MakeImage(std::size_t length, bool validFactoryBlock = true,
                                           std::array<std::uint8_t, 4> boot = {'1', '0', 'x',
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
    std::filesystem::path write(const std::string& name,
                                std::span<const std::uint8_t> bytes) const {
        const auto file = path_ / name;
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
        return file;
    }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// A simulated segment with the utility's adapter open, scripted devices on
// it, and a scripted operator: what an upgrade session needs.
class FirmwareRig {
  public:
    static constexpr MacAddress kAdapterMac{{0x02, 0x00, 0x00, 0x5E, 0x00, 0x01}};

    static Timing fastTiming() {
        Timing t = Timing::defaults().scaled(0.01);
        t.settleAfterOpen = Micros(0);
        t.noticeWait = Millis(2000); // ends early whenever the notice comes
        return t;
    }

    explicit FirmwareRig(Timing timing = fastTiming()) : ctx(segment, timing) {
        segment.addAdapter("sim0", "Simulated LAN", kAdapterMac);
        ctx.enumerateAdapters();
        ctx.openAdapter(0);
        op.sequence = &sequence;
    }

    // The n-th device of the maker's block, 02-19-A7-00-00-(n+1).
    static MacAddress unitMac(int n) {
        return MacAddress{{0x02, 0x19, 0xA7, 0x00, static_cast<std::uint8_t>((n + 1) >> 8),
                           static_cast<std::uint8_t>(n + 1)}};
    }

    FirmwareStation& addUnit(const MacAddress& mac) {
        stations.push_back(std::make_unique<FirmwareStation>(segment, mac, &sequence));
        auto record = std::make_unique<DeviceIdentity>();
        record->setMac(mac);
        records.push_back(std::move(record));
        return *stations.back();
    }
    FirmwareStation& addUnits(int count) {
        for (int i = 0; i < count; ++i)
            addUnit(unitMac(static_cast<int>(stations.size())));
        return *stations.front();
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
        FirmwareUpgrade session(ctx, op, units(), UnitPasswordGate(ctx, op));
        return *session.DownloadAllUnits([&] { return image.string(); });
    }

    SimulatedSegment segment;
    std::atomic<int> sequence{0};
    Context ctx;
    ScriptedOperator op;
    TempDir dir;
    std::vector<std::unique_ptr<FirmwareStation>> stations;
    std::vector<std::unique_ptr<DeviceIdentity>> records;
    int images = 0;
};

} // namespace korvane::test
