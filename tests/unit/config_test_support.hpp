#pragma once

// Helpers of the configuration tests: emulated devices on a simulated
// segment with every request the utility sends recorded, and a scripted
// Operator.

#include "base/byte_cursor.hpp"
#include "base/operator.hpp"
#include "base/timing.hpp"
#include "config/blocks.hpp"
#include "link/simulated_segment.hpp"
#include "protocol/context.hpp"
#include "protocol/device_identity.hpp"
#include "protocol/frame.hpp"
#include "sim/device_emulator.hpp"
#include "sim/emulated_device.hpp"
#include "wire_fields.hpp"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace korvane::testing {

inline const MacAddress kAdapterMac{{0x02, 0x00, 0x00, 0x00, 0x00, 0x01}};
inline const MacAddress kDeviceMac{{0x02, 0x19, 0xA7, 0x00, 0x01, 0x23}};

// A block as a current device in static mode has it.
inline SettingsBlock StaticBlock(std::uint16_t version = 40) {
    SettingsBlock b;
    b.setRawVersion(version);
    b.setAddressMode(AddressMode::Static);
    b.setIpAddress(0xC0A80164);  // 192.168.1.100
    b.setSubnetMask(0xFFFFFF00); // 255.255.255.0
    b.setGateway(0xC0A80101);    // 192.168.1.1
    b.setPort<settings_offset::kHttpPort>(80);
    b.setPort<settings_offset::kTelnetPort>(23);
    b.setPort<settings_offset::kHttpsPort>(443);
    b.setPort<settings_offset::kSshPort>(22);
    for (std::size_t i = 10; i < 23; ++i)
        b.bytes[i] = static_cast<std::uint8_t>(0xA0 + i);
    for (std::size_t i = 48; i < 68; ++i)
        b.bytes[i] = static_cast<std::uint8_t>(0x30 + i);
    return b;
}

// A request the utility sent to a device, as it went over the segment.
struct Request {
    std::uint16_t code = 0;
    std::string password;
    std::vector<std::uint8_t> frame;
    std::vector<std::uint8_t> data() const {
        const std::size_t n = readU16(frame, frame_offset::kDataLength);
        if (frame.size() < frame_offset::kData + n)
            return {};
        return {frame.begin() + frame_offset::kData,
                frame.begin() + static_cast<std::ptrdiff_t>(frame_offset::kData + n)};
    }
};

// Small waits, with reply windows wide enough for a loaded machine (a reply
// ends its window at once, so only silent devices cost them).
inline Timing TestTiming() {
    Timing t = Timing::defaults().scaled(0.02);
    t.queryWindow = Millis(250);
    t.commandWindow = Millis(250);
    t.discoveryWindow = Millis(100);
    return t;
}

// A simulated segment with the utility's adapter and emulated devices on it
// (the device side of the protocol, strict about what it receives), with
// every frame the utility sends recorded for byte-level checks.
class EmulatedSegment {
  public:
    EmulatedSegment() {
        segment.addAdapter("sim0", "Simulated", kAdapterMac);
        segment.setFrameHook([this](std::span<const std::uint8_t> frame) {
            if (frame.size() >= 12 && macAt(frame, 6) == kAdapterMac) {
                std::lock_guard lock(mutex_);
                sent_.emplace_back(frame.begin(), frame.end());
            }
            return true;
        });
        OpenOptions station;
        station.promiscuous = true;
        emulator = std::make_unique<sim::DeviceEmulator>(
            segment.attachStation({{0x02, 0x00, 0x00, 0x5E, 0x00, 0xFE}}, station));
        emulator->start();
    }
    ~EmulatedSegment() { emulator.reset(); }
    EmulatedSegment(const EmulatedSegment&) = delete;
    EmulatedSegment& operator=(const EmulatedSegment&) = delete;

    // A device in static mode with the block of StaticBlock(), no password,
    // hardware version "HW-2.1" and firmware "1.2.3-A".
    sim::EmulatedDevice& add(const MacAddress& mac,
                             const std::function<void(sim::DeviceConfig&)>& tweak = {}) {
        sim::DeviceConfig config = sim::DefaultDeviceConfig(0, mac);
        config.hardwareVersion = sim::VersionText("HW-2.1");
        config.firmwareVersion = sim::VersionText("1.2.3-A");
        config.settings = StaticBlock();
        if (tweak)
            tweak(config);
        return emulator->addDevice(std::move(config));
    }

    // The requests sent to `device`, all or those with `code`.
    std::vector<Request> requests(const MacAddress& device,
                                  std::optional<std::uint16_t> code = std::nullopt) const {
        segment.drain();
        std::vector<Request> out;
        std::lock_guard lock(mutex_);
        for (const auto& frame : sent_) {
            const auto header = ParseHeader(frame);
            if (!header || header->destination != device || (code && header->code != *code))
                continue;
            out.push_back({header->code,
                           std::string(fieldText(std::span<const std::uint8_t>(frame).subspan(
                               frame_offset::kPassword, kPasswordField))),
                           frame});
        }
        return out;
    }

    // Every deviation the devices found in what they received.
    std::uint64_t violations() const {
        std::uint64_t total = 0;
        for (std::size_t i = 0; i < emulator->deviceCount(); ++i)
            total += emulator->device(i).stats().totalViolations();
        return total;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::vector<std::uint8_t>> sent_;

  public:
    // Declared after the recording so the segment's thread ends before it goes.
    mutable SimulatedSegment segment;
    std::unique_ptr<sim::DeviceEmulator> emulator;
};

// The first `statuses.size()` requests with `command` get these statuses, in order.
inline void ScriptStatuses(sim::EmulatedDevice& device, std::uint16_t command,
                           const std::vector<std::uint16_t>& statuses) {
    sim::DeviceFaults faults = device.faults();
    for (const std::uint16_t s : statuses)
        faults.statusRules.push_back(
            {command, std::nullopt, s, 1, sim::StatusRule::Effect::Default});
    device.setFaults(std::move(faults));
}

inline void SetSilent(sim::EmulatedDevice& device, bool silent = true) {
    sim::DeviceFaults faults = device.faults();
    faults.neverAnswer = silent;
    device.setFaults(std::move(faults));
}

// The record the utility keeps for a device it found on adapter 0.
inline DeviceIdentity FoundRecord(const sim::EmulatedDevice& device) {
    DeviceIdentity identity = device.identity();
    identity.setAdapterIndex(0);
    return identity;
}

// Answers from scripts; records what it was told and asked.
class ScriptedOperator : public Operator {
  public:
    std::deque<std::optional<std::string>> passwords; // nullopt: Cancel
    std::deque<bool> answers;                         // Yes/No
    std::vector<std::string> messages;
    std::vector<std::string> questions;
    std::vector<std::pair<std::string, std::string>> prompts; // label, preset

    std::optional<std::string> askPassword(const std::string& label,
                                           const std::string& preset) override {
        prompts.emplace_back(label, preset);
        if (passwords.empty())
            return std::nullopt;
        auto answer = passwords.front();
        passwords.pop_front();
        return answer;
    }
    Answer ask(const Question& question) override {
        if (question.buttons == QuestionButtons::AbortRetryIgnore)
            return Answer::Abort;
        questions.push_back(question.text);
        if (answers.empty())
            return YesNoAnswer(question.buttons, false);
        const bool answer = answers.front();
        answers.pop_front();
        return YesNoAnswer(question.buttons, answer);
    }
    void showMessage(const std::string& text, MessageIcon) override { messages.push_back(text); }
};

// A record whose firmware version is this text.
inline DeviceIdentity RecordWithFirmware(std::string_view firmware) {
    DeviceIdentity identity;
    identity.setMac(kDeviceMac);
    auto field = identity.field(identity_offset::kFirmwareVersion, kFirmwareVersionWidth);
    std::copy_n(firmware.begin(), std::min(firmware.size(), field.size() - 1), field.begin());
    return identity;
}

// A segment with one adapter, a context on it and one emulated device.
struct DeviceFixture {
    EmulatedSegment lan;
    sim::EmulatedDevice& device;
    Context ctx;
    DeviceIdentity identity;

    DeviceFixture()
        : lan(), device(lan.add(kDeviceMac)), ctx(lan.segment, TestTiming()),
          identity(FoundRecord(device)) {
        ctx.link.setDiagnosticSink(nullptr);
        ctx.enumerateAdapters();
        ctx.openAdapter(0);
    }
    ~DeviceFixture() {
        EXPECT_EQ(lan.violations(), 0u) << "the device found faults in what it received";
        ctx.link.close();
    }

    std::vector<Request> requests(std::uint16_t code) const {
        return lan.requests(kDeviceMac, code);
    }

    // A device that does not answer costs every try's window: keep them short.
    void shortWindows() {
        ctx.timing.queryWindow = Millis(5);
        ctx.timing.commandWindow = Millis(5);
    }
};

} // namespace korvane::testing
