#include "sim/emulated_device.hpp"

#include "base/byte_cursor.hpp"

#include <algorithm>
#include <cstring>

namespace korvane::sim {

namespace fo = frame_offset;
namespace so = settings_offset;

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

bool allZero(std::span<const std::uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
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

// The checksum of a block whose first four bytes hold it, taken as zero.
std::uint32_t sumWithoutField(std::span<const std::uint8_t> block) {
    return BlockChecksum(block) - BlockChecksum(block.first(4));
}

void copyField(std::span<std::uint8_t> field, std::span<const std::uint8_t> raw) {
    std::fill(field.begin(), field.end(), std::uint8_t{0});
    std::copy_n(raw.begin(), std::min(raw.size(), field.size()), field.begin());
}

} // namespace

std::optional<DeviceRequest> ParseDeviceRequest(std::span<const std::uint8_t> frame,
                                                ViolationCounts& found) {
    if (frame.size() < fo::kVersion || readU16(frame, fo::kEtherType) != kProtocolEtherType)
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

    if (frame.size() < kFrameHead + kFrameTail) {
        add(found, Violation::Length);
        return std::nullopt;
    }
    const std::uint16_t dataLength = readU16(frame, fo::kDataLength);
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

std::vector<std::uint8_t> VersionText(std::string_view text) {
    return {text.begin(), text.end()};
}

std::vector<std::uint8_t> VersionBytes(std::uint8_t a, std::uint8_t b, std::uint8_t c,
                                       std::uint8_t d) {
    return {a, b, c, d};
}

DeviceAddress DefaultDeviceAddress(int index) {
    constexpr std::uint32_t kFirstSubnet = 0xC0A80100; // 192.168.1.0/24
    constexpr std::uint32_t kMask = 0xFFFFFF00;
    constexpr std::uint32_t kFirstHost = 100; // the first subnet starts at .100
    constexpr std::uint32_t kLastHost = 254;  // .255 is the broadcast address
    constexpr std::uint32_t kGatewayHost = 1;
    constexpr std::uint32_t kInFirstSubnet = kLastHost - kFirstHost + 1; // 155
    // The later subnets hold .2 to .254: all but network, gateway, broadcast.
    constexpr std::uint32_t kPerSubnet = kLastHost - kGatewayHost; // 253
    constexpr std::uint32_t kLaterSubnets = 254;                   // 192.168.2.0 to 192.168.255.0

    const auto n = static_cast<std::uint32_t>(index < 0 ? 0 : index);
    std::uint32_t subnet = kFirstSubnet;
    std::uint32_t host = kFirstHost + n;
    if (n >= kInFirstSubnet) {
        const std::uint32_t later = n - kInFirstSubnet;
        subnet = kFirstSubnet + ((1 + later / kPerSubnet % kLaterSubnets) << 8);
        host = kGatewayHost + 1 + later % kPerSubnet;
    }
    return {subnet | host, kMask, subnet | kGatewayHost};
}

DeviceConfig DefaultDeviceConfig(int index, const MacAddress& mac) {
    DeviceConfig config;
    config.mac = mac;
    const auto n = static_cast<std::uint32_t>(index < 0 ? 0 : index);
    // Two current models: the K series (BOOTP-capable, with HTTPS and SSH)
    // and the M series, which has neither secure service.
    const bool seriesM = n % 3 == 2;
    config.leadingNumber = seriesM ? 0x00020001 : 0x00010003;
    config.hardwareVersion = VersionText(seriesM ? "Q3.0" : "Q2.1");
    // The seventh character is the model letter.
    config.firmwareVersion = VersionText(seriesM ? "1.18.3M.4" : "1.20.7K.15");

    SettingsBlock& s = config.settings;
    s.setRawVersion(32);
    s.setAddressMode(n % 5 == 4 ? AddressMode::Dhcp : AddressMode::Static);
    const DeviceAddress address = DefaultDeviceAddress(index);
    s.setIpAddress(address.ip);
    s.setSubnetMask(address.mask);
    s.setGateway(address.gateway);
    s.setPort(so::kHttpPort, 80);
    s.setPort(so::kTelnetPort, 23);
    s.setPort(so::kHttpsPort, seriesM ? kPortAbsent : 443);
    s.setPort(so::kSshPort, seriesM ? kPortAbsent : 22);
    // The bytes the utility does not interpret carry device data of their own,
    // so a write that fails to send them back as read shows.
    for (std::size_t i = 10; i < so::kAddressMode; ++i)
        s.bytes[i] = static_cast<std::uint8_t>(0xA0 + i + n);
    for (std::size_t i = 48; i < kSettingsReadSize; ++i)
        s.bytes[i] = static_cast<std::uint8_t>(0x30 + i + n);
    s.seal(kSettingsReadSize);
    return config;
}

EmulatedDevice::EmulatedDevice(DeviceConfig config)
    : settings_(config.settings), password_(std::move(config.password)), bootInfo_(config.bootInfo),
      flashBootWord_(config.flashBootWord), programmingDelay_(config.programmingDelay),
      minCommandGap_(config.minCommandGap), faults_(std::move(config.faults)),
      random_(faults_.seed) {
    writeU32(identity_.bytes, identity_offset::kLeadingNumber, config.leadingNumber);
    identity_.setMac(config.mac);
    copyField(identity_.field(identity_offset::kHardwareVersion, kHardwareVersionWidth),
              config.hardwareVersion);
    copyField(identity_.field(identity_offset::kFirmwareVersion, kFirmwareVersionWidth),
              config.firmwareVersion);
    std::fill(settings_.bytes.begin() + kSettingsReadSize, settings_.bytes.end(), std::uint8_t{0});
}

bool EmulatedDevice::answersTo(const MacAddress& destination) const {
    return destination.isBroadcast() || destination == mac();
}

MacAddress EmulatedDevice::mac() const {
    std::lock_guard lock(mutex_);
    return identity_.mac();
}

DeviceIdentity EmulatedDevice::identity() const {
    std::lock_guard lock(mutex_);
    return identity_;
}

SettingsBlock EmulatedDevice::settings() const {
    std::lock_guard lock(mutex_);
    return settings_;
}

void EmulatedDevice::setSettings(const SettingsBlock& block) {
    std::lock_guard lock(mutex_);
    settings_ = block;
    std::fill(settings_.bytes.begin() + kSettingsReadSize, settings_.bytes.end(), std::uint8_t{0});
}

std::string EmulatedDevice::password() const {
    std::lock_guard lock(mutex_);
    return password_;
}

void EmulatedDevice::setPassword(std::string password) {
    std::lock_guard lock(mutex_);
    password_ = std::move(password);
}

std::uint32_t EmulatedDevice::flashBootWord() const {
    std::lock_guard lock(mutex_);
    return flashBootWord_;
}

void EmulatedDevice::setFlashBootWord(std::uint32_t word) {
    std::lock_guard lock(mutex_);
    flashBootWord_ = word;
}

void EmulatedDevice::setHardwareVersion(std::span<const std::uint8_t> raw) {
    std::lock_guard lock(mutex_);
    copyField(identity_.field(identity_offset::kHardwareVersion, kHardwareVersionWidth), raw);
}

void EmulatedDevice::setFirmwareVersion(std::span<const std::uint8_t> raw) {
    std::lock_guard lock(mutex_);
    copyField(identity_.field(identity_offset::kFirmwareVersion, kFirmwareVersionWidth), raw);
}

Micros EmulatedDevice::programmingDelay() const {
    std::lock_guard lock(mutex_);
    return programmingDelay_;
}

void EmulatedDevice::setProgrammingDelay(Micros delay) {
    std::lock_guard lock(mutex_);
    programmingDelay_ = delay;
}

DeviceFaults EmulatedDevice::faults() const {
    std::lock_guard lock(mutex_);
    return faults_;
}

void EmulatedDevice::setFaults(DeviceFaults faults) {
    std::lock_guard lock(mutex_);
    faults_ = std::move(faults);
    random_.seed(faults_.seed);
}

DeviceStats EmulatedDevice::stats() const {
    std::lock_guard lock(mutex_);
    return stats_;
}

FirmwareRecord EmulatedDevice::firmware() const {
    std::lock_guard lock(mutex_);
    FirmwareRecord record = firmware_;
    record.receivingBytes = receiving_.size();
    record.receivingOrder = receivingOrder_;
    return record;
}

bool EmulatedDevice::waitForRequests(std::uint16_t command, std::uint64_t count,
                                     SteadyClock::time_point deadline) const {
    std::unique_lock lock(mutex_);
    return requestArrived_.wait_until(lock, deadline,
                                      [&] { return stats_.requestCount(command) >= count; });
}

std::vector<Outgoing> EmulatedDevice::receive(std::span<const std::uint8_t> frame,
                                              SteadyClock::time_point now) {
    std::vector<Outgoing> out;
    std::unique_lock lock(mutex_);
    ViolationCounts found{};
    const auto request = ParseDeviceRequest(frame, found);
    for (std::size_t i = 0; i < kViolationKinds; ++i)
        stats_.violations[i] += found[i];
    if (!request || request->header.source == identity_.mac())
        return out;

    const FrameHeader& head = request->header;
    ++stats_.requests[head.code];
    checkCommandGap(head.code, now);
    // Waiters learn of the request only once it has been handled, so they
    // see its effect on the device as well.
    struct Notify {
        std::condition_variable& cv;
        ~Notify() { cv.notify_all(); }
    } notify{requestArrived_};

    if (faults_.dropRate > 0.0 && std::bernoulli_distribution(faults_.dropRate)(random_)) {
        ++stats_.dropped;
        return out;
    }
    const bool silent = std::find(faults_.silentCommands.begin(), faults_.silentCommands.end(),
                                  head.code) != faults_.silentCommands.end();
    if (faults_.neverAnswer || silent || now < rebootUntil_) {
        ++stats_.ignored;
        return out;
    }
    if (head.code == code::kFirmwareBlock && faults_.rebootAtBlock == head.parameter &&
        !rebooted_) {
        rebooted_ = true;
        ++stats_.reboots;
        ++stats_.ignored;
        forgetTransfer();
        rebootUntil_ = now + faults_.rebootTime;
        return out;
    }

    std::vector<Outgoing> extra;
    Reply reply;
    auto rule = std::find_if(faults_.statusRules.begin(), faults_.statusRules.end(),
                             [&](const StatusRule& r) {
                                 return r.times != 0 && r.command == head.code &&
                                        (!r.parameter || *r.parameter == head.parameter);
                             });
    if (rule != faults_.statusRules.end()) {
        if (rule->times > 0)
            --rule->times;
        const bool carryOut =
            rule->effect == StatusRule::Effect::CarryOut ||
            (rule->effect == StatusRule::Effect::Default &&
             (rule->status == status::kDone || rule->status >= status::kDoneAfterPause));
        if (carryOut) {
            reply = handle(*request, head.source, extra);
            if (reply.status == status::kDone)
                reply.status = rule->status;
        } else {
            reply.status = rule->status;
        }
    } else {
        reply = handle(*request, head.source, extra);
    }

    const CommandSpec* entry = findCommand(head.code);
    const std::uint16_t replyCode =
        faults_.wrongReplyCode ? static_cast<std::uint16_t>(head.code + 1) : entry->reply;
    const std::uint16_t version = faults_.wrongVersion ? 2 : kProtocolVersion;
    const MacAddress source = faults_.answerFrom.value_or(identity_.mac());
    Micros delay = faults_.replyDelay;
    if (head.code == code::kFirmwareBlock)
        delay += faults_.flashDelayPerBlock;
    auto bytes = buildFrame(head.source, source, version, replyCode, head.parameter, reply.status,
                            reply.data);
    if (faults_.answerTwice)
        out.push_back({bytes, delay});
    out.push_back({std::move(bytes), delay});
    stats_.replies += out.size();
    for (auto& item : extra)
        out.push_back(std::move(item));

    if (pendingMac_) {
        identity_.setMac(*pendingMac_);
        pendingMac_.reset();
    }
    return out;
}

void EmulatedDevice::checkCommandGap(std::uint16_t command, SteadyClock::time_point now) {
    switch (command) {
    case code::kWriteSettings:
    case code::kSetPassword:
    case code::kWriteFactory:
    case code::kFirmwareBlock:
    case code::kFirmwareEnd:
        break;
    default:
        return; // queries need no gap
    }
    if (lastCommandAt_) {
        const auto gap = std::chrono::duration_cast<Micros>(now - *lastCommandAt_);
        if (!stats_.shortestCommandGap || gap < *stats_.shortestCommandGap)
            stats_.shortestCommandGap = gap;
        if (gap < minCommandGap_)
            count(Violation::CommandGap);
    }
    lastCommandAt_ = now;
}

EmulatedDevice::Reply EmulatedDevice::handle(const DeviceRequest& request,
                                             const MacAddress& requester,
                                             std::vector<Outgoing>& extra) {
    switch (request.header.code) {
    case code::kDiscover:
        return discovery();
    case code::kCheckPassword:
        return checkPassword(request);
    case code::kReadSettings:
        return readSettings(request);
    case code::kWriteSettings:
        return writeSettings(request);
    case code::kSetPassword:
        return writePassword(request);
    case code::kWriteFactory:
        return writeFactory(request);
    case code::kBootQuery:
        return bootQuery(request);
    case code::kFirmwareBlock:
        return firmwareBlock(request);
    case code::kFirmwareEnd:
        return endOfTransfer(request, requester, extra);
    default:
        return {};
    }
}

bool EmulatedDevice::passwordMatches(const DeviceRequest& request) {
    if (request.password == password_)
        return true;
    ++stats_.refusedPasswords;
    return false;
}

EmulatedDevice::Reply EmulatedDevice::discovery() const {
    Reply reply{status::kDone, std::vector<std::uint8_t>(kIdentitySize, 0)};
    // Bytes from 60 on are the utility's own fields: a device sends zeros there.
    std::copy_n(identity_.bytes.begin(), identity_offset::kVersionNumber, reply.data.begin());
    return reply;
}

EmulatedDevice::Reply EmulatedDevice::checkPassword(const DeviceRequest& request) {
    return {passwordMatches(request) ? status::kDone : status::kPasswordRefused, {}};
}

EmulatedDevice::Reply EmulatedDevice::readSettings(const DeviceRequest& request) {
    // The settings are readable without the password; the status tells
    // whether the one sent was right.
    SettingsBlock block = settings_;
    block.seal(kSettingsReadSize);
    const auto area = block.readArea();
    return {passwordMatches(request) ? status::kDone : status::kPasswordRefused,
            {area.begin(), area.end()}};
}

EmulatedDevice::Reply EmulatedDevice::writeSettings(const DeviceRequest& request) {
    if (!passwordMatches(request))
        return {status::kPasswordRefused, {}};
    const auto data = request.data;
    if (readU32(data, so::kBlockMark) != kSettingsBlockMark) {
        count(Violation::BlockMark);
        return {};
    }
    if (readU32(data, so::kChecksum) != BlockChecksum(data.subspan(8))) {
        count(Violation::Checksum);
        return {};
    }
    if (data.size() > kSettingsReadSize && !allZero(data.subspan(kSettingsReadSize)))
        count(Violation::Padding);
    std::copy_n(data.begin(), kSettingsReadSize, settings_.bytes.begin());
    ++stats_.settingsWrites;
    stats_.lastSettingsWriteLength = data.size();
    return {status::kDone, {}};
}

EmulatedDevice::Reply EmulatedDevice::writePassword(const DeviceRequest& request) {
    if (!passwordMatches(request))
        return {status::kPasswordRefused, {}};
    const auto block = request.data;
    if (readU32(block, 0) != sumWithoutField(block)) {
        count(Violation::Checksum);
        return {};
    }
    const auto field = block.subspan(4);
    const std::string_view text = fieldText(field);
    if (text.size() == field.size()) {
        count(Violation::PasswordField);
        return {};
    }
    if (!allZero(field.subspan(text.size())))
        count(Violation::Padding);
    password_.assign(text);
    ++stats_.passwordWrites;
    return {status::kDone, {}};
}

EmulatedDevice::Reply EmulatedDevice::writeFactory(const DeviceRequest& request) {
    if (!passwordMatches(request))
        return {status::kPasswordRefused, {}};
    const auto block = request.data;
    if (readU32(block, 0) != sumWithoutField(block)) {
        count(Violation::Checksum);
        return {};
    }
    if (block[10] != 0 || block[11] != 0)
        count(Violation::Padding);
    const MacAddress newMac = MacAddress::fromBytes(block.subspan(4, 6));
    if (newMac.isMulticast())
        return {}; // a device cannot take a group address as its own
    copyField(identity_.field(identity_offset::kHardwareVersion, kHardwareVersionWidth),
              block.subspan(12, kHardwareVersionWidth));
    pendingMac_ = newMac;
    ++stats_.factoryWrites;
    return {status::kDone, {}};
}

EmulatedDevice::Reply EmulatedDevice::bootQuery(const DeviceRequest& request) {
    Reply reply{passwordMatches(request) ? status::kDone : status::kPasswordRefused,
                std::vector<std::uint8_t>(8, 0)};
    writeU32(reply.data, 0, bootInfo_);
    writeU32(reply.data, 4, flashBootWord_);
    return reply;
}

EmulatedDevice::Reply EmulatedDevice::firmwareBlock(const DeviceRequest& request) {
    if (!passwordMatches(request))
        return {status::kPasswordRefused, {}};
    const std::uint16_t index = request.header.parameter;
    const auto block = request.data;
    if (index == nextBlock_) {
        // append below
    } else if (!receivingOrder_.empty() && std::uint32_t{index} + 1 == nextBlock_) {
        // The block just taken, again: its reply was lost or refused upstream.
        receiving_.resize(receiving_.size() - lastBlockSize_);
        receiving_.insert(receiving_.end(), block.begin(), block.end());
        receivingOrder_.push_back(index);
        lastBlockSize_ = block.size();
        lastBlockShort_ = block.size() < kFirmwareBlockSize;
        ++firmware_.resentBlocks;
        return {status::kDone, {}};
    } else if (index == 0) {
        ++firmware_.restarts;
        forgetTransfer();
    } else {
        count(Violation::BlockOrder);
        return {};
    }
    if (lastBlockShort_)
        count(Violation::BlockSize); // only the last block may be short
    receiving_.insert(receiving_.end(), block.begin(), block.end());
    receivingOrder_.push_back(index);
    lastBlockSize_ = block.size();
    lastBlockShort_ = block.size() < kFirmwareBlockSize;
    nextBlock_ = std::uint32_t{index} + 1;
    return {status::kDone, {}};
}

EmulatedDevice::Reply EmulatedDevice::endOfTransfer(const DeviceRequest& request,
                                                    const MacAddress& requester,
                                                    std::vector<Outgoing>& extra) {
    if (!passwordMatches(request))
        return {status::kPasswordRefused, {}};
    const std::uint32_t sum = readU32(request.data, 0);
    const std::uint32_t flag = readU32(request.data, 4);
    if (receivingOrder_.empty()) {
        count(Violation::NoTransfer);
        ++firmware_.refused;
        return {};
    }
    bool ok = true;
    if (sum != BlockChecksum(receiving_)) {
        count(Violation::ImageSum);
        ok = false;
    }
    if (flag != 0 && flag != kHeaderFlagUnpatched) {
        count(Violation::HeaderFlag);
        ok = false;
    } else {
        // Flag 0 promises a valid factory block patched with this device's
        // MAC; the other flag says the image had no valid block to patch.
        bool valid = false;
        bool ours = false;
        if (receiving_.size() >= kImageFactoryBlockOffset + kFactoryBlockSize) {
            const auto block = std::span<const std::uint8_t>(receiving_)
                                   .subspan(kImageFactoryBlockOffset, kFactoryBlockSize);
            valid = readU32(block, 0) == sumWithoutField(block);
            ours = MacAddress::fromBytes(block.subspan(4, 6)) == identity_.mac();
        }
        if ((flag == 0 && !(valid && ours)) || (flag == kHeaderFlagUnpatched && valid)) {
            count(Violation::FactoryBlock);
            ok = false;
        }
    }
    firmware_.image = std::move(receiving_);
    firmware_.blockOrder = std::move(receivingOrder_);
    firmware_.imageSum = sum;
    firmware_.headerFlag = flag;
    firmware_.hasImage = true;
    firmware_.accepted = ok;
    ++(ok ? firmware_.completed : firmware_.refused);
    forgetTransfer();
    if (ok && !faults_.noNotice) {
        extra.push_back({buildFrame(requester, identity_.mac(), kProtocolVersion,
                                    code::kFirmwareNotice, 0, 0, {}),
                         faults_.replyDelay + programmingDelay_});
        ++stats_.notices;
    }
    return {ok ? status::kDone : status::kNoReply, {}};
}

void EmulatedDevice::forgetTransfer() {
    receiving_.clear();
    receivingOrder_.clear();
    nextBlock_ = 0;
    lastBlockSize_ = 0;
    lastBlockShort_ = false;
}

std::vector<std::uint8_t> EmulatedDevice::buildFrame(const MacAddress& destination,
                                                     const MacAddress& source,
                                                     std::uint16_t version, std::uint16_t replyCode,
                                                     std::uint16_t parameter, std::uint16_t status,
                                                     std::span<const std::uint8_t> data) const {
    // A device's adapter pads short frames to the Ethernet minimum.
    std::vector<std::uint8_t> frame(
        std::max(kFrameHead + data.size() + kFrameTail, kEthernetMinFrame), 0);
    ByteWriter out(frame);
    out.bytes(destination.bytes);
    out.bytes(source.bytes);
    out.u16(kProtocolEtherType);
    out.u16(version);
    out.u16(replyCode);
    out.u16(parameter);
    out.u16(status);
    out.seek(fo::kDataLength);
    out.u16(static_cast<std::uint16_t>(data.size()));
    out.bytes(data);
    return frame;
}

} // namespace korvane::sim
