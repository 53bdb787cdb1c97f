// Frame codecs: requests byte for byte, the checksum, version numbers, and
// which received frames count as a reply.

#include "hex_bytes.hpp"
#include "protocol/device_identity.hpp"
#include "protocol/frame.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace korvane {
namespace {

using testing::Hex;

const MacAddress kOwn{{0x02, 0x00, 0x00, 0x5E, 0x00, 0x01}};
const MacAddress kDevice{{0x02, 0x19, 0xA7, 0x00, 0x00, 0x01}};

std::vector<std::uint8_t> Bytes(const RequestFrame& frame) {
    const auto view = frame.view();
    return {view.begin(), view.end()};
}

std::vector<std::uint8_t> Concat(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<std::uint8_t> Pattern(std::size_t n) {
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return bytes;
}

struct FrameCase {
    std::string name;
    std::function<std::optional<RequestFrame>()> build;
    std::vector<std::uint8_t> expected;
};

TEST(ProtocolFrame, RequestsAreBuiltByteForByte) {
    const auto block = Pattern(1024);
    const std::vector<FrameCase> cases = {
        {"discovery", [] { return BuildDiscoveryRequest(kOwn); },
         Hex(R"(FF FF FF FF FF FF      # destination: broadcast
                02 00 00 5E 00 01      # source: the adapter
                51 52                  # EtherType
                00 01                  # version 1
                10 01                  # discovery
                00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
                00 00 00 00 00 00 00   # 23 zero bytes: 41 in all)")},
        {"password check, empty password",
         [] { return BuildRequest(kOwn, kDevice, code::kCheckPassword, "", 0, {}, 0); },
         Hex(R"(02 19 A7 00 00 01  02 00 00 5E 00 01  51 52
                00 01  70 01      # version, password check
                00 00  00 00      # parameter, status
                00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00  # empty password
                00 00             # data length
                00 00             # tail: 42 bytes)")},
        {"settings read",
         [] { return BuildRequest(kOwn, kDevice, code::kReadSettings, "", 0, {}, 68); },
         Concat(Hex(R"(02 19 A7 00 00 01  02 00 00 5E 00 01  51 52
                       00 01  20 02  00 00  00 00
                       00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
                       00 00   # data length 0: the device fills the 68 bytes)"),
                std::vector<std::uint8_t>(70, 0))}, // reply area and tail: 110 bytes
        {"firmware block 5",
         [&] {
             return BuildRequest(kOwn, kDevice, code::kFirmwareBlock, "secret", 5, block, 1024);
         },
         Concat(Concat(Hex(R"(02 19 A7 00 00 01  02 00 00 5E 00 01  51 52
                              00 01  30 01
                              00 05              # block index
                              00 00
                              73 65 63 72 65 74 00 00 00 00 00 00 00 00 00 00  # "secret"
                              04 00              # 1024 data bytes)"),
                       block),
                Hex("00 00"))}, // 1066 bytes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto frame = c.build();
        ASSERT_TRUE(frame.has_value());
        EXPECT_EQ(Bytes(*frame), c.expected);
    }
    EXPECT_EQ(cases[0].expected.size(), 41u);
    EXPECT_EQ(cases[1].expected.size(), 42u);
    EXPECT_EQ(cases[2].expected.size(), 110u);
    EXPECT_EQ(cases[3].expected.size(), 1066u);
}

TEST(ProtocolFrame, PasswordLongerThanFieldIsRefusedNeverCut) {
    const auto fits =
        BuildRequest(kOwn, kDevice, code::kCheckPassword, "123456789012345", 0, {}, 0);
    ASSERT_TRUE(fits.has_value());
    EXPECT_EQ(fits->bytes[36], '5');
    EXPECT_EQ(fits->bytes[37], 0); // the terminator stays inside the field
    EXPECT_FALSE(BuildRequest(kOwn, kDevice, code::kCheckPassword, "1234567890123456", 0, {}, 0));
    EXPECT_FALSE(
        BuildRequest(kOwn, kDevice, code::kCheckPassword, std::string("ab\0c", 4), 0, {}, 0));
}

TEST(ProtocolFrame, DataLongerThanTheRequestBufferIsRefused) {
    const std::vector<std::uint8_t> data(kMaxRequestData + 1, 1);
    EXPECT_TRUE(BuildRequest(kOwn, kDevice, code::kFirmwareBlock, "", 0,
                             std::span(data).first(kMaxRequestData), kMaxRequestData));
    EXPECT_FALSE(BuildRequest(kOwn, kDevice, code::kFirmwareBlock, "", 0, data,
                              static_cast<std::uint16_t>(data.size())));
}

TEST(ProtocolFrame, BlockChecksum) {
    const std::string abc = "abc";
    const std::vector<std::uint8_t> ff(256, 0xFF);
    const std::vector<std::uint8_t> wraps(16843010, 0xFF); // 0xFF * n passes 2^32
    struct Case {
        std::span<const std::uint8_t> bytes;
        std::uint32_t sum;
    } cases[] = {
        {{}, 0},
        {{reinterpret_cast<const std::uint8_t*>(abc.data()), abc.size()}, 0x126},
        {ff, 0xFF00},
        {wraps, static_cast<std::uint32_t>(0xFFull * 16843010)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BlockChecksum(c.bytes), c.sum) << c.bytes.size() << " bytes";
}

TEST(ProtocolFrame, VersionNumberOfFirmwareText) {
    const std::pair<std::string, std::uint32_t> cases[] = {
        {"1.23.456.7", 1023456},
        {"2.10.5", 2010000}, // the text after the last '.' is no component
        {"1.05", 1000000},
        {"1", 0},
        {"", 0},
        {"1.20.7K.15", 1020007}, // leading digits of "7K"
        {"x.2.3.", 2003},        // a component without digits reads 0
        // Long components: their first four characters count, nothing overflows.
        {"12345.67890.99999.", 1234u * 1000000 + 6789u * 1000 + 9999u},
        {"123456789012.3", 1234000000},
        {"1.2.3.4.5.6.7.8.9.10.11.12", 1002003},
        {"......................................", 0},
        // Only the first 25 characters are scanned: the '.' at index 25 ends nothing.
        {"1.2" + std::string(20, 'x') + ".3.", 1002000},
    };
    for (const auto& [text, number] : cases) {
        std::vector<std::uint8_t> field(kFirmwareVersionWidth, 0);
        std::copy_n(text.begin(), std::min(text.size(), field.size()), field.begin());
        EXPECT_EQ(VersionNumberOf(field), number) << text;
    }
    // A field without a terminator anywhere is read within its width.
    const std::vector<std::uint8_t> full(kFirmwareVersionWidth, '9');
    EXPECT_EQ(VersionNumberOf(full), 0u);
}

TEST(ProtocolFrame, WhichFramesAnswerARequest) {
    const MacAddress other{{0x02, 0x19, 0xA7, 0x00, 0x00, 0x02}};
    auto reply = [](const MacAddress& source, std::uint16_t version, std::uint16_t replyCode) {
        std::vector<std::uint8_t> f(60, 0);
        std::copy(kOwn.bytes.begin(), kOwn.bytes.end(), f.begin());
        std::copy(source.bytes.begin(), source.bytes.end(), f.begin() + 6);
        f[12] = 0x51;
        f[13] = 0x52;
        f[14] = static_cast<std::uint8_t>(version >> 8);
        f[15] = static_cast<std::uint8_t>(version);
        f[16] = static_cast<std::uint8_t>(replyCode >> 8);
        f[17] = static_cast<std::uint8_t>(replyCode);
        f[21] = 2;
        return f;
    };
    struct Case {
        std::string name;
        std::vector<std::uint8_t> frame;
        ReplyMatch match;
    } cases[] = {
        {"the reply", reply(kDevice, 1, 0x7003), ReplyMatch::Reply},
        {"version 2", reply(kDevice, 2, 0x7003), ReplyMatch::NotThisReply},
        {"command code plus one", reply(kDevice, 1, 0x7002), ReplyMatch::NotThisReply},
        {"another device", reply(other, 1, 0x7003), ReplyMatch::OtherSource},
        {"looped back", reply(kOwn, 1, 0x7003), ReplyMatch::OwnFrame},
        {"too short", std::vector<std::uint8_t>(21, 0), ReplyMatch::Malformed},
        {"empty", {}, ReplyMatch::Malformed},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MatchReply(c.frame, kOwn, kDevice, 0x7003), c.match) << c.name;
}

} // namespace
} // namespace korvane
