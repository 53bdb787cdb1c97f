// Golden frames: every request the utility sends and every reply a device
// gives, written out by hand from the protocol's byte tables. The client and
// the emulator share the frame and block constants, so a wrong shared offset
// would pass a round trip between them; each frame here is checked against
// the utility (its operation must send exactly these bytes and read the
// documented fields back from the reply) and against the emulator (it must
// take each request without complaint and answer with these bytes).
//
// "??" bytes are ones the receiver does not read: the emulator may send
// anything there, and the client is fed 0xA5 in them to show that it does
// not look.

#include "base/byte_cursor.hpp"
#include "config/blocks.hpp"
#include "emulator_fixture.hpp"
#include "firmware/firmware_image.hpp"
#include "firmware/upgrade.hpp"
#include "hex_bytes.hpp"
#include "link/simulated_segment.hpp"
#include "protocol/discovery.hpp"
#include "protocol/transactions.hpp"
#include "sim/emulated_device.hpp"
#include "wire_fields.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace korvane {
namespace {

using sim::EmulatedDevice;

const MacAddress kOwn{{0x02, 0x00, 0x00, 0x5E, 0x00, 0x01}};
const MacAddress kDevice{{0x02, 0x19, 0xA7, 0x12, 0x34, 0x56}};
const MacAddress kNewMac{{0x02, 0x19, 0xA7, 0x65, 0x43, 0x21}};
constexpr std::uint8_t kUnread = 0xA5;

struct Golden {
    std::vector<std::uint8_t> bytes;
    std::vector<bool> exact; // false: "??", a byte the receiver does not read

    // The frame as the client is fed it.
    std::vector<std::uint8_t> filled() const {
        std::vector<std::uint8_t> out = bytes;
        for (std::size_t i = 0; i < out.size(); ++i)
            if (!exact[i])
                out[i] = kUnread;
        return out;
    }
};

// Hex with "??" for unread bytes and '#' comments, as in hex_bytes.hpp.
Golden G(std::string_view text) {
    Golden g;
    std::string pending; // digits of the byte being read
    bool comment = false;
    for (const char c : text) {
        if (comment) {
            comment = c != '\n';
            continue;
        }
        if (c == '#') {
            comment = true;
            continue;
        }
        if (c == ' ' || c == '\n' || c == '\t')
            continue;
        pending += c;
        if (pending.size() < 2)
            continue;
        if (pending == "??") {
            g.bytes.push_back(0);
            g.exact.push_back(false);
        } else {
            g.bytes.push_back(testing::Hex(pending).at(0));
            g.exact.push_back(true);
        }
        pending.clear();
    }
    if (!pending.empty())
        throw std::invalid_argument("odd number of hex digits");
    return g;
}

Golden Repeat(std::string_view byte, std::size_t n) {
    std::string text;
    for (std::size_t i = 0; i < n; ++i)
        text.append(byte).append(" ");
    return G(text);
}

Golden Cat(std::initializer_list<Golden> parts) {
    Golden g;
    for (const Golden& p : parts) {
        g.bytes.insert(g.bytes.end(), p.bytes.begin(), p.bytes.end());
        g.exact.insert(g.exact.end(), p.exact.begin(), p.exact.end());
    }
    return g;
}

// "" when `actual` has the golden length and every byte the receiver reads.
std::string Mismatch(const Golden& golden, std::span<const std::uint8_t> actual) {
    char text[96];
    if (actual.size() != golden.bytes.size()) {
        std::snprintf(text, sizeof text, "length %zu, golden %zu", actual.size(),
                      golden.bytes.size());
        return text;
    }
    for (std::size_t i = 0; i < actual.size(); ++i)
        if (golden.exact[i] && actual[i] != golden.bytes[i]) {
            std::snprintf(text, sizeof text, "offset %zu: %02X, golden %02X", i, actual[i],
                          golden.bytes[i]);
            return text;
        }
    return {};
}

// ---------------------------------------------------------------------------
// The frames.

// Every request: to the device, from the utility's adapter, version 1.
const char* const kRequestHead = R"(
    02 19 A7 12 34 56      # destination: the device
    02 00 00 5E 00 01      # source: the utility's adapter
    51 52  00 01           # EtherType, version 1)";
// A reply's head up to its code. After the code, a reply carries its status
// at offset 20; the parameter (18), password (22) and data length (38) are
// not read in a reply.
const char* const kReplyHead = R"(
    02 00 00 5E 00 01      # destination: the utility's adapter
    02 19 A7 12 34 56      # source: the device
    51 52  00 01           # EtherType, version 1)";
const char* const kPassword = "70 61 73 73 31 32 33 34 00 00 00 00 00 00 00 00"; // "pass1234"

Golden Reply(std::string_view code, std::string_view status) {
    return Cat({G(kReplyHead), G(code), G("?? ??"), G(status), Repeat("??", 16), G("?? ??")});
}

// The settings block the device holds, as its 68 bytes come in a read.
const char* const kSettingsBody = R"(
    00 20                                      #  8 settings version 32
    A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC     # 10 not interpreted: sent back as read
    00                                         # 23 address mode: static
    C0 A8 01 01                                # 24 gateway 192.168.1.1
    0A 00 00 05                                # 28 alternate address 10.0.0.5
    C0 A8 01 64                                # 32 IP address 192.168.1.100
    FF FF FF 00                                # 36 subnet mask 255.255.255.0
    00 50  00 17  01 BB  00 16                 # 40 HTTP 80, Telnet 23, HTTPS 443, SSH 22
    60 61 62 63 64 65 66 67 68 69              # 48 not interpreted: sent back as read
    6A 6B 6C 6D 6E 6F 70 71 72 73)";

// The image sent: block 0 of 1024 bytes (i * 7 + 3), block 1 of 16.
std::vector<std::uint8_t> ImageBlock0() {
    std::vector<std::uint8_t> bytes(1024);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return bytes;
}
const auto kImageBlock1 = testing::Hex("00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF");

struct Exchange {
    std::string name;
    Golden request;
    std::vector<Golden> replies; // what the device sends because of it, in order
    // Runs the utility's operation on a link to the device; checks what it read.
    std::function<void(Context&)> client;
    // Brings the emulated device to the state the request needs (optional).
    std::function<void(EmulatedDevice&)> before;
    // What the emulated device must have taken from the request (optional).
    std::function<void(EmulatedDevice&)> taken;
};

SettingsBlock ReadBlock() {
    SettingsBlock block;
    const auto body = testing::Hex(kSettingsBody);
    writeU32(block.bytes, 0, 0x21472174);
    std::copy(body.begin(), body.end(), block.bytes.begin() + 8);
    return block;
}

std::vector<Exchange> Exchanges() {
    std::vector<Exchange> table;

    table.push_back({"discovery",
                     G(R"(FF FF FF FF FF FF  02 00 00 5E 00 01  51 52  00 01   # broadcast
              10 01                                                  # discovery
              00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00        # 23 zero bytes: 41 in all
              00 00 00 00 00 00 00)"),
                     {Cat({Reply("10 02", "00 02"), G(R"(
              00 01 00 03                                  # identity  0: leading number
              02 19 A7 12 34 56                            #  4 MAC
              ?? ??                                        # 10 not used
              51 32 2E 31 00 00 00 00 00 00 00 00 00 00 00 00   # 12 hardware "Q2.1"
              31 2E 32 30 2E 37 4B 2E 31 35 00 00 00 00 00 00   # 28 firmware "1.20.7K.15"
              00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00)"),
                           Repeat("??", 68), // 60..127: the utility's own fields, written over
                           G("?? ??")})},
                     [](Context& ctx) {
                         std::vector<DeviceIdentity> records(kDiscoveryCapacity);
                         ASSERT_EQ(DiscoverDevices(ctx, records, 0), 1);
                         const DeviceIdentity& r = records[0];
                         EXPECT_EQ(r.mac(), kDevice);
                         EXPECT_EQ(r.serialNumber(), 0xA7123456u);
                         EXPECT_EQ(r.leadingNumber(), 0x00010003u);
                         EXPECT_TRUE(r.hardwareVersionIsText());
                         EXPECT_EQ(r.hardwareVersionText(), "Q2.1");
                         EXPECT_EQ(r.firmwareVersionText(), "1.20.7K.15");
                         EXPECT_EQ(r.versionNumber(), 1020007u);
                         EXPECT_EQ(ModelLetter(r), 'K');
                     },
                     {},
                     {}});

    table.push_back(
        {"password check",
         Cat({G(kRequestHead), G(R"(70 01  00 00  00 00   # password check, parameter, status)"),
              G(kPassword), G("00 00  00 00            # data length, tail: 42 bytes")}),
         {Cat({Reply("70 03", "00 02  # accepted"), Repeat("??", 20)})}, // padded to 60
         [](Context& ctx) {
             EXPECT_EQ(QueryDevice(ctx, kDevice, code::kCheckPassword, code::kPasswordReply,
                                   "pass1234", 0, {}),
                       status::kDone);
         },
         {},
         {}});

    table.push_back(
        {"settings read without the password",
         Cat({G(kRequestHead), G("20 02  00 00  00 00"), Repeat("00", 16),
              G("00 00               # data length 0: the device fills the area"),
              Repeat("00", 68 + 2)}), // 110 bytes
         {Cat({Reply("20 03", "00 01  # password refused, block delivered all the same"),
               G("21 47 21 74  00 00 18 48   # block mark, sum of bytes 8..67"), G(kSettingsBody),
               G("?? ??")})},
         [](Context& ctx) {
             SettingsBlock block;
             EXPECT_EQ(ReadSettings(ctx, kDevice, "", block), status::kPasswordRefused);
             EXPECT_EQ(block.version(), 32);
             EXPECT_EQ(block.addressMode(), AddressMode::Static);
             EXPECT_EQ(block.gateway(), 0xC0A80101u);
             EXPECT_EQ(block.alternateIp(), 0x0A000005u);
             EXPECT_EQ(block.ipAddress(), 0xC0A80164u);
             EXPECT_EQ(block.subnetMask(), 0xFFFFFF00u);
             EXPECT_EQ(block.port<settings_offset::kHttpPort>(), 80);
             EXPECT_EQ(block.port<settings_offset::kTelnetPort>(), 23);
             EXPECT_EQ(block.port<settings_offset::kHttpsPort>(), 443);
             EXPECT_EQ(block.port<settings_offset::kSshPort>(), 22);
             const auto body = testing::Hex(kSettingsBody);
             EXPECT_TRUE(std::equal(body.begin(), body.end(), block.bytes.begin() + 8));
         },
         {},
         {}});

    // The Network Settings sheet writes 72 bytes: the new IP address, the
    // rest as read, four zero bytes after, the sum over bytes 8..71.
    table.push_back(
        {"settings write of 72 bytes",
         Cat({G(kRequestHead), G("20 01  00 00  00 00"), G(kPassword), G("00 48   # 72 bytes"),
              G("21 47 21 74  00 00 18 AC   # block mark, sum of bytes 8..71"), G(R"(
              00 20  A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC  00
              C0 A8 01 01  0A 00 00 05
              C0 A8 01 C8                   # 32 the new IP address 192.168.1.200
              FF FF FF 00  00 50 00 17 01 BB 00 16
              60 61 62 63 64 65 66 67 68 69 6A 6B 6C 6D 6E 6F 70 71 72 73
              00 00 00 00                   # 68..71 zero
              00 00                         # tail)")}),
         {Cat({Reply("20 03", "00 02"), Repeat("??", 20)})},
         [](Context& ctx) {
             SettingsBlock block = ReadBlock();
             block.setIpAddress(0xC0A801C8);
             EXPECT_EQ(WriteSettings(ctx, kDevice, "pass1234", block, 72), status::kDone);
         },
         {},
         [](EmulatedDevice& device) {
             EXPECT_EQ(device.settings().ipAddress(), 0xC0A801C8u);
             EXPECT_EQ(device.stats().lastSettingsWriteLength, 72u);
         }});

    // The IP Settings command writes 68: here DHCP, the sum over bytes 8..67.
    table.push_back(
        {"settings write of 68 bytes",
         Cat({G(kRequestHead), G("20 01  00 00  00 00"), G(kPassword), G("00 44   # 68 bytes"),
              G("21 47 21 74  00 00 18 49   # block mark, sum of bytes 8..67"), G(R"(
              00 20  A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC
              01                            # 23 DHCP
              C0 A8 01 01  0A 00 00 05  C0 A8 01 64  FF FF FF 00  00 50 00 17 01 BB 00 16
              60 61 62 63 64 65 66 67 68 69 6A 6B 6C 6D 6E 6F 70 71 72 73
              00 00                         # tail)")}),
         {Cat({Reply("20 03", "00 02"), Repeat("??", 20)})},
         [](Context& ctx) {
             SettingsBlock block = ReadBlock();
             block.setAddressMode(AddressMode::Dhcp);
             EXPECT_EQ(WriteSettings(ctx, kDevice, "pass1234", block, 68), status::kDone);
         },
         {},
         [](EmulatedDevice& device) {
             EXPECT_EQ(device.settings().addressMode(), AddressMode::Dhcp);
             EXPECT_EQ(device.settings().ipAddress(), 0xC0A80164u);
             EXPECT_EQ(device.stats().lastSettingsWriteLength, 68u);
         }});

    table.push_back({"boot query",
                     Cat({G(kRequestHead), G("00 01  00 00  00 00"), G(kPassword), G("00 00"),
                          Repeat("00", 8 + 2)}), // reply area and tail: 50 bytes
                     {Cat({Reply("00 02", "00 02"), G(R"(
              00 00 00 07     # not used
              01 02 00 03     # flash boot word: boot version 0x0102, compatibility code 3)"),
                           Repeat("??", 12)})}, // tail and padding to 60
                     [](Context& ctx) {
                         std::array<std::uint8_t, 8> reply{};
                         EXPECT_EQ(QueryDevice(ctx, kDevice, code::kBootQuery, code::kBootReply,
                                               "pass1234", 0, reply),
                                   status::kDone);
                         const std::uint32_t flash = readU32(reply, 4);
                         EXPECT_EQ(BootVersionOf(flash), 0x0102);
                         EXPECT_EQ(CompatibilityCodeOf(flash), 3);
                     },
                     {},
                     {}});

    table.push_back(
        {"firmware block 1, the last",
         Cat({G(kRequestHead), G("30 01  00 01   # firmware block, index 1"), G("00 00"),
              G(kPassword), G("00 10   # 16 bytes"),
              G("00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF"),
              G("00 00   # tail: 58 bytes, the adapter pads")}),
         {Cat({Reply("30 03", "00 02"), Repeat("??", 20)})},
         [](Context& ctx) {
             EXPECT_EQ(CommandDevice(ctx, kDevice, code::kFirmwareBlock, code::kFirmwareReply,
                                     "pass1234", 1, kImageBlock1),
                       status::kDone);
         },
         [](EmulatedDevice& device) {
             const auto block0 = BuildRequest(kOwn, kDevice, code::kFirmwareBlock, "pass1234", 0,
                                              ImageBlock0(), 1024);
             const auto out = device.receive(block0->view());
             ASSERT_EQ(out.size(), 1u);
         },
         [](EmulatedDevice& device) { EXPECT_EQ(device.firmware().receivingBytes, 1040u); }});

    // The image is 1040 bytes, too short for a factory block: flag 0x00010000.
    // Then, after its programming time, the device's completion notice.
    table.push_back(
        {"end of transfer and completion notice",
         Cat({G(kRequestHead), G("30 05  00 00  00 00"), G(kPassword), G("00 08"), G(R"(
              00 02 05 F8     # image sum: bytes of both blocks added
              00 01 00 00     # header flag: the factory block was not patched
              00 00           # tail)")}),
         {Cat({Reply("30 03", "00 02"), Repeat("??", 20)}),
          Cat({G(kReplyHead), G("40 01   # completion notice"), Repeat("??", 4 + 16 + 2 + 20)})},
         [](Context& ctx) {
             std::vector<MacAddress> notified;
             ctx.link.setNoticeReceiver([&](const MacAddress& from) { notified.push_back(from); });
             std::vector<std::uint8_t> image = ImageBlock0();
             image.insert(image.end(), kImageBlock1.begin(), kImageBlock1.end());
             const EndOfTransferRecord record{BlockChecksum(image), kHeaderFlagUnpatched};
             EXPECT_EQ(CommandDevice(ctx, kDevice, code::kFirmwareEnd, code::kFirmwareReply,
                                     "pass1234", 0, record.encode()),
                       status::kDone);
             EXPECT_TRUE(ctx.link.noticeEvent().waitUntil(testing::Deadline()));
             ctx.link.setNoticeReceiver(nullptr);
             EXPECT_EQ(notified, std::vector<MacAddress>{kDevice});
             EXPECT_EQ(ctx.link.queuedFrames(), 0u);
         },
         {},
         [](EmulatedDevice& device) {
             EXPECT_TRUE(device.firmware().accepted);
             EXPECT_EQ(device.firmware().image.size(), 1040u);
         }});

    table.push_back({"password write",
                     Cat({G(kRequestHead), G("70 02  00 00  00 00"), G(kPassword),
                          G("00 18   # 24 bytes"), G(R"(
              00 00 01 18                                       # sum of the 24 bytes
              6E 33 77 00 00 00 00 00 00 00 00 00 00 00 00 00   # "n3w", zero-filled
              00 00 00 00
              00 00           # tail)")}),
                     {Cat({Reply("70 03", "00 02"), Repeat("??", 20)})},
                     [](Context& ctx) {
                         EXPECT_EQ(WritePassword(ctx, kDevice, "pass1234", "n3w"), status::kDone);
                     },
                     {},
                     [](EmulatedDevice& device) { EXPECT_EQ(device.password(), "n3w"); }});

    table.push_back(
        {"factory write",
         Cat({G(kRequestHead), G("F0 F0  00 00  00 00"),
              G("6E 33 77 00 00 00 00 00 00 00 00 00 00 00 00 00   # n3w"), G("00 1C   # 28 bytes"),
              G(R"(
              00 00 02 6D                                       # sum of the 28 bytes
              02 19 A7 65 43 21                                 # the new MAC
              00 00                                             # reserved
              51 32 2E 31 00 00 00 00 00 00 00 00 00 00 00 00   # hardware "Q2.1"
              00 00           # tail)")}),
         {Cat({Reply("F0 00", "00 02"), Repeat("??", 20)})}, // still from the old MAC
         [](Context& ctx) {
             EXPECT_EQ(WriteFactoryBlock(ctx, kDevice, "n3w", BuildFactoryBlock(kNewMac, "Q2.1")),
                       status::kDone);
         },
         {},
         [](EmulatedDevice& device) { EXPECT_EQ(device.mac(), kNewMac); }});

    return table;
}

// A scripted device: answers the golden request, and nothing else, with the
// golden replies (their unread bytes filled).
struct ScriptedDevice {
    explicit ScriptedDevice(SimulatedSegment& segment, const Exchange& exchange)
        : exchange_(exchange), port_(segment.attachStation(kDevice, {})) {
        port_->start([this](std::span<const std::uint8_t> frame) {
            {
                std::lock_guard lock(mutex_);
                heard_.emplace_back(frame.begin(), frame.end());
            }
            if (!Mismatch(exchange_.request, frame).empty())
                return;
            for (const Golden& reply : exchange_.replies)
                port_->send(reply.filled());
        });
    }
    ~ScriptedDevice() { port_->stop(); }

    std::vector<std::vector<std::uint8_t>> heard() {
        std::lock_guard lock(mutex_);
        return heard_;
    }

  private:
    const Exchange& exchange_;
    std::unique_ptr<PacketPort> port_;
    std::mutex mutex_;
    std::vector<std::vector<std::uint8_t>> heard_;
};

TEST(GoldenFrames, UtilitySendsEachRequestAndReadsEachReply) {
    for (const Exchange& exchange : Exchanges()) {
        SCOPED_TRACE(exchange.name);
        SimulatedSegment segment;
        segment.addAdapter("sim0", "golden", kOwn);
        Context ctx(segment, testing::TestTiming());
        ctx.link.setDiagnosticSink(nullptr);
        ctx.enumerateAdapters();
        ASSERT_TRUE(ctx.link.open("sim0"));
        ScriptedDevice device(segment, exchange);

        exchange.client(ctx);
        segment.drain();
        const auto heard = device.heard();
        ASSERT_FALSE(heard.empty());
        EXPECT_EQ(Mismatch(exchange.request, heard.front()), "");
        ctx.link.close();
    }
}

TEST(GoldenFrames, EmulatorTakesEachRequestAndSendsEachReply) {
    sim::DeviceConfig config;
    config.mac = kDevice;
    config.leadingNumber = 0x00010003;
    config.hardwareVersion = sim::VersionText("Q2.1");
    config.firmwareVersion = sim::VersionText("1.20.7K.15");
    config.settings = ReadBlock();
    // The device renews mark and sum itself when it hands the block out.
    std::fill_n(config.settings.bytes.begin(), 8, std::uint8_t{0});
    config.password = "pass1234";
    config.bootInfo = 7;
    config.flashBootWord = 0x01020003;
    EmulatedDevice device(std::move(config));

    for (const Exchange& exchange : Exchanges()) {
        SCOPED_TRACE(exchange.name);
        if (exchange.before)
            exchange.before(device);
        const std::uint64_t violationsBefore = device.stats().totalViolations();
        const auto out = device.receive(exchange.request.bytes);
        ASSERT_EQ(out.size(), exchange.replies.size());
        for (std::size_t i = 0; i < out.size(); ++i)
            EXPECT_EQ(Mismatch(exchange.replies[i], out[i].frame), "") << "frame " << i;
        EXPECT_EQ(device.stats().totalViolations(), violationsBefore);
        if (exchange.taken)
            exchange.taken(device);
    }
}

} // namespace
} // namespace korvane
