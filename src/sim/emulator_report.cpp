#include "sim/emulator_report.hpp"

#include "protocol/config_blocks.hpp"
#include "sim/device_emulator.hpp"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace korvane::sim {

namespace {

// Keys keep the order they are written in: scripts and people read the
// report in that order, and the tests of the emulator rely on it.
using Json = nlohmann::ordered_json;

std::string hex16(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

Json firmwareReport(const FirmwareRecord& fw) {
    Json out;
    out["has_image"] = fw.hasImage;
    out["accepted"] = fw.accepted;
    out["image_length"] = fw.image.size();
    out["image_sum"] = fw.imageSum;
    out["header_flag"] = fw.headerFlag;
    out["block_order"] = fw.blockOrder;
    out["completed"] = fw.completed;
    out["refused"] = fw.refused;
    out["restarts"] = fw.restarts;
    out["resent_blocks"] = fw.resentBlocks;
    out["receiving_bytes"] = fw.receivingBytes;
    return out;
}

Json deviceReport(EmulatedDevice& device) {
    const DeviceStats s = device.stats();
    Json requests = Json::object();
    for (const auto& [command, count] : s.requests)
        requests[hex16(command)] = count;
    Json violations = Json::object();
    for (std::size_t i = 0; i < kViolationKinds; ++i)
        violations[std::string(ViolationName(static_cast<Violation>(i)))] = s.violations[i];
    const DeviceIdentity identity = device.identity();
    Json out;
    out["mac"] = identity.mac().toString();
    out["serial"] = identity.serialNumber();
    out["hardware_version"] = identity.hardwareVersionDisplay();
    out["firmware_version"] = identity.firmwareVersionDisplay();
    out["ip_address"] = FormatIPv4(device.settings().ipAddress());
    out["has_password"] = !device.password().empty();
    out["requests"] = std::move(requests);
    out["violations"] = std::move(violations);
    out["violations_total"] = s.totalViolations();
    out["dropped"] = s.dropped;
    out["ignored"] = s.ignored;
    out["replies"] = s.replies;
    out["notices"] = s.notices;
    out["refused_passwords"] = s.refusedPasswords;
    out["settings_writes"] = s.settingsWrites;
    out["password_writes"] = s.passwordWrites;
    out["factory_writes"] = s.factoryWrites;
    out["reboots"] = s.reboots;
    out["firmware"] = firmwareReport(device.firmware());
    return out;
}

} // namespace

std::string EmulatorReport(std::string_view interface, DeviceEmulator& emulator) {
    const EmulatorCounters c = emulator.counters();
    Json counters;
    counters["frames_received"] = c.framesReceived;
    counters["frames_for_devices"] = c.framesForDevices;
    counters["frames_sent"] = c.framesSent;
    counters["send_failures"] = c.sendFailures;
    counters["frames_delayed"] = c.framesDelayed;
    counters["arp_replies"] = c.arpReplies;
    Json devices = Json::array();
    for (std::size_t i = 0; i < emulator.deviceCount(); ++i)
        devices.push_back(deviceReport(emulator.device(i)));
    Json report;
    report["interface"] = std::string(interface);
    report["emulator"] = std::move(counters);
    report["devices"] = std::move(devices);
    // ASCII only, and bytes that are no UTF-8 replaced rather than thrown on.
    return report.dump(2, ' ', true, Json::error_handler_t::replace) + "\n";
}

} // namespace korvane::sim
