// The requests a device takes: the command table and the checks a frame
// must pass before the device acts on it.

#include "sim/emulated_device.hpp"

#include "base/byte_cursor.hpp"

namespace korvane::sim {

namespace fo = frame_offset;

std::string_view ViolationName(Violation kind) {
    switch (kind) {
    case Violation::Length:
        return "length";
    case Violation::Version:
        return "version";
    case Violation::UnknownCode:
        return "unknown_code";
    case Violation::Broadcast:
        return "broadcast";
    case Violation::DataLength:
        return "data_length";
    case Violation::Tail:
        return "tail";
    case Violation::QueryArea:
        return "query_area";
    case Violation::StatusField:
        return "status_field";
    case Violation::Parameter:
        return "parameter";
    case Violation::PasswordField:
        return "password_field";
    case Violation::BlockMark:
        return "block_mark";
    case Violation::Checksum:
        return "checksum";
    case Violation::Padding:
        return "padding";
    case Violation::BlockOrder:
        return "block_order";
    case Violation::BlockSize:
        return "block_size";
    case Violation::ImageSum:
        return "image_sum";
    case Violation::HeaderFlag:
        return "header_flag";
    case Violation::FactoryBlock:
        return "factory_block";
    case Violation::NoTransfer:
        return "no_transfer";
    case Violation::CommandGap:
        return "command_gap";
    case Violation::kCount:
        break;
    }
    return "?";
}

std::uint64_t DeviceStats::totalViolations() const {
    std::uint64_t sum = 0;
    for (const auto n : violations)
        sum += n;
    return sum;
}

namespace {

enum class Shape { Discovery, Query, Command };

// What a device takes: for a query, the size of the reply area the request
// leaves zero; for a command, the sizes of data it carries.
struct CommandSpec {
    std::uint16_t command;
    std::uint16_t reply;
    Shape shape;
    std::uint16_t queryArea;
    std::uint16_t minData;
    std::uint16_t maxData;
    bool takesParameter;
};

constexpr CommandSpec kCommands[] = {
    {code::kBootQuery, code::kBootReply, Shape::Query, 8, 0, 0, false},
    {code::kDiscover, code::kDiscoverReply, Shape::Discovery, 0, 0, 0, false},
    {code::kWriteSettings, code::kSettingsReply, Shape::Command, 0, 68, 72, false},
    {code::kReadSettings, code::kSettingsReply, Shape::Query, 68, 0, 0, false},
    {code::kFirmwareBlock, code::kFirmwareReply, Shape::Command, 0, 1, 1024, true},
    {code::kFirmwareEnd, code::kFirmwareReply, Shape::Command, 0, 8, 8, false},
    {code::kCheckPassword, code::kPasswordReply, Shape::Query, 0, 0, 0, false},
    {code::kSetPassword, code::kPasswordReply, Shape::Command, 0, 24, 24, false},
    {code::kWriteFactory, code::kFactoryReply, Shape::Command, 0, 28, 28, false},
};

const CommandSpec* findCommand(std::uint16_t command) {
    for (const auto& entry : kCommands)
        if (entry.command == command)
            return &entry;
    return nullptr;
}

bool dataSizeAllowed(const CommandSpec& entry, std::uint16_t n) {
    if (entry.command == code::kWriteSettings)
        return n == kSettingsIpWriteSize || n == kSettingsSheetWriteSize;
    return n >= entry.minData && n <= entry.maxData;
}

// The exact length, or a shorter frame that the sender's adapter padded to
// the Ethernet minimum. The padding is the adapter's, not the sender's: many
// fill it with zeros, some with whatever their buffer held, so its bytes say
// nothing about the request.
bool lengthFits(std::span<const std::uint8_t> frame, std::size_t expected) {
    return frame.size() == expected ||
           (expected < kEthernetMinFrame && frame.size() == kEthernetMinFrame);
}

void add(ViolationCounts& found, Violation kind) {
    ++found[static_cast<std::size_t>(kind)];
}

} // namespace

std::optional<DeviceRequest> ParseDeviceRequest(std::span<const std::uint8_t> frame,
                                                ViolationCounts& found) {
    if (ByteReader(frame, fo::kEtherType).u16() != kProtocolEtherType)
        return std::nullopt; // not the protocol's: nothing a device looks at
    const auto header = ParseHeader(frame);
    if (!header) {
        add(found, Violation::Length);
        return std::nullopt;
    }
    if (header->version != kProtocolVersion) {
        add(found, Violation::Version);
        return std::nullopt;
    }
    const CommandSpec* entry = findCommand(header->code);
    if (entry == nullptr) {
        add(found, Violation::UnknownCode);
        return std::nullopt;
    }
    if (header->destination.isBroadcast() && entry->shape != Shape::Discovery) {
        add(found, Violation::Broadcast);
        return std::nullopt;
    }

    DeviceRequest request;
    request.header = *header;
    if (entry->shape == Shape::Discovery) {
        if (!lengthFits(frame, kDiscoveryRequestLength)) {
            add(found, Violation::Length);
            return std::nullopt;
        }
        // Everything after the code is zero in a discovery request.
        if (!allZero(frame.subspan(fo::kParameter, kDiscoveryRequestLength - fo::kParameter)))
            add(found, Violation::QueryArea);
        return request;
    }

    const auto head = fixedHead<kFrameHead>(frame);
    if (!head || frame.size() < kFrameHead + kFrameTail) {
        add(found, Violation::Length);
        return std::nullopt;
    }
    const std::uint16_t dataLength = loadU16<fo::kDataLength>(*head);
    std::size_t expected = 0;
    if (entry->shape == Shape::Query) {
        if (dataLength != 0) {
            add(found, Violation::DataLength);
            return std::nullopt;
        }
        expected = entry->queryArea + kFrameHead + kFrameTail;
        if (!lengthFits(frame, expected)) {
            add(found, Violation::Length);
            return std::nullopt;
        }
        if (!allZero(frame.subspan(fo::kData, entry->queryArea)))
            add(found, Violation::QueryArea);
    } else {
        if (!dataSizeAllowed(*entry, dataLength)) {
            add(found, Violation::DataLength);
            return std::nullopt;
        }
        expected = dataLength + kFrameHead + kFrameTail;
        if (!lengthFits(frame, expected)) {
            add(found, Violation::Length);
            return std::nullopt;
        }
        request.data = frame.subspan(fo::kData, dataLength);
    }
    if (!allZero(frame.subspan(expected - kFrameTail, kFrameTail)))
        add(found, Violation::Tail);
    if (header->status != 0)
        add(found, Violation::StatusField);
    if (header->parameter != 0 && !entry->takesParameter)
        add(found, Violation::Parameter);

    const auto field = frame.subspan(fo::kPassword, kPasswordField);
    const std::string_view text = fieldText(field);
    if (text.size() == kPasswordField || !allZero(field.subspan(text.size())))
        add(found, Violation::PasswordField);
    request.password.assign(text);
    return request;
}

std::uint16_t ReplyCodeOf(std::uint16_t command) {
    const CommandSpec* entry = findCommand(command);
    return entry == nullptr ? std::uint16_t{0} : entry->reply;
}

} // namespace korvane::sim
