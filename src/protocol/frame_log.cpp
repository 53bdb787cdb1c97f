#include "protocol/frame_log.hpp"

#include "base/byte_cursor.hpp"
#include "base/printable_text.hpp"
#include "protocol/frame.hpp"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <optional>

namespace korvane {

namespace {

// Named here rather than taken from the address-conflict check, which sits
// above the protocol.
constexpr std::uint16_t kArpEtherTypeValue = 0x0806;

std::string hex16(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

std::string timeText(std::chrono::milliseconds timeOfDay) {
    const long long total = timeOfDay.count();
    char text[64]; // room for any value, though a time of day needs 12
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld", total / 3'600'000 % 24,
                  total / 60'000 % 60, total / 1000 % 60, total % 1000);
    return text;
}

// The head after the EtherType: version, code, parameter, status, password.
// Each field is shown when the frame holds it whole.
void describeProtocolFrame(std::span<const std::uint8_t> frame, std::string& line) {
    const auto version = ByteReader(frame, frame_offset::kVersion).u16();
    const auto code = ByteReader(frame, frame_offset::kCode).u16();
    const auto parameter = ByteReader(frame, frame_offset::kParameter).u16();
    const auto status = ByteReader(frame, frame_offset::kStatus).u16();
    if (!version || !code) {
        line += " protocol frame";
    } else {
        const std::string_view name = CommandName(*code);
        line += ' ';
        line += name.empty() ? hex16(*code) : std::string(name) + " (" + hex16(*code) + ")";
        if (*version != kProtocolVersion)
            line += " version " + std::to_string(*version);
        if (*code == code::kFirmwareBlock && parameter)
            line += " block " + std::to_string(*parameter);
        if (status)
            line += " status " + std::to_string(*status);
    }
    // Whether the password field holds anything, and not one character more.
    if (frame.size() > frame_offset::kPassword) {
        const auto field =
            frame.subspan(frame_offset::kPassword,
                          std::min(kPasswordField, frame.size() - frame_offset::kPassword));
        if (std::any_of(field.begin(), field.end(), [](std::uint8_t b) { return b != 0; }))
            line += ", with password";
    }
    if (frame.size() < kFrameHead)
        line += ", head cut short";
}

std::chrono::milliseconds localTimeOfDay(std::chrono::system_clock::time_point now) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) %
        std::chrono::seconds(1);
    return std::chrono::hours(local.tm_hour) + std::chrono::minutes(local.tm_min) +
           std::chrono::seconds(local.tm_sec) + millis;
}

} // namespace

std::string FormatFrameLogLine(std::chrono::milliseconds timeOfDay, FrameDirection direction,
                               std::string_view adapter, std::span<const std::uint8_t> frame) {
    const bool sent = direction == FrameDirection::Sent;
    std::string line = timeText(timeOfDay);
    line += sent ? " sent " : " received ";
    line += PrintableText(adapter);

    // Each field read at its own offset: a failed read does not move a
    // cursor, so reading them in a row would take later fields from the
    // wrong place in a short frame.
    const auto destination = ByteReader(frame, frame_offset::kDestination).bytes(6);
    const auto source = ByteReader(frame, frame_offset::kSource).bytes(6);
    const auto etherType = ByteReader(frame, frame_offset::kEtherType).u16();
    if (const auto peer = sent ? destination : source)
        line += (sent ? " to " : " from ") + MacAddress::fromBytes(*peer).toString();
    if (!etherType)
        line += " short frame";
    else if (*etherType == kEtherType)
        describeProtocolFrame(frame, line);
    else if (*etherType == kArpEtherTypeValue)
        line += " ARP";
    else
        line += " EtherType " + hex16(*etherType);
    line += ", " + std::to_string(frame.size()) + " bytes";
    return line;
}

struct FrameLogDriver::Log {
    explicit Log(Sink s) : sink(std::move(s)) {}

    void write(FrameDirection direction, const std::string& adapter,
               std::span<const std::uint8_t> frame) {
        if (!sink)
            return;
        // The time is taken under the lock, so that lines come out in time order.
        std::lock_guard lock(mutex);
        sink(FormatFrameLogLine(localTimeOfDay(std::chrono::system_clock::now()), direction,
                                adapter, frame));
    }

    void sendFailed(const std::string& adapter, const std::string& error) {
        if (!sink)
            return;
        std::lock_guard lock(mutex);
        sink(timeText(localTimeOfDay(std::chrono::system_clock::now())) + " send failed on " +
             PrintableText(adapter) + (error.empty() ? "" : ": " + PrintableText(error)));
    }

    std::mutex mutex; // a leaf: held only around one call of the sink
    Sink sink;
};

namespace {

class FrameLogPort : public PacketPort {
  public:
    FrameLogPort(std::unique_ptr<PacketPort> inner, std::string adapter,
                 std::shared_ptr<FrameLogDriver::Log> log)
        : inner_(std::move(inner)), adapter_(std::move(adapter)), log_(std::move(log)) {}

    MacAddress mac() const override { return inner_->mac(); }

    bool send(std::span<const std::uint8_t> frame) override {
        log_->write(FrameDirection::Sent, adapter_, frame);
        if (inner_->send(frame))
            return true;
        log_->sendFailed(adapter_, inner_->lastError());
        return false;
    }

    void start(Receiver receiver, EndHandler ended) override {
        inner_->start(
            [log = log_, adapter = adapter_,
             receiver = std::move(receiver)](std::span<const std::uint8_t> frame) {
                log->write(FrameDirection::Received, adapter, frame);
                receiver(frame);
            },
            std::move(ended));
    }

    void stop() override { inner_->stop(); }
    std::string lastError() const override { return inner_->lastError(); }
    std::uint64_t droppedByBackend() const override { return inner_->droppedByBackend(); }
    std::optional<std::chrono::steady_clock::time_point> deliveringFrameSentAt() const override {
        return inner_->deliveringFrameSentAt();
    }

  private:
    std::unique_ptr<PacketPort> inner_;
    const std::string adapter_;
    std::shared_ptr<FrameLogDriver::Log> log_;
};

} // namespace

FrameLogDriver::FrameLogDriver(PacketDriver& inner, Sink sink)
    : inner_(inner), log_(std::make_shared<Log>(std::move(sink))) {}

std::vector<AdapterInfo> FrameLogDriver::listAdapters() {
    return inner_.listAdapters();
}

OpenResult FrameLogDriver::open(const std::string& name, const OpenOptions& options) {
    OpenResult result = inner_.open(name, options);
    if (result.port)
        result.port = std::make_unique<FrameLogPort>(std::move(result.port), name, log_);
    return result;
}

} // namespace korvane
