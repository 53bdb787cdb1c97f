#pragma once

// Helpers of the configuration tests: a scripted device station on a
// simulated segment that answers the configuration commands and records
// every request it gets, and a scripted Operator.

#include "base/byte_cursor.hpp"
#include "base/operator.hpp"
#include "config/blocks.hpp"
#include "link/simulated_segment.hpp"
#include "protocol/context.hpp"
#include "protocol/device_identity.hpp"
#include "protocol/frame.hpp"

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace korvane::testing {

inline const MacAddress kAdapterMac{{0x02, 0x00, 0x00, 0x00, 0x00, 0x01}};
inline const MacAddress kDeviceMac{{0x02, 0x19, 0xA7, 0x00, 0x01, 0x23}};

// A device that keeps a settings block and a password and answers 0x7001,
// 0x2002, 0x2001, 0x7002 and 0xF0F0 as the firmware does.
class ScriptedDevice {
  public:
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

    ScriptedDevice(SimulatedSegment& segment, MacAddress mac) : mac_(mac) {
        OpenOptions options;
        options.filter.assign(protocolFilterProgram().begin(), protocolFilterProgram().end());
        port_ = segment.attachStation(mac, std::move(options));
        port_->start([this](std::span<const std::uint8_t> frame) { onFrame(frame); });
    }
    ~ScriptedDevice() { port_->stop(); }

    void setPassword(std::string password) {
        std::lock_guard lock(mutex_);
        password_ = std::move(password);
    }
    std::string password() const {
        std::lock_guard lock(mutex_);
        return password_;
    }
    void setSettings(const SettingsBlock& block) {
        std::lock_guard lock(mutex_);
        settings_ = block;
    }
    SettingsBlock settings() const {
        std::lock_guard lock(mutex_);
        return settings_;
    }
    // Statuses for the next requests with `command`, in order; afterwards the usual answer.
    void scriptStatuses(std::uint16_t command, std::vector<std::uint16_t> statuses) {
        std::lock_guard lock(mutex_);
        auto& queue = scripted_[command];
        queue.insert(queue.end(), statuses.begin(), statuses.end());
    }
    // The record the device sends in its discovery reply (bytes 0..59 are the device's).
    void setIdentity(const DeviceIdentity& identity) {
        std::lock_guard lock(mutex_);
        identity_ = identity;
    }
    void setSilent(bool silent) {
        std::lock_guard lock(mutex_);
        silent_ = silent;
    }
    std::vector<Request> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    std::vector<Request> requests(std::uint16_t code) const {
        std::vector<Request> out;
        for (auto& r : requests())
            if (r.code == code)
                out.push_back(r);
        return out;
    }
    void clearRequests() {
        std::lock_guard lock(mutex_);
        requests_.clear();
    }

  private:
    void onFrame(std::span<const std::uint8_t> frame) {
        const auto header = ParseHeader(frame);
        if (!header)
            return;
        if (header->destination.isBroadcast() && header->code == code::kDiscover) {
            std::vector<std::uint8_t> identity;
            {
                std::lock_guard lock(mutex_);
                if (silent_)
                    return;
                identity.assign(identity_.bytes.begin(), identity_.bytes.begin() + 60);
            }
            identity.resize(kIdentitySize, 0);
            sendReply(header->source, code::kDiscoverReply, 0, identity);
            return;
        }
        if (header->destination != mac_)
            return;
        Request request;
        request.code = header->code;
        request.password = std::string(fieldText(frame.subspan(frame_offset::kPassword, 16)));
        request.frame.assign(frame.begin(), frame.end());

        std::uint16_t replyCode = 0;
        std::uint16_t status = 0;
        std::vector<std::uint8_t> replyData;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
            if (silent_)
                return;
            const bool passwordOk = request.password == password_;
            status = passwordOk ? status::kDone : status::kPasswordRefused;
            switch (header->code) {
            case code::kCheckPassword:
                replyCode = code::kPasswordReply;
                break;
            case code::kReadSettings:
                replyCode = code::kSettingsReply;
                replyData.assign(settings_.bytes.begin(), settings_.bytes.begin() + 68);
                break;
            case code::kWriteSettings: {
                replyCode = code::kSettingsReply;
                const auto data = request.data();
                if (passwordOk && data.size() >= 68)
                    std::copy_n(data.begin(), 68, settings_.bytes.begin());
                break;
            }
            case code::kSetPassword: {
                replyCode = code::kPasswordReply;
                const auto data = request.data();
                if (passwordOk && data.size() == kPasswordBlockSize)
                    password_ =
                        std::string(fieldText(std::span<const std::uint8_t>(data).subspan(4, 20)));
                break;
            }
            case code::kWriteFactory:
                replyCode = code::kFactoryReply;
                break;
            default:
                return;
            }
            auto& queue = scripted_[header->code];
            if (!queue.empty()) {
                status = queue.front();
                queue.pop_front();
            }
        }
        sendReply(header->source, replyCode, status, replyData);
    }

    void sendReply(const MacAddress& to, std::uint16_t replyCode, std::uint16_t status,
                   const std::vector<std::uint8_t>& replyData) {
        std::vector<std::uint8_t> reply(frame_offset::kData + replyData.size() + 2, 0);
        ByteWriter w(reply);
        w.bytes(to.bytes);
        w.bytes(mac_.bytes);
        w.u16(kEtherType);
        w.u16(kProtocolVersion);
        w.u16(replyCode);
        w.u16(0);
        w.u16(status);
        w.seek(frame_offset::kDataLength);
        w.u16(static_cast<std::uint16_t>(replyData.size()));
        w.bytes(replyData);
        port_->send(reply);
    }

    MacAddress mac_;
    mutable std::mutex mutex_;
    std::string password_;
    SettingsBlock settings_;
    std::map<std::uint16_t, std::deque<std::uint16_t>> scripted_;
    DeviceIdentity identity_;
    bool silent_ = false;
    std::vector<Request> requests_;
    std::unique_ptr<PacketPort> port_;
};

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
    bool askYesNo(const std::string& text, MessageIcon) override {
        questions.push_back(text);
        if (answers.empty())
            return false;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    BlockFailureChoice askAbortRetryIgnore(const std::string&) override {
        return BlockFailureChoice::Abort;
    }
    void showMessage(const std::string& text, MessageIcon) override { messages.push_back(text); }
};

// A record as the device reports it, found on adapter 0.
inline DeviceIdentity DeviceRecord(const MacAddress& mac, std::string_view firmware = "1.2.3-A") {
    DeviceIdentity identity;
    identity.setMac(mac);
    identity.setAdapterIndex(0);
    const std::string_view hw = "HW-2.1";
    std::copy(hw.begin(), hw.end(),
              identity.bytes.begin() +
                  static_cast<std::ptrdiff_t>(identity_offset::kHardwareVersion));
    std::copy(firmware.begin(), firmware.end(),
              identity.bytes.begin() +
                  static_cast<std::ptrdiff_t>(identity_offset::kFirmwareVersion));
    return identity;
}

// A segment with one adapter, a context on it and one scripted device.
struct DeviceFixture {
    SimulatedSegment segment;
    Context ctx;
    ScriptedDevice device;
    DeviceIdentity identity;

    explicit DeviceFixture(double timeScale = 0.05)
        : segment(), ctx(addAdapter(segment), Timing::defaults().scaled(timeScale)),
          device(segment, kDeviceMac) {
        ctx.link.setDiagnosticSink(nullptr);
        ctx.enumerateAdapters();
        ctx.openAdapter(0);
        identity = DeviceRecord(kDeviceMac);
        device.setIdentity(identity);
    }

    // A device that does not answer costs every try's window: keep them short.
    void shortWindows() {
        ctx.timing.queryWindow = Millis(5);
        ctx.timing.commandWindow = Millis(5);
    }

  private:
    static SimulatedSegment& addAdapter(SimulatedSegment& segment) {
        segment.addAdapter("sim0", "Simulated", kAdapterMac);
        return segment;
    }
};

// A block as a current device in static mode has it.
inline SettingsBlock StaticBlock(std::uint16_t version = 40) {
    SettingsBlock b;
    b.setRawVersion(version);
    b.setAddressMode(AddressMode::Static);
    b.setIpAddress(0xC0A80164);  // 192.168.1.100
    b.setSubnetMask(0xFFFFFF00); // 255.255.255.0
    b.setGateway(0xC0A80101);    // 192.168.1.1
    b.setPort(settings_offset::kHttpPort, 80);
    b.setPort(settings_offset::kTelnetPort, 23);
    b.setPort(settings_offset::kHttpsPort, 443);
    b.setPort(settings_offset::kSshPort, 22);
    for (std::size_t i = 10; i < 23; ++i)
        b.bytes[i] = static_cast<std::uint8_t>(0xA0 + i);
    for (std::size_t i = 48; i < 68; ++i)
        b.bytes[i] = static_cast<std::uint8_t>(0x30 + i);
    return b;
}

} // namespace korvane::testing
