// The queue of replies read by the wrong transaction.

#include "protocol/stray_queue.hpp"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <vector>

namespace korvane {
namespace {

using namespace std::chrono_literals;

const MacAddress kA{{0x02, 0x19, 0xA7, 0x00, 0x00, 0x0A}};
const MacAddress kB{{0x02, 0x19, 0xA7, 0x00, 0x00, 0x0B}};

// A frame from `source`, told apart by `tag` in its first data byte.
std::vector<std::uint8_t> FrameFrom(const MacAddress& source, std::uint8_t tag) {
    std::vector<std::uint8_t> frame(60, 0);
    std::copy(source.bytes.begin(), source.bytes.end(), frame.begin() + 6);
    frame[40] = tag;
    return frame;
}

int TakeTag(StrayReplyQueue& queue, const MacAddress& source) {
    std::array<std::uint8_t, kEthernetMaxPayload> buffer{};
    const std::size_t n = queue.take(source, buffer);
    return n == 0 ? -1 : buffer[40];
}

TEST(ProtocolStrayQueue, TakesSecondNewestToOldestAndTheNewestLast) {
    StrayReplyQueue queue(1h);
    queue.push(FrameFrom(kA, 1)); // oldest
    queue.push(FrameFrom(kA, 2));
    queue.push(FrameFrom(kB, 3));
    queue.push(FrameFrom(kA, 4)); // newest
    EXPECT_EQ(TakeTag(queue, kA), 2);
    EXPECT_EQ(TakeTag(queue, kA), 1);
    EXPECT_EQ(TakeTag(queue, kA), 4);
    EXPECT_EQ(TakeTag(queue, kA), -1);
    EXPECT_EQ(queue.size(), 1u); // B's entry is untouched
    EXPECT_EQ(TakeTag(queue, kB), 3);
}

TEST(ProtocolStrayQueue, CopiesAtMostTheCallersBuffer) {
    StrayReplyQueue queue(1h);
    std::vector<std::uint8_t> longFrame = FrameFrom(kA, 9);
    longFrame.resize(1600, 0xEE);
    queue.push(longFrame);
    std::array<std::uint8_t, 100> small{};
    EXPECT_EQ(queue.take(kA, small), small.size());
}

TEST(ProtocolStrayQueue, BoundedByCountOldestDroppedFirst) {
    StrayReplyQueue queue(1h, 3);
    for (std::uint8_t tag = 1; tag <= 5; ++tag)
        queue.push(FrameFrom(kA, tag));
    EXPECT_EQ(queue.size(), 3u);
    EXPECT_EQ(queue.dropped(), 2u);
    // Left: 3, 4, 5 (newest); the take order skips the newest first.
    EXPECT_EQ(TakeTag(queue, kA), 4);
    EXPECT_EQ(TakeTag(queue, kA), 3);
    EXPECT_EQ(TakeTag(queue, kA), 5);
}

TEST(ProtocolStrayQueue, EntriesOlderThanTheLongestWindowAreDropped) {
    // With an age limit of zero, an entry expires as soon as the clock moves on.
    StrayReplyQueue queue(0us);
    queue.push(FrameFrom(kA, 1));
    const auto pushed = SteadyClock::now();
    while (SteadyClock::now() == pushed) {
    }
    EXPECT_EQ(TakeTag(queue, kA), -1);
    EXPECT_EQ(queue.size(), 0u);
    EXPECT_EQ(queue.dropped(), 1u);
}

} // namespace
} // namespace korvane
