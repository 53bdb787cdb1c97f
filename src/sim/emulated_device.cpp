// The emulated device's state machine: what it answers, what it keeps, and
// the faults it can be told to show.

#include "sim/emulated_device.hpp"

#include "base/byte_cursor.hpp"

#include <algorithm>

namespace korvane::sim {

namespace fo = frame_offset;
namespace so = settings_offset;

namespace {

// The checksum of a block whose first four bytes hold it, taken as zero.
std::uint32_t sumWithoutField(std::span<const std::uint8_t> block) {
    return BlockChecksum(block) - BlockChecksum(block.first(4));
}

void copyField(std::span<std::uint8_t> field, std::span<const std::uint8_t> raw) {
    std::fill(field.begin(), field.end(), std::uint8_t{0});
    std::copy_n(raw.begin(), std::min(raw.size(), field.size()), field.begin());
}

} // namespace

EmulatedDevice::EmulatedDevice(DeviceConfig config)
    : settings_(config.settings), password_(std::move(config.password)), bootInfo_(config.bootInfo),
      flashBootWord_(config.flashBootWord), programmingDelay_(config.programmingDelay),
      minCommandGap_(config.minCommandGap), faults_(std::move(config.faults)),
      random_(faults_.seed) {
    storeU32<identity_offset::kLeadingNumber>(identity_.bytes, config.leadingNumber);
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

    const std::uint16_t replyCode =
        faults_.wrongReplyCode ? static_cast<std::uint16_t>(head.code + 1) : ReplyCodeOf(head.code);
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
    if (ByteReader(data, so::kBlockMark).u32() != kSettingsBlockMark) {
        count(Violation::BlockMark);
        return {};
    }
    if (ByteReader(data, so::kChecksum).u32() != BlockChecksum(data.subspan(8))) {
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
    if (ByteReader(block).u32() != sumWithoutField(block)) {
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
    const auto whole = fixedHead<kFactoryBlockSize>(request.data);
    if (!whole) { // the request checks let only whole blocks through
        count(Violation::DataLength);
        return {};
    }
    const auto block = *whole;
    if (loadU32<0>(block) != sumWithoutField(block)) {
        count(Violation::Checksum);
        return {};
    }
    if (block[10] != 0 || block[11] != 0)
        count(Violation::Padding);
    const MacAddress newMac = MacAddress::fromBytes(block.subspan<4, 6>());
    if (newMac.isMulticast())
        return {}; // a device cannot take a group address as its own
    copyField(identity_.field(identity_offset::kHardwareVersion, kHardwareVersionWidth),
              block.subspan<12, kHardwareVersionWidth>());
    pendingMac_ = newMac;
    ++stats_.factoryWrites;
    return {status::kDone, {}};
}

EmulatedDevice::Reply EmulatedDevice::bootQuery(const DeviceRequest& request) {
    std::array<std::uint8_t, 8> data{};
    storeU32<0>(data, bootInfo_);
    storeU32<4>(data, flashBootWord_);
    return {passwordMatches(request) ? status::kDone : status::kPasswordRefused,
            {data.begin(), data.end()}};
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
    ByteReader record(request.data);
    const auto readSum = record.u32();
    const auto readFlag = record.u32();
    if (!readSum || !readFlag) { // the request checks let only whole records through
        count(Violation::DataLength);
        return {};
    }
    const std::uint32_t sum = *readSum;
    const std::uint32_t flag = *readFlag;
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
                                   .subspan(kImageFactoryBlockOffset)
                                   .first<kFactoryBlockSize>();
            valid = loadU32<0>(block) == sumWithoutField(block);
            ours = MacAddress::fromBytes(block.subspan<4, 6>()) == identity_.mac();
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
