#include "protocol/frame.hpp"

#include "base/byte_cursor.hpp"

#include <cstring>

namespace korvane {

std::uint32_t BlockChecksum(std::span<const std::uint8_t> bytes) {
    std::uint32_t sum = 0;
    for (const std::uint8_t b : bytes)
        sum += b;
    return sum;
}

std::string_view CommandName(std::uint16_t value) {
    switch (value) {
    case code::kBootQuery:
        return "boot query";
    case code::kBootReply:
        return "boot reply";
    case code::kDiscover:
        return "discover";
    case code::kDiscoverReply:
        return "discover reply";
    case code::kWriteSettings:
        return "write settings";
    case code::kReadSettings:
        return "read settings";
    case code::kSettingsReply:
        return "settings reply";
    case code::kFirmwareBlock:
        return "firmware block";
    case code::kFirmwareEnd:
        return "end of transfer";
    case code::kFirmwareReply:
        return "firmware reply";
    case code::kFirmwareNotice:
        return "completion notice";
    case code::kCheckPassword:
        return "check password";
    case code::kSetPassword:
        return "set password";
    case code::kPasswordReply:
        return "password reply";
    case code::kWriteFactory:
        return "write factory block";
    case code::kFactoryReply:
        return "factory reply";
    default:
        return {};
    }
}

bool PasswordFitsFrame(std::string_view password) {
    return password.size() <= kMaxFramePassword && password.find('\0') == std::string_view::npos;
}

namespace {
void writeHead(ByteWriter& out, const MacAddress& destination, const MacAddress& source,
               std::uint16_t command) {
    out.bytes(destination.bytes);
    out.bytes(source.bytes);
    out.u16(kProtocolEtherType);
    out.u16(kProtocolVersion);
    out.u16(command);
}
} // namespace

std::optional<RequestFrame> BuildRequest(const MacAddress& source, const MacAddress& target,
                                         std::uint16_t command, std::string_view password,
                                         std::uint16_t parameter,
                                         std::span<const std::uint8_t> data,
                                         std::uint16_t dataLength) {
    if (!PasswordFitsFrame(password))
        return std::nullopt;
    if (dataLength > kMaxRequestData || (!data.empty() && data.size() < dataLength))
        return std::nullopt;
    RequestFrame frame;
    ByteWriter out(frame.bytes);
    writeHead(out, target, source, command);
    out.u16(parameter);
    out.u16(0); // status
    out.text(password, kPasswordField);
    if (!data.empty() && dataLength != 0) {
        out.u16(dataLength);
        out.bytes(data.first(dataLength));
    }
    // A query carries no data: its length field stays 0 and the area the reply
    // fills stays zero, but the frame is still sent at the full length.
    frame.length = std::size_t{dataLength} + kFrameHead + kFrameTail;
    return frame;
}

RequestFrame BuildDiscoveryRequest(const MacAddress& source) {
    RequestFrame frame;
    ByteWriter out(frame.bytes);
    writeHead(out, MacAddress::broadcast(), source, code::kDiscover);
    frame.length = kDiscoveryRequestLength;
    return frame;
}

std::optional<FrameHeader> ParseHeader(std::span<const std::uint8_t> frame) {
    ByteReader in(frame);
    FrameHeader h;
    const auto destination = in.block<6>();
    const auto source = in.block<6>();
    const auto etherType = in.u16();
    const auto version = in.u16();
    const auto code = in.u16();
    const auto parameter = in.u16();
    const auto status = in.u16();
    if (!destination || !source || !etherType || !version || !code || !parameter || !status)
        return std::nullopt;
    h.destination = MacAddress::fromBytes(*destination);
    h.source = MacAddress::fromBytes(*source);
    h.etherType = *etherType;
    h.version = *version;
    h.code = *code;
    h.parameter = *parameter;
    h.status = *status;
    return h;
}

ReplyMatch MatchReply(std::span<const std::uint8_t> frame, const MacAddress& own,
                      const MacAddress& target, std::uint16_t replyCode) {
    const auto header = ParseHeader(frame);
    if (!header)
        return ReplyMatch::Malformed;
    if (header->source == own)
        return ReplyMatch::OwnFrame;
    if (header->source != target)
        return ReplyMatch::OtherSource;
    if (header->version != kProtocolVersion || header->code != replyCode)
        return ReplyMatch::NotThisReply;
    return ReplyMatch::Reply;
}

} // namespace korvane
