#pragma once

// Helpers for the device-list tests: a scripted device station on a simulated
// segment (discovery, password check, settings read) and hand-built search
// results.

#include "base/byte_cursor.hpp"
#include "config/blocks.hpp"
#include "devices/device_table.hpp"
#include "link/simulated_segment.hpp"
#include "protocol/frame.hpp"

#include <atomic>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace korvane::test {

inline MacAddress DeviceMac(std::uint32_t serialLow) {
    return {{0x02, 0x19, 0xA7, static_cast<std::uint8_t>(serialLow >> 16),
             static_cast<std::uint8_t>(serialLow >> 8), static_cast<std::uint8_t>(serialLow)}};
}

// Timing small enough for tests, windows wide enough for a loaded machine.
inline Timing TestTiming() {
    Timing t = Timing::defaults().scaled(0.02);
    t.discoveryWindow = Millis(150);
    t.queryWindow = Millis(150);
    t.tries = 2;
    return t;
}

inline DeviceRecord MakeRecord(const MacAddress& mac, std::string_view hardware = "Q3100",
                               std::string_view firmware = "4.55.1K03", int adapterIndex = 0) {
    DeviceRecord r;
    r.setMac(mac);
    auto hw = r.field(identity_offset::kHardwareVersion, kHardwareVersionWidth);
    std::memcpy(hw.data(), hardware.data(), std::min(hardware.size(), hw.size() - 1));
    auto fw = r.field(identity_offset::kFirmwareVersion, kFirmwareVersionWidth);
    std::memcpy(fw.data(), firmware.data(), std::min(firmware.size(), fw.size() - 1));
    r.setAdapterIndex(adapterIndex);
    return r;
}

struct ListedDevice {
    DeviceRecord record;
    std::string address;
};

// What a search would produce for these devices, in this table order.
inline SearchResult MakeResult(const std::vector<ListedDevice>& devices) {
    SearchResult result;
    for (const auto& d : devices) {
        DeviceRecord r = d.record;
        const std::string serial = SerialText(r.mac());
        r.setSerialText(serial);
        result.table.records.push_back(r);
        result.slots.push_back(MakeSlot(r));
        result.rows.push_back({serial, d.address});
    }
    SortDisplayRows(result.rows);
    return result;
}

struct ScriptedDevice {
    DeviceRecord identity = MakeRecord(DeviceMac(1));
    SettingsBlock settings;
    bool answerDiscovery = true;
    bool answerPasswordCheck = true;
    bool answerSettings = true;
    std::uint16_t passwordStatus = status::kDone;
    std::optional<MacAddress> onlyAnswer; // answer discovery from this adapter only
};

inline SettingsBlock MakeSettings(std::uint32_t ip, std::uint16_t http = 80,
                                  std::uint16_t https = 443) {
    SettingsBlock block;
    block.setRawVersion(31);
    block.setIpAddress(ip);
    block.setPort(settings_offset::kHttpPort, http);
    block.setPort(settings_offset::kHttpsPort, https);
    return block;
}

// One device station on the segment, answering from the delivery thread.
class ScriptedResponder {
  public:
    ScriptedResponder(SimulatedSegment& segment, ScriptedDevice device)
        : device_(std::move(device)) {
        port_ = segment.attachStation(device_.identity.mac(), {});
        port_->start([this](std::span<const std::uint8_t> frame) { onFrame(frame); });
    }
    ~ScriptedResponder() { port_->stop(); }
    ScriptedResponder(const ScriptedResponder&) = delete;
    ScriptedResponder& operator=(const ScriptedResponder&) = delete;

    std::atomic<int> discoveries{0};
    std::atomic<int> passwordChecks{0};
    std::atomic<int> settingsReads{0};
    AutoResetEvent discoverySeen;
    AutoResetEvent passwordCheckSeen;

  private:
    void reply(const MacAddress& to, std::uint16_t code, std::uint16_t status,
               std::span<const std::uint8_t> data) {
        auto frame = BuildRequest(device_.identity.mac(), to, code, "", 0, data,
                                  static_cast<std::uint16_t>(data.size()));
        writeU16(frame->bytes, frame_offset::kStatus, status);
        port_->send(frame->view());
    }

    void onFrame(std::span<const std::uint8_t> frame) {
        const auto header = ParseHeader(frame);
        if (!header || header->etherType != kEtherType || header->version != kProtocolVersion)
            return;
        switch (header->code) {
        case code::kDiscover:
            ++discoveries;
            discoverySeen.set();
            if (device_.answerDiscovery &&
                (!device_.onlyAnswer || *device_.onlyAnswer == header->source))
                reply(header->source, code::kDiscoverReply, 0, device_.identity.bytes);
            break;
        case code::kCheckPassword:
            ++passwordChecks;
            passwordCheckSeen.set();
            if (device_.answerPasswordCheck)
                reply(header->source, code::kPasswordReply, device_.passwordStatus, {});
            break;
        case code::kReadSettings:
            ++settingsReads;
            if (device_.answerSettings)
                reply(header->source, code::kSettingsReply, status::kDone,
                      device_.settings.readArea());
            break;
        default:
            break;
        }
    }

    ScriptedDevice device_;
    std::unique_ptr<PacketPort> port_;
};

} // namespace korvane::test
