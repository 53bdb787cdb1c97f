// The emulated device's state machine, fed frames directly: what it checks
// in a request, how it answers, its firmware receiver and its fault knobs.

#include "base/byte_cursor.hpp"
#include "sim/emulated_device.hpp"
#include "wire_fields.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <set>
#include <string>
#include <vector>

namespace korvane {
namespace {

using namespace std::chrono_literals;
using sim::DeviceFaults;
using sim::EmulatedDevice;
using sim::Outgoing;
using sim::StatusRule;
using sim::Violation;

const MacAddress kUtility{{0x02, 0x00, 0x00, 0x5E, 0x00, 0x01}};
const MacAddress kDevice{{0x02, 0x19, 0xA7, 0x00, 0x00, 0x01}};

using Bytes = std::vector<std::uint8_t>;

Bytes Request(std::uint16_t command, std::string_view password = "", std::uint16_t parameter = 0,
              std::span<const std::uint8_t> data = {}, std::uint16_t queryArea = 0) {
    const auto n = data.empty() ? queryArea : static_cast<std::uint16_t>(data.size());
    const auto frame = BuildRequest(kUtility, kDevice, command, password, parameter, data, n);
    return {frame->view().begin(), frame->view().end()};
}

Bytes Discovery() {
    const auto frame = BuildDiscoveryRequest(kUtility);
    return {frame.view().begin(), frame.view().end()};
}

Bytes SealedSettings(std::size_t n) {
    SettingsBlock block = sim::DefaultDeviceConfig(0, kDevice).settings;
    block.setIpAddress(0x0A000002);
    block.seal(n);
    return {block.bytes.begin(), block.bytes.begin() + static_cast<std::ptrdiff_t>(n)};
}

std::optional<FrameHeader> Head(const Outgoing& out) {
    return ParseHeader(out.frame);
}

std::uint16_t StatusOf(const std::vector<Outgoing>& out) {
    return out.empty() ? 0xFFFF : Head(out.front())->status;
}

EmulatedDevice MakeDevice(std::string password = "") {
    auto config = sim::DefaultDeviceConfig(0, kDevice);
    config.password = std::move(password);
    return EmulatedDevice(std::move(config));
}

TEST(EmulatorDevice, RepliesLookLikeADevicesFrames) {
    EmulatedDevice device = MakeDevice();
    const auto out = device.receive(Discovery());
    ASSERT_EQ(out.size(), 1u);
    const Bytes& f = out[0].frame;
    ASSERT_EQ(f.size(), kFrameHead + kIdentitySize + kFrameTail);
    const auto head = ParseHeader(f);
    EXPECT_EQ(head->destination, kUtility);
    EXPECT_EQ(head->source, kDevice);
    EXPECT_EQ(head->etherType, kProtocolEtherType);
    EXPECT_EQ(head->version, 1);
    EXPECT_EQ(head->code, code::kDiscoverReply);
    EXPECT_EQ(readU16(f, frame_offset::kDataLength), kIdentitySize);
    DeviceIdentity identity;
    ASSERT_TRUE(ParseIdentity(f, identity));
    EXPECT_EQ(identity.mac(), kDevice);
    EXPECT_EQ(identity.hardwareVersionText(), "Q2.1");
    EXPECT_EQ(identity.firmwareVersionText()[6], 'K');
    // The utility's own fields are left zero by the device.
    EXPECT_TRUE(std::all_of(f.begin() + kFrameHead + 64, f.end(), [](auto b) { return b == 0; }));

    // A reply without data is padded to the Ethernet minimum.
    const auto check = device.receive(Request(code::kCheckPassword));
    ASSERT_EQ(check.size(), 1u);
    EXPECT_EQ(check[0].frame.size(), kEthernetMinFrame);
    EXPECT_EQ(Head(check[0])->code, code::kPasswordReply);
    EXPECT_EQ(device.stats().totalViolations(), 0u);
}

struct ViolationCase {
    std::string name;
    std::function<Bytes()> frame;
    std::optional<Violation> violation; // none: the request is clean
    std::uint16_t status;               // 0xFFFF: no reply at all
};

TEST(EmulatorDevice, ChecksEveryRequestItReceives) {
    auto withByte = [](Bytes f, std::size_t at, std::uint8_t value) {
        f.at(at) = value;
        return f;
    };
    auto flipped = [](Bytes f, std::size_t at) {
        f.at(at) ^= 0x01;
        return f;
    };
    auto resized = [](Bytes f, std::size_t n, std::uint8_t fill = 0) {
        f.resize(n, fill);
        return f;
    };
    const Bytes check = Request(code::kCheckPassword);
    const Bytes read = Request(code::kReadSettings, "", 0, {}, kSettingsReadSize);
    auto write = [](std::size_t n) {
        return Request(code::kWriteSettings, "", 0, SealedSettings(n));
    };
    auto password = [](Bytes block) { return Request(code::kSetPassword, "", 0, block); };
    Bytes goodPasswordBlock(24, 0);
    goodPasswordBlock[4] = 'a';
    writeU32(goodPasswordBlock, 0, 'a');

    const std::vector<ViolationCase> cases = {
        {"clean check", [&] { return check; }, {}, status::kDone},
        {"padded to 60 with zeros", [&] { return resized(check, 60); }, {}, status::kDone},
        {"padded with other bytes", [&] { return resized(check, 60, 0xAA); }, {}, status::kDone},
        {"discovery padded with other bytes",
         [&] { return resized(Discovery(), 60, 0x5A); },
         {},
         status::kDone},
        {"one byte too long", [&] { return resized(check, 43); }, Violation::Length, 0xFFFF},
        {"settings read one byte short", [&] { return resized(read, 109); }, Violation::Length,
         0xFFFF},
        {"version 2", [&] { return withByte(check, 15, 2); }, Violation::Version, 0xFFFF},
        {"unknown code", [&] { return withByte(check, 16, 0x77); }, Violation::UnknownCode, 0xFFFF},
        {"command to broadcast",
         [&] {
             Bytes f = check;
             std::fill_n(f.begin(), 6, 0xFF);
             return f;
         },
         Violation::Broadcast, 0xFFFF},
        {"query with a data length", [&] { return withByte(check, 39, 4); }, Violation::DataLength,
         0xFFFF},
        {"settings write of 70 bytes",
         [&] { return Request(code::kWriteSettings, "", 0, Bytes(70, 0)); }, Violation::DataLength,
         0xFFFF},
        {"firmware block of 1025 bytes",
         [&] { return Request(code::kFirmwareBlock, "", 0, Bytes(1025, 1)); },
         Violation::DataLength, 0xFFFF},
        {"tail not zero", [&] { return withByte(check, 41, 1); }, Violation::Tail, status::kDone},
        {"reply area not zero", [&] { return withByte(read, 80, 1); }, Violation::QueryArea,
         status::kDone},
        {"discovery filler not zero", [&] { return withByte(Discovery(), 30, 1); },
         Violation::QueryArea, status::kDone},
        {"discovery of 42 bytes", [&] { return resized(Discovery(), 42); }, Violation::Length,
         0xFFFF},
        {"status field set", [&] { return withByte(check, 21, 2); }, Violation::StatusField,
         status::kDone},
        {"parameter set", [&] { return withByte(check, 19, 1); }, Violation::Parameter,
         status::kDone},
        {"password without terminator",
         [&] {
             Bytes f = check;
             std::fill_n(f.begin() + 22, 16, 'x');
             return f;
         },
         Violation::PasswordField, status::kPasswordRefused},
        {"bytes after the password's terminator", [&] { return withByte(check, 30, 'x'); },
         Violation::PasswordField, status::kDone},
        {"settings write, 72 bytes", [&] { return write(72); }, {}, status::kDone},
        {"settings write, 68 bytes", [&] { return write(68); }, {}, status::kDone},
        {"settings write without block mark", [&] { return withByte(write(68), 40, 0); },
         Violation::BlockMark, status::kNoReply},
        {"settings write with a wrong checksum", [&] { return flipped(write(68), 47); },
         Violation::Checksum, status::kNoReply},
        {"settings write, bytes 68 to 71 not zero",
         [&] {
             Bytes block = SealedSettings(72);
             block[70] = 1;
             writeU32(block, 4, readU32(block, 4) + 1);
             return Request(code::kWriteSettings, "", 0, block);
         },
         Violation::Padding, status::kDone},
        {"password block", [&] { return password(goodPasswordBlock); }, {}, status::kDone},
        {"password block with a wrong checksum",
         [&] { return password(flipped(goodPasswordBlock, 3)); }, Violation::Checksum,
         status::kNoReply},
        {"factory block with a wrong checksum",
         [&] {
             auto block = BuildFactoryBlock(kDevice, "Q2.1");
             block[3] ^= 1;
             return Request(code::kWriteFactory, "", 0, block);
         },
         Violation::Checksum, status::kNoReply},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EmulatedDevice device = MakeDevice();
        const auto out = device.receive(c.frame());
        EXPECT_EQ(StatusOf(out), c.status);
        const auto stats = device.stats();
        if (c.violation) {
            EXPECT_EQ(stats.violationCount(*c.violation), 1u) << sim::ViolationName(*c.violation);
            EXPECT_EQ(stats.totalViolations(), 1u);
        } else {
            EXPECT_EQ(stats.totalViolations(), 0u);
        }
    }
}

TEST(EmulatorDevice, PasswordDecidesEveryCommandButNotTheReads) {
    EmulatedDevice device = MakeDevice("pw");
    const auto read = device.receive(Request(code::kReadSettings, "", 0, {}, kSettingsReadSize));
    EXPECT_EQ(StatusOf(read), status::kPasswordRefused);
    EXPECT_EQ(readU32(read[0].frame, kFrameHead + settings_offset::kIpAddress), 0xC0A80164u);
    EXPECT_EQ(StatusOf(device.receive(Request(code::kCheckPassword, "PW"))),
              status::kPasswordRefused);
    EXPECT_EQ(StatusOf(device.receive(Request(code::kCheckPassword, "pw"))), status::kDone);

    const auto settings = SealedSettings(72);
    EXPECT_EQ(StatusOf(device.receive(Request(code::kWriteSettings, "", 0, settings))),
              status::kPasswordRefused);
    EXPECT_EQ(device.settings().ipAddress(), 0xC0A80164u);
    EXPECT_EQ(StatusOf(device.receive(Request(code::kWriteSettings, "pw", 0, settings))),
              status::kDone);
    EXPECT_EQ(device.settings().ipAddress(), 0x0A000002u);
    EXPECT_EQ(device.stats().lastSettingsWriteLength, 72u);

    const auto next = *BuildPasswordBlock("next");
    EXPECT_EQ(StatusOf(device.receive(Request(code::kSetPassword, "", 0, next))),
              status::kPasswordRefused);
    EXPECT_EQ(StatusOf(device.receive(Request(code::kSetPassword, "pw", 0, next))), status::kDone);
    EXPECT_EQ(device.password(), "next");
    const auto clear = *BuildPasswordBlock("");
    EXPECT_EQ(StatusOf(device.receive(Request(code::kSetPassword, "next", 0, clear))),
              status::kDone);
    EXPECT_EQ(device.password(), "");
    EXPECT_EQ(device.stats().refusedPasswords, 4u);
    EXPECT_EQ(device.stats().totalViolations(), 0u);
}

TEST(EmulatorDevice, FactoryWriteAnswersFromTheOldMacThenTakesTheNewIdentity) {
    EmulatedDevice device = MakeDevice();
    const MacAddress next{{0x02, 0x19, 0xA7, 0x00, 0x01, 0x23}};
    const auto out = device.receive(
        Request(code::kWriteFactory, "", 0, BuildFactoryBlock(next, "Q5.0-16-chars-xx")));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(Head(out[0])->source, kDevice);
    EXPECT_EQ(Head(out[0])->code, code::kFactoryReply);
    EXPECT_EQ(Head(out[0])->status, status::kDone);
    EXPECT_EQ(device.mac(), next);
    EXPECT_TRUE(device.answersTo(next));
    EXPECT_FALSE(device.answersTo(kDevice));
    // Sixteen characters fill the field without a terminator.
    EXPECT_EQ(device.identity().hardwareVersionText(), "Q5.0-16-chars-xx");

    const MacAddress group{{0x03, 0x19, 0xA7, 0x00, 0x01, 0x23}};
    Bytes toNext = Request(code::kWriteFactory, "", 0, BuildFactoryBlock(group, "Q"));
    std::copy(next.bytes.begin(), next.bytes.end(), toNext.begin());
    EXPECT_EQ(StatusOf(device.receive(toNext)), status::kNoReply);
    EXPECT_EQ(device.mac(), next);
}

TEST(EmulatorDevice, BootQueryReportsTheFlashBootWord) {
    EmulatedDevice device = MakeDevice();
    device.setFlashBootWord(0x01020003);
    const auto out = device.receive(Request(code::kBootQuery, "", 0, {}, 8));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(Head(out[0])->code, code::kBootReply);
    EXPECT_EQ(Head(out[0])->status, status::kDone);
    EXPECT_EQ(readU32(out[0].frame, kFrameHead + 4), 0x01020003u);
}

// A firmware image with a factory block at 0xFF00.
Bytes Image(std::size_t length, const MacAddress& factoryMac, bool validBlock) {
    Bytes image(length);
    for (std::size_t i = 0; i < length; ++i)
        image[i] = static_cast<std::uint8_t>(i * 13 + i / 256);
    if (length >= 0xFF00 + kFactoryBlockSize) {
        auto block = BuildFactoryBlock(factoryMac, "Q2.1");
        if (!validBlock)
            block[0] ^= 0x10;
        std::copy(block.begin(), block.end(), image.begin() + 0xFF00);
    }
    return image;
}

struct Sent {
    std::vector<std::uint16_t> blockStatuses;
    std::vector<Outgoing> end;
};

Sent SendImage(EmulatedDevice& device, const Bytes& image, std::uint32_t flag,
               std::optional<std::uint32_t> sum = {}) {
    Sent sent;
    for (std::size_t at = 0, index = 0; at < image.size(); at += 1024, ++index) {
        const auto block =
            std::span(image).subspan(at, std::min<std::size_t>(1024, image.size() - at));
        sent.blockStatuses.push_back(StatusOf(device.receive(
            Request(code::kFirmwareBlock, "", static_cast<std::uint16_t>(index), block))));
    }
    Bytes end(8);
    writeU32(end, 0, sum.value_or(BlockChecksum(image)));
    writeU32(end, 4, flag);
    sent.end = device.receive(Request(code::kFirmwareEnd, "", 0, end));
    return sent;
}

TEST(EmulatorDevice, FirmwareEndOfTransferChecksSumFlagAndFactoryBlock) {
    const MacAddress stranger{{0x02, 0x19, 0xA7, 0x00, 0x09, 0x09}};
    struct Case {
        std::string name;
        Bytes image;
        std::uint32_t flag;
        std::optional<std::uint32_t> sum;
        std::optional<Violation> violation;
    } cases[] = {
        {"three full blocks, no factory block", Image(3072, kDevice, false), 0x00010000, {}, {}},
        {"1025 bytes", Image(1025, kDevice, false), 0x00010000, {}, {}},
        {"patched factory block", Image(0x10000, kDevice, true), 0, {}, {}},
        {"unpatchable factory block", Image(0x10000, kDevice, false), 0x00010000, {}, {}},
        {"wrong sum", Image(3072, kDevice, false), 0x00010000, 12345, Violation::ImageSum},
        {"flag with the wrong byte order",
         Image(3072, kDevice, false),
         0x00000001,
         {},
         Violation::HeaderFlag},
        {"flag 0 without a factory block",
         Image(3072, kDevice, false),
         0,
         {},
         Violation::FactoryBlock},
        {"flag 0, block patched for another device",
         Image(0x10000, stranger, true),
         0,
         {},
         Violation::FactoryBlock},
        {"valid block left unpatched",
         Image(0x10000, stranger, true),
         0x00010000,
         {},
         Violation::FactoryBlock},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EmulatedDevice device = MakeDevice();
        device.setProgrammingDelay(250ms);
        const Sent sent = SendImage(device, c.image, c.flag, c.sum);
        EXPECT_TRUE(std::all_of(sent.blockStatuses.begin(), sent.blockStatuses.end(),
                                [](auto s) { return s == status::kDone; }));
        const auto record = device.firmware();
        EXPECT_TRUE(record.hasImage);
        EXPECT_EQ(record.image, c.image);
        EXPECT_EQ(record.blockOrder.size(), (c.image.size() + 1023) / 1024);
        EXPECT_EQ(record.headerFlag, c.flag);
        EXPECT_EQ(record.receivingBytes, 0u);
        if (c.violation) {
            EXPECT_EQ(StatusOf(sent.end), status::kNoReply);
            EXPECT_EQ(sent.end.size(), 1u); // no notice
            EXPECT_FALSE(record.accepted);
            EXPECT_EQ(device.stats().violationCount(*c.violation), 1u);
        } else {
            EXPECT_EQ(StatusOf(sent.end), status::kDone);
            ASSERT_EQ(sent.end.size(), 2u);
            const auto notice = Head(sent.end[1]);
            EXPECT_EQ(notice->code, code::kFirmwareNotice);
            EXPECT_EQ(notice->source, kDevice);
            EXPECT_EQ(notice->destination, kUtility);
            EXPECT_EQ(sent.end[1].delay, 250ms);
            EXPECT_TRUE(record.accepted);
            EXPECT_EQ(device.stats().totalViolations(), 0u);
        }
    }
}

TEST(EmulatorDevice, FirmwareBlocksMustComeInOrder) {
    EmulatedDevice device = MakeDevice();
    const Bytes full(1024, 0x11), shorter(100, 0x22);
    auto block = [&](std::uint16_t index, const Bytes& data) {
        return StatusOf(device.receive(Request(code::kFirmwareBlock, "", index, data)));
    };
    EXPECT_EQ(block(0, full), status::kDone);
    EXPECT_EQ(block(1, full), status::kDone);
    EXPECT_EQ(block(1, full), status::kDone); // resent: its reply may have been lost
    EXPECT_EQ(block(3, full), status::kNoReply);
    EXPECT_EQ(device.stats().violationCount(Violation::BlockOrder), 1u);
    EXPECT_EQ(block(2, shorter), status::kDone);
    EXPECT_EQ(block(3, full), status::kDone); // after a short block
    EXPECT_EQ(device.stats().violationCount(Violation::BlockSize), 1u);
    auto record = device.firmware();
    EXPECT_EQ(record.receivingOrder, (std::vector<std::uint16_t>{0, 1, 1, 2, 3}));
    EXPECT_EQ(record.receivingBytes, 3 * 1024u + 100);
    EXPECT_EQ(record.resentBlocks, 1u);

    EXPECT_EQ(block(0, full), status::kDone); // Ignore starts over at block 0
    record = device.firmware();
    EXPECT_EQ(record.restarts, 1u);
    EXPECT_EQ(record.receivingBytes, 1024u);

    Bytes end(8);
    EmulatedDevice fresh = MakeDevice();
    EXPECT_EQ(StatusOf(fresh.receive(Request(code::kFirmwareEnd, "", 0, end))), status::kNoReply);
    EXPECT_EQ(fresh.stats().violationCount(Violation::NoTransfer), 1u);
}

TEST(EmulatorDevice, StatusRulesAndReplyFaults) {
    EmulatedDevice device = MakeDevice();
    DeviceFaults faults;
    faults.statusRules = {StatusRule::busyFirstBlock(),
                          {code::kFirmwareBlock, std::uint16_t{1}, status::kPasswordRefused, 1}};
    faults.replyDelay = 5ms;
    faults.flashDelayPerBlock = 20ms;
    faults.answerTwice = true;
    faults.answerFrom = MacAddress{{0x02, 0x19, 0xA7, 0x00, 0x00, 0x63}};
    device.setFaults(faults);
    const Bytes data(1024, 1);

    auto out = device.receive(Request(code::kFirmwareBlock, "", 0, data));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(Head(out[0])->status, status::kBusy);
    EXPECT_EQ(out[1].frame, out[0].frame);
    EXPECT_EQ(out[0].delay, 25ms);
    EXPECT_EQ(Head(out[0])->source, *faults.answerFrom);
    EXPECT_EQ(device.firmware().receivingBytes, 0u); // busy: not taken

    EXPECT_EQ(StatusOf(device.receive(Request(code::kFirmwareBlock, "", 0, data))), status::kDone);
    EXPECT_EQ(StatusOf(device.receive(Request(code::kFirmwareBlock, "", 1, data))),
              status::kPasswordRefused);
    EXPECT_EQ(StatusOf(device.receive(Request(code::kFirmwareBlock, "", 1, data))), status::kDone);
    EXPECT_EQ(device.firmware().receivingOrder, (std::vector<std::uint16_t>{0, 1}));

    faults = {};
    faults.wrongVersion = true;
    faults.wrongReplyCode = true;
    device.setFaults(faults);
    out = device.receive(Request(code::kCheckPassword));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(Head(out[0])->version, 2);
    EXPECT_EQ(Head(out[0])->code, code::kSetPassword);
    EXPECT_EQ(out[0].delay, 0us);
}

TEST(EmulatorDevice, SilenceDropsAndReboots) {
    EmulatedDevice device = MakeDevice();
    DeviceFaults faults;
    faults.silentCommands = {code::kBootQuery};
    device.setFaults(faults);
    EXPECT_TRUE(device.receive(Request(code::kBootQuery, "", 0, {}, 8)).empty());
    EXPECT_EQ(device.receive(Request(code::kCheckPassword)).size(), 1u);

    // The same seed loses the same requests.
    auto lost = [](std::uint64_t seed) {
        EmulatedDevice d = MakeDevice();
        DeviceFaults f;
        f.dropRate = 0.5;
        f.seed = seed;
        d.setFaults(f);
        std::vector<bool> pattern;
        for (int i = 0; i < 200; ++i)
            pattern.push_back(d.receive(Request(code::kCheckPassword)).empty());
        EXPECT_EQ(d.stats().dropped,
                  static_cast<std::uint64_t>(std::count(pattern.begin(), pattern.end(), true)));
        return pattern;
    };
    const auto first = lost(42);
    EXPECT_EQ(lost(42), first);
    const auto dropped = std::count(first.begin(), first.end(), true);
    EXPECT_GT(dropped, 60);
    EXPECT_LT(dropped, 140);

    EmulatedDevice rebooting = MakeDevice();
    faults = {};
    faults.rebootAtBlock = 2;
    faults.rebootTime = 1s;
    rebooting.setFaults(faults);
    const Bytes data(1024, 3);
    const auto t0 = SteadyClock::now();
    auto block = [&](std::uint16_t index, SteadyClock::time_point at) {
        return StatusOf(rebooting.receive(Request(code::kFirmwareBlock, "", index, data), at));
    };
    EXPECT_EQ(block(0, t0), status::kDone);
    EXPECT_EQ(block(1, t0), status::kDone);
    EXPECT_EQ(block(2, t0), 0xFFFF);                    // lost in the restart
    EXPECT_EQ(block(2, t0 + 500ms), 0xFFFF);            // still starting
    EXPECT_EQ(block(2, t0 + 1500ms), status::kNoReply); // the transfer is forgotten
    EXPECT_EQ(block(0, t0 + 1500ms), status::kDone);
    EXPECT_EQ(block(1, t0 + 1500ms), status::kDone);
    EXPECT_EQ(block(2, t0 + 1500ms), status::kDone); // restarts only once
    EXPECT_EQ(rebooting.stats().reboots, 1u);
}

TEST(EmulatorDevice, NoNoticeKnob) {
    EmulatedDevice device = MakeDevice();
    DeviceFaults faults;
    faults.noNotice = true;
    device.setFaults(faults);
    const Sent sent = SendImage(device, Image(2048, kDevice, false), 0x00010000);
    EXPECT_EQ(StatusOf(sent.end), status::kDone);
    EXPECT_EQ(sent.end.size(), 1u);
    EXPECT_EQ(device.stats().notices, 0u);
}

// Every device of a simulated LAN, at any count, holds an address that is a
// host of its subnet and not its gateway's; the first 155 keep 192.168.1.100
// onwards, the ones after them move on to the next /24 subnets.
TEST(EmulatorDevice, DefaultAddressesAreHostsOfTheirOwnSubnet) {
    const struct {
        int index;
        const char* ip;
        const char* gateway;
    } cases[] = {
        {0, "192.168.1.100", "192.168.1.1"},
        {154, "192.168.1.254", "192.168.1.1"},
        {155, "192.168.2.2", "192.168.2.1"},
        {156, "192.168.2.3", "192.168.2.1"},
        {407, "192.168.2.254", "192.168.2.1"},
        {408, "192.168.3.2", "192.168.3.1"},
        {4095, "192.168.17.147", "192.168.17.1"},
        {64416, "192.168.255.254", "192.168.255.1"},
        {64417, "192.168.2.2", "192.168.2.1"},
        {std::numeric_limits<int>::max(), nullptr, nullptr},
    };
    for (const auto& c : cases) {
        const sim::DeviceAddress a = sim::DefaultDeviceAddress(c.index);
        SCOPED_TRACE("device " + std::to_string(c.index) + " at " + FormatIPv4(a.ip));
        if (c.ip != nullptr) {
            EXPECT_EQ(FormatIPv4(a.ip), c.ip);
            EXPECT_EQ(FormatIPv4(a.gateway), c.gateway);
        }
        EXPECT_EQ(a.mask, 0xFFFFFF00u);
        for (const std::uint32_t host : {a.ip, a.gateway}) {
            EXPECT_NE(host & ~a.mask, 0u) << "a network address";
            EXPECT_NE(host & ~a.mask, ~a.mask) << "a broadcast address";
        }
        EXPECT_EQ(a.gateway & a.mask, a.ip & a.mask) << "the gateway is outside the subnet";
        EXPECT_NE(a.ip, a.gateway);
    }

    // No two devices of a large emulator share an address, and the settings
    // each device starts with are its plan's.
    std::set<std::uint32_t> seen;
    for (int i = 0; i < 4096; ++i)
        EXPECT_TRUE(seen.insert(sim::DefaultDeviceAddress(i).ip).second) << "device " << i;
    const SettingsBlock settings = sim::DefaultDeviceConfig(156, kDevice).settings;
    EXPECT_EQ(FormatIPv4(settings.ipAddress()), "192.168.2.3");
    EXPECT_EQ(settings.subnetMask(), 0xFFFFFF00u);
    EXPECT_EQ(FormatIPv4(settings.gateway()), "192.168.2.1");
}

} // namespace
} // namespace korvane
