// How the received-frame list holds a burst (its frame and byte bounds) and
// how waiters learn of arrivals without a wake-up getting lost.

#include "base/byte_cursor.hpp"
#include "base/sync.hpp"
#include "link/adapter_link.hpp"
#include "link/simulated_segment.hpp"
#include "wire_fields.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace korvane {
namespace {

constexpr MacAddress kAdapterMac{{0x02, 0x00, 0x00, 0x5E, 0x00, 0x01}};

std::vector<std::uint8_t> numberedFrame(std::uint32_t number, std::size_t length) {
    std::vector<std::uint8_t> frame(length, 0);
    writeU16(frame, 12, 0x5152);
    writeU16(frame, 16, 0x1002);
    writeU32(frame, 40, number);
    return frame;
}

class ListBounds : public ::testing::Test {
  protected:
    void SetUp() override { segment_.addAdapter("sim0", "Simulated", kAdapterMac); }

    // Delivers `count` frames numbered from 0 and reads back what is queued.
    std::vector<std::uint32_t> deliverAndRead(AdapterLink& link, std::uint32_t count,
                                              std::size_t length) {
        EXPECT_TRUE(link.open("sim0"));
        for (std::uint32_t i = 0; i < count; ++i)
            link.deliver(numberedFrame(i, length));
        std::vector<std::uint32_t> numbers;
        std::array<std::uint8_t, kMaxLinkFrame> buffer{};
        std::size_t got = 0;
        while (link.read(buffer, got)) {
            EXPECT_EQ(got, length);
            numbers.push_back(readU32(buffer, 40));
        }
        return numbers;
    }

    SimulatedSegment segment_;
};

TEST_F(ListBounds, FullListDropsTheOldestFrames) {
    AdapterLink link(segment_, 3);
    const auto numbers = deliverAndRead(link, 5, 60);
    EXPECT_EQ(numbers, (std::vector<std::uint32_t>{2, 3, 4}));
    EXPECT_EQ(link.counters().queued, 5u);
    EXPECT_EQ(link.counters().droppedListFull, 2u);
}

// A burst of short frames far beyond the old 4096-frame bound is kept whole.
TEST_F(ListBounds, ShortFramesFillTheFrameBound) {
    AdapterLink link(segment_);
    const auto numbers = deliverAndRead(link, kDefaultFrameListLimit + 1, 60);
    ASSERT_EQ(numbers.size(), kDefaultFrameListLimit);
    EXPECT_EQ(numbers.front(), 1u);
    EXPECT_EQ(numbers.back(), kDefaultFrameListLimit);
    EXPECT_EQ(link.counters().droppedListFull, 1u);
}

// Full-size frames stop at the byte bound long before the frame bound.
TEST_F(ListBounds, LongFramesStopAtTheByteBound) {
    constexpr std::size_t kFits = kFrameListByteLimit / kMaxLinkFrame;
    static_assert(kFits < kDefaultFrameListLimit);
    AdapterLink link(segment_);
    const auto numbers = deliverAndRead(link, kFits + 2, kMaxLinkFrame);
    ASSERT_EQ(numbers.size(), kFits);
    EXPECT_EQ(numbers.front(), 2u);
    EXPECT_EQ(link.counters().droppedListFull, 2u);
}

// Reopening empties the list, and its byte count with it: the next burst
// gets the whole bound again.
TEST_F(ListBounds, ReopenStartsWithTheWholeByteBound) {
    constexpr std::size_t kFits = kFrameListByteLimit / kMaxLinkFrame;
    AdapterLink link(segment_);
    ASSERT_TRUE(link.open("sim0"));
    for (std::uint32_t i = 0; i < kFits; ++i)
        link.deliver(numberedFrame(i, kMaxLinkFrame));
    const auto numbers = deliverAndRead(link, kFits, kMaxLinkFrame); // open() again
    EXPECT_EQ(numbers.size(), kFits);
    EXPECT_EQ(link.counters().droppedListFull, 0u);
}

// Producer and consumer in lock step through the generation: a lost wake-up
// would leave the consumer asleep until its far deadline.
TEST(ArrivalSignalTest, NoWakeUpIsLost) {
    constexpr int kRounds = 100000;
    ArrivalSignal signal;
    std::atomic<int> produced{0};
    std::atomic<int> timeouts{0};
    std::thread consumer([&] {
        int consumed = 0;
        while (consumed < kRounds) {
            const auto seen = signal.generation();
            if (produced.load() > consumed) {
                consumed = produced.load();
                continue;
            }
            if (!signal.waitUntil(seen, SteadyClock::now() + std::chrono::seconds(10)))
                ++timeouts;
        }
    });
    for (int i = 1; i <= kRounds; ++i) {
        produced.store(i);
        signal.notify();
    }
    consumer.join();
    EXPECT_EQ(timeouts.load(), 0);
}

} // namespace
} // namespace korvane
