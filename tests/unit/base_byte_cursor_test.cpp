// Reading fields: fixed offsets in fixed-size blocks are checked when the
// program is compiled; a block of run-time length is taken as a fixed head
// only when it is long enough, and a reader past its end gives nothing.

#include "base/byte_cursor.hpp"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace korvane {
namespace {

constexpr std::array<std::uint8_t, 6> kBlock{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
static_assert(loadU16<0>(kBlock) == 0x1234);
static_assert(loadU16<4>(kBlock) == 0x9ABC);
static_assert(loadU32<2>(kBlock) == 0x56789ABC);
static_assert([] {
    std::array<std::uint8_t, 6> block{};
    storeU32<2>(block, 0xDEADBEEF);
    storeU16<0>(block, 0x0102);
    return loadU32<2>(block) == 0xDEADBEEF && block[0] == 1 && block[1] == 2;
}());

TEST(ByteCursor, FixedHeadOnlyWhenLongEnough) {
    const std::vector<std::uint8_t> frame(kBlock.begin(), kBlock.end());
    const std::span<const std::uint8_t> bytes = frame;
    EXPECT_FALSE(fixedHead<7>(bytes)) << "one byte short";
    const auto head = fixedHead<6>(bytes);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->data(), frame.data());
    EXPECT_EQ(loadU16<4>(*head), 0x9ABC);
    ASSERT_TRUE(fixedHead<2>(bytes));
    EXPECT_EQ(loadU16<0>(*fixedHead<2>(bytes)), 0x1234) << "a longer span gives its head";
}

TEST(ByteCursor, ReaderGivesNothingPastTheEnd) {
    const std::span<const std::uint8_t> bytes = kBlock;
    EXPECT_EQ(ByteReader(bytes, 4).u16(), 0x9ABC);
    EXPECT_FALSE(ByteReader(bytes, 5).u16()) << "a field cut by the end";
    EXPECT_FALSE(ByteReader(bytes, 3).u32());
    EXPECT_FALSE(ByteReader(bytes, 40).u8()) << "a start beyond the end";
    ByteReader r(bytes);
    EXPECT_EQ(r.u32(), 0x12345678u);
    EXPECT_FALSE(r.u32()) << "two bytes left";
    EXPECT_EQ(r.u16(), 0x9ABC) << "a failed read takes nothing";
}

} // namespace
} // namespace korvane
