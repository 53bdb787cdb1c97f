#include "relay/relay_protocol.hpp"

#include "base/byte_cursor.hpp"
#include "link/adapter_link.hpp"
#include "link/ethernet.hpp"
#include "protocol/arp.hpp"

#include <algorithm>
#include <cstdio>

namespace korvane::relay {

namespace {

bool knownType(std::uint8_t type) {
    switch (static_cast<MessageType>(type)) {
    case MessageType::List:
    case MessageType::Open:
    case MessageType::Send:
    case MessageType::Hello:
    case MessageType::Adapter:
    case MessageType::ListEnd:
    case MessageType::Opened:
    case MessageType::OpenFailed:
    case MessageType::Frame:
    case MessageType::Refused:
    case MessageType::SendFailed:
    case MessageType::Dropped:
    case MessageType::Ended:
    case MessageType::Error:
        return true;
    }
    return false;
}

std::optional<std::uint64_t> readU64(ByteReader& r) {
    const auto high = r.u32();
    const auto low = r.u32();
    if (!high || !low)
        return std::nullopt;
    return (std::uint64_t{*high} << 32) | *low;
}

std::optional<std::string_view> readText(ByteReader& r) {
    const auto length = r.u16();
    if (!length || *length > kMaxText)
        return std::nullopt;
    const auto bytes = r.bytes(*length);
    if (!bytes)
        return std::nullopt;
    return std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size());
}

std::optional<MacAddress> readMac(ByteReader& r) {
    const auto bytes = r.block<6>();
    if (!bytes)
        return std::nullopt;
    return MacAddress::fromBytes(*bytes);
}

std::string hex16(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

// A growing message body; the length goes in front when it is done.
class Body {
  public:
    void u8(std::uint8_t v) { bytes_.push_back(v); }
    void u16(std::uint16_t v) {
        u8(static_cast<std::uint8_t>(v >> 8));
        u8(static_cast<std::uint8_t>(v));
    }
    void u32(std::uint32_t v) {
        u16(static_cast<std::uint16_t>(v >> 16));
        u16(static_cast<std::uint16_t>(v));
    }
    void u64(std::uint64_t v) {
        u32(static_cast<std::uint32_t>(v >> 32));
        u32(static_cast<std::uint32_t>(v));
    }
    void bytes(std::span<const std::uint8_t> b) { bytes_.insert(bytes_.end(), b.begin(), b.end()); }
    bool text(std::string_view t) {
        if (t.size() > kMaxText)
            return false;
        u16(static_cast<std::uint16_t>(t.size()));
        bytes({reinterpret_cast<const std::uint8_t*>(t.data()), t.size()});
        return true;
    }
    std::vector<std::uint8_t>& get() { return bytes_; }

  private:
    std::vector<std::uint8_t> bytes_;
};

} // namespace

std::optional<Message> DecodeMessage(std::span<const std::uint8_t> body, std::string& error) {
    ByteReader r(body);
    const auto type = r.u8();
    if (!type) {
        error = "an empty message";
        return std::nullopt;
    }
    if (!knownType(*type)) {
        error = "a message of unknown type " + std::to_string(*type);
        return std::nullopt;
    }
    Message m;
    m.type = static_cast<MessageType>(*type);
    bool ok = true;
    switch (m.type) {
    case MessageType::List:
    case MessageType::ListEnd:
        break;
    case MessageType::Open: {
        const auto kind = r.u8();
        const auto address = r.u32();
        const auto name = readText(r);
        ok = kind && address && name &&
             (*kind == static_cast<std::uint8_t>(PortKind::Protocol) ||
              *kind == static_cast<std::uint8_t>(PortKind::ArpProbe));
        if (ok) {
            m.kind = static_cast<PortKind>(*kind);
            m.number32 = *address;
            m.text = *name;
        }
        break;
    }
    case MessageType::Send:
    case MessageType::Frame: {
        if (m.type == MessageType::Frame) {
            const auto stamp = readU64(r);
            ok = stamp.has_value();
            m.number64 = stamp.value_or(0);
        }
        const std::size_t length = r.remaining();
        ok = ok && length > 0 && length <= kMaxFrame;
        if (ok)
            m.frame = *r.bytes(length);
        break;
    }
    case MessageType::Hello: {
        const auto version = r.u32();
        ok = version.has_value();
        m.number32 = version.value_or(0);
        break;
    }
    case MessageType::Adapter: {
        const auto name = readText(r);
        const auto description = readText(r);
        const auto mac = readMac(r);
        ok = name && description && mac;
        if (ok) {
            m.text = *name;
            m.description = *description;
            m.mac = *mac;
        }
        break;
    }
    case MessageType::Opened: {
        const auto mac = readMac(r);
        ok = mac.has_value();
        m.mac = mac.value_or(MacAddress{});
        break;
    }
    case MessageType::OpenFailed: {
        const auto failure = r.u8();
        const auto text = readText(r);
        ok = failure && text && *failure <= static_cast<std::uint8_t>(OpenFailure::Other);
        if (ok) {
            m.failure = static_cast<OpenFailure>(*failure);
            m.text = *text;
        }
        break;
    }
    case MessageType::Refused: {
        const auto count = readU64(r);
        const auto text = readText(r);
        ok = count && text;
        if (ok) {
            m.number64 = *count;
            m.text = *text;
        }
        break;
    }
    case MessageType::Dropped: {
        const auto count = readU64(r);
        ok = count.has_value();
        m.number64 = count.value_or(0);
        break;
    }
    case MessageType::SendFailed:
    case MessageType::Ended:
    case MessageType::Error: {
        const auto text = readText(r);
        ok = text.has_value();
        m.text = text.value_or(std::string_view{});
        break;
    }
    }
    if (!ok) {
        error = "a malformed message of type " + std::to_string(*type);
        return std::nullopt;
    }
    if (r.remaining() != 0) {
        error = "a message of type " + std::to_string(*type) + " with " +
                std::to_string(r.remaining()) + " bytes too many";
        return std::nullopt;
    }
    return m;
}

bool AppendMessage(std::vector<std::uint8_t>& out, const Message& m) {
    Body b;
    b.u8(static_cast<std::uint8_t>(m.type));
    bool ok = true;
    switch (m.type) {
    case MessageType::List:
    case MessageType::ListEnd:
        break;
    case MessageType::Open:
        b.u8(static_cast<std::uint8_t>(m.kind));
        b.u32(m.number32);
        ok = b.text(m.text);
        break;
    case MessageType::Send:
    case MessageType::Frame:
        if (m.type == MessageType::Frame)
            b.u64(m.number64);
        ok = !m.frame.empty() && m.frame.size() <= kMaxFrame;
        b.bytes(m.frame);
        break;
    case MessageType::Hello:
        b.u32(m.number32);
        break;
    case MessageType::Adapter:
        ok = b.text(m.text) && b.text(m.description);
        b.bytes(m.mac.bytes);
        break;
    case MessageType::Opened:
        b.bytes(m.mac.bytes);
        break;
    case MessageType::OpenFailed:
        b.u8(static_cast<std::uint8_t>(m.failure));
        ok = b.text(m.text);
        break;
    case MessageType::Refused:
        b.u64(m.number64);
        ok = b.text(m.text);
        break;
    case MessageType::Dropped:
        b.u64(m.number64);
        break;
    case MessageType::SendFailed:
    case MessageType::Ended:
    case MessageType::Error:
        ok = b.text(m.text);
        break;
    }
    const auto& body = b.get();
    if (!ok || body.size() > kMaxMessage)
        return false;
    const auto length = static_cast<std::uint32_t>(body.size());
    out.push_back(static_cast<std::uint8_t>(length >> 24));
    out.push_back(static_cast<std::uint8_t>(length >> 16));
    out.push_back(static_cast<std::uint8_t>(length >> 8));
    out.push_back(static_cast<std::uint8_t>(length));
    out.insert(out.end(), body.begin(), body.end());
    return true;
}

std::span<std::uint8_t> MessageReader::space() {
    compact();
    if (buffer_.size() - end_ < kReadChunk / 2)
        buffer_.resize(end_ + kReadChunk);
    return std::span(buffer_).subspan(end_);
}

void MessageReader::consumed(std::size_t n) {
    end_ += std::min(n, buffer_.size() - end_);
}

void MessageReader::feed(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        auto room = space();
        const std::size_t n = std::min(room.size(), bytes.size());
        std::copy_n(bytes.begin(), n, room.begin());
        consumed(n);
        bytes = bytes.subspan(n);
    }
}

void MessageReader::compact() {
    if (begin_ == 0)
        return;
    std::copy(buffer_.begin() + static_cast<std::ptrdiff_t>(begin_),
              buffer_.begin() + static_cast<std::ptrdiff_t>(end_), buffer_.begin());
    end_ -= begin_;
    begin_ = 0;
    // A burst may have grown the buffer; what one message needs stays.
    if (buffer_.size() > 4 * kReadChunk && end_ < kReadChunk)
        buffer_.resize(kReadChunk);
}

MessageReader::Status MessageReader::next(std::span<const std::uint8_t>& body, std::string& error) {
    const std::size_t held = end_ - begin_;
    if (held < kLengthBytes)
        return Status::NeedMore;
    const std::uint32_t length =
        loadU32<0>(std::span<const std::uint8_t>(buffer_).subspan(begin_).first<kLengthBytes>());
    if (length == 0 || length > kMaxMessage) {
        error = "a message length of " + std::to_string(length) + " bytes (at most " +
                std::to_string(kMaxMessage) + ")";
        return Status::Malformed;
    }
    if (held < kLengthBytes + length)
        return Status::NeedMore;
    body = std::span<const std::uint8_t>(buffer_).subspan(begin_ + kLengthBytes, length);
    begin_ += kLengthBytes + length;
    return Status::Message;
}

std::string RefusalOf(PortKind kind, const MacAddress& own, std::span<const std::uint8_t> frame) {
    if (kind == PortKind::ArpProbe) {
        if (IsArpProbeFrom(frame, own))
            return {};
        return "a port of the address probe sends only its ARP request (broadcast, from the "
               "adapter's own MAC " +
               own.toString() + ", sender address 0.0.0.0)";
    }
    if (frame.size() < kEthernetHeaderLength || frame.size() > kMaxLinkFrame)
        return "a frame of " + std::to_string(frame.size()) + " bytes (14 to " +
               std::to_string(kMaxLinkFrame) + " pass)";
    const auto head = frame.first<kEthernetHeaderLength>();
    const std::uint16_t etherType = loadU16<kEtherTypeOffset>(head);
    if (etherType != kProtocolEtherType)
        return "EtherType " + hex16(etherType) + " (only " + hex16(kProtocolEtherType) + " passes)";
    const MacAddress source = MacAddress::fromBytes(head.subspan<kSourceMacOffset, 6>());
    if (source != own)
        return "source " + source.toString() + " is not the adapter's own MAC " + own.toString();
    return {};
}

std::vector<BpfInstruction> FilterOf(PortKind kind, std::uint32_t probeAddress) {
    if (kind == PortKind::ArpProbe)
        return ArpReplyFilter(probeAddress);
    const auto program = protocolFilterProgram();
    return {program.begin(), program.end()};
}

std::optional<PortRequest> PortRequestOf(const OpenOptions& options) {
    if (options.promiscuous)
        return std::nullopt;
    const auto same = [](std::span<const BpfInstruction> a, std::span<const BpfInstruction> b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                          [](const BpfInstruction& x, const BpfInstruction& y) {
                              return x.code == y.code && x.jt == y.jt && x.jf == y.jf && x.k == y.k;
                          });
    };
    if (same(options.filter, protocolFilterProgram()))
        return PortRequest{PortKind::Protocol, 0};
    // The probe's filter names its address in one instruction; the rest must match.
    for (const BpfInstruction& in : options.filter) {
        const auto probe = ArpReplyFilter(in.k);
        if (same(options.filter, probe))
            return PortRequest{PortKind::ArpProbe, in.k};
    }
    return std::nullopt;
}

} // namespace korvane::relay
