#pragma once

// Helpers for the device-list tests: emulated devices on a simulated segment
// with one or two adapters, and hand-built search results.

#include "base/byte_cursor.hpp"
#include "config/blocks.hpp"
#include "devices/device_table.hpp"
#include "link/simulated_segment.hpp"
#include "protocol/context.hpp"
#include "protocol/frame.hpp"
#include "sim/device_emulator.hpp"

#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
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

inline SettingsBlock MakeSettings(std::uint32_t ip, std::uint16_t http = 80,
                                  std::uint16_t https = 443) {
    SettingsBlock block;
    block.setRawVersion(31);
    block.setIpAddress(ip);
    block.setPort<settings_offset::kHttpPort>(http);
    block.setPort<settings_offset::kHttpsPort>(https);
    return block;
}

// The utility's adapters (one or two) and emulated devices on one segment.
class DeviceSegment {
  public:
    static constexpr MacAddress kAdapter0{{0x02, 0x00, 0x00, 0x5E, 0x00, 0x01}};
    static constexpr MacAddress kAdapter1{{0x02, 0x00, 0x00, 0x5E, 0x00, 0x02}};

    explicit DeviceSegment(int adapters, Timing timing = TestTiming()) {
        segment.addAdapter("sim0", "first", kAdapter0);
        if (adapters > 1)
            segment.addAdapter("sim1", "second", kAdapter1);
        OpenOptions station;
        station.promiscuous = true;
        emulator = std::make_unique<sim::DeviceEmulator>(
            segment.attachStation({{0x02, 0x00, 0x00, 0x5E, 0x00, 0xFE}}, station));
        emulator->start();
        ctx = std::make_unique<Context>(segment, timing);
        ctx->link.setDiagnosticSink(nullptr);
        ctx->link.setPermissionReporter(nullptr);
        ctx->enumerateAdapters();
    }
    ~DeviceSegment() {
        ctx.reset(); // the link closes before the devices and the segment go
        emulator.reset();
    }

    // Device 02-19-A7-..-serialLow as it leaves the factory, at 192.168.1.<serialLow>.
    sim::EmulatedDevice& add(std::uint32_t serialLow,
                             const std::function<void(sim::DeviceConfig&)>& tweak = {}) {
        sim::DeviceConfig config =
            sim::DefaultDeviceConfig(static_cast<int>(serialLow) - 1, DeviceMac(serialLow));
        config.settings.setIpAddress(0xC0A80100u | (serialLow & 0xFF));
        if (tweak)
            tweak(config);
        return emulator->addDevice(std::move(config));
    }

    // The device's discovery replies to that adapter are lost on the way.
    void hideFrom(const MacAddress& device, const MacAddress& adapter) {
        {
            std::lock_guard lock(hiddenMutex_);
            hidden_.emplace_back(device, adapter);
        }
        segment.setFrameHook([this](std::span<const std::uint8_t> frame) {
            const auto header = ParseHeader(frame);
            if (!header || header->code != code::kDiscoverReply)
                return true;
            std::lock_guard lock(hiddenMutex_);
            for (const auto& [hiddenDevice, hiddenAdapter] : hidden_)
                if (header->source == hiddenDevice && header->destination == hiddenAdapter)
                    return false;
            return true;
        });
    }

    // Every deviation the devices found in what the utility sent them.
    std::uint64_t violations() {
        std::uint64_t total = 0;
        for (std::size_t i = 0; i < emulator->deviceCount(); ++i)
            for (const std::uint64_t n : emulator->device(i).stats().violations)
                total += n;
        return total;
    }

    SimulatedSegment segment;
    std::unique_ptr<sim::DeviceEmulator> emulator;
    std::unique_ptr<Context> ctx;

  private:
    std::mutex hiddenMutex_;
    std::vector<std::pair<MacAddress, MacAddress>> hidden_;
};

} // namespace korvane::test
