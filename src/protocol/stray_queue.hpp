#pragma once

// Replies that one transaction read but that belong to another device's
// transaction wait here until that transaction takes them.

#include "base/mac_address.hpp"
#include "base/sync.hpp"
#include "base/timing.hpp"
#include "link/ethernet.hpp"

#include <array>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>

namespace korvane {

inline constexpr std::size_t kDefaultStrayLimit = 1024;

class StrayReplyQueue {
  public:
    // `maxAge`: entries older than this are dropped (nobody can still be
    // waiting for them: it is the longest window of any transaction).
    explicit StrayReplyQueue(Micros maxAge, std::size_t limit = kDefaultStrayLimit,
                             ArrivalSignal* wake = nullptr)
        : maxAge_(maxAge), limit_(limit == 0 ? 1 : limit), wake_(wake) {}

    // Keeps a copy of a received frame (at most 1500 bytes of it) with the
    // time the link queued it.
    void push(std::span<const std::uint8_t> frame,
              SteadyClock::time_point arrivedAt = SteadyClock::now());
    // Finds, removes and copies out an entry from `source`, looking from the
    // second newest to the oldest and at the newest last. Returns the length
    // copied, 0 when none matched. `buffer` receives at most 1500 bytes.
    // Entries from `source` that arrived before `notBefore` answer an earlier
    // request: they are dropped on the way (counted in staleDropped()).
    std::size_t take(const MacAddress& source, std::span<std::uint8_t> buffer,
                     SteadyClock::time_point notBefore = SteadyClock::time_point::min());

    std::uint64_t staleDropped() const;

    std::size_t size() const;
    std::uint64_t dropped() const;
    void clear();

  private:
    struct Entry {
        SteadyClock::time_point at;      // when pushed: for expiry
        SteadyClock::time_point arrived; // when the link queued it
        std::uint16_t length = 0;
        std::array<std::uint8_t, kEthernetMaxPayload> bytes{};
    };
    void expireLocked(SteadyClock::time_point now);

    const Micros maxAge_;
    const std::size_t limit_;
    ArrivalSignal* wake_;
    mutable std::mutex mutex_;
    std::deque<Entry> entries_; // front = newest
    std::uint64_t dropped_ = 0;
    std::uint64_t staleDropped_ = 0;
};

} // namespace korvane
