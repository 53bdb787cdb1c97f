#include "protocol/frame_log.hpp"

#include "base/byte_cursor.hpp"
#include "base/platform.hpp"
#include "base/printable_text.hpp"
#include "link/ethernet.hpp"
#include "protocol/frame.hpp"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <optional>

namespace korvane {

namespace {

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
    const std::tm local = platform::LocalTime(seconds);
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
    const auto destination = ByteReader(frame, frame_offset::kDestination).block<6>();
    const auto source = ByteReader(frame, frame_offset::kSource).block<6>();
    const auto etherType = ByteReader(frame, frame_offset::kEtherType).u16();
    if (const auto peer = sent ? destination : source)
        line += (sent ? " to " : " from ") + MacAddress::fromBytes(*peer).toString();
    if (!etherType)
        line += " short frame";
    else if (*etherType == kProtocolEtherType)
        describeProtocolFrame(frame, line);
    else if (*etherType == kArpEtherType)
        line += " ARP";
    else
        line += " EtherType " + hex16(*etherType);
    line += ", " + std::to_string(frame.size()) + " bytes";
    return line;
}

namespace {

// Each frame as one line to the sink.
class FrameLog : public FrameTap {
  public:
    explicit FrameLog(FrameLogDriver::Sink sink) : sink_(std::move(sink)) {}

    void sent(const std::string& adapter, std::span<const std::uint8_t> frame) override {
        write(FrameDirection::Sent, adapter, frame);
    }
    void received(const std::string& adapter, std::span<const std::uint8_t> frame) override {
        write(FrameDirection::Received, adapter, frame);
    }
    void sendFailed(const std::string& adapter, const std::string& error) override {
        if (!sink_)
            return;
        std::lock_guard lock(mutex_);
        sink_(timeText(localTimeOfDay(std::chrono::system_clock::now())) + " send failed on " +
              PrintableText(adapter) + (error.empty() ? "" : ": " + PrintableText(error)));
    }

  private:
    void write(FrameDirection direction, const std::string& adapter,
               std::span<const std::uint8_t> frame) {
        if (!sink_)
            return;
        // The time is taken under the lock, so that lines come out in time order.
        std::lock_guard lock(mutex_);
        sink_(FormatFrameLogLine(localTimeOfDay(std::chrono::system_clock::now()), direction,
                                 adapter, frame));
    }

    std::mutex mutex_; // a leaf: held only around one call of the sink
    FrameLogDriver::Sink sink_;
};

} // namespace

FrameLogDriver::FrameLogDriver(PacketDriver& inner, Sink sink)
    : TappingDriver(inner, std::make_shared<FrameLog>(std::move(sink))) {}

} // namespace korvane
