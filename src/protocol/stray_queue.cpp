#include "protocol/stray_queue.hpp"

#include "protocol/frame.hpp"

#include <algorithm>
#include <cstring>

namespace korvane {

void StrayReplyQueue::expireLocked(SteadyClock::time_point now) {
    while (!entries_.empty() && now - entries_.back().at > maxAge_) {
        entries_.pop_back();
        ++dropped_;
    }
}

void StrayReplyQueue::push(std::span<const std::uint8_t> frame, SteadyClock::time_point arrivedAt) {
    const auto now = SteadyClock::now();
    {
        std::lock_guard lock(mutex_);
        expireLocked(now);
        if (entries_.size() >= limit_) {
            entries_.pop_back(); // the oldest goes first
            ++dropped_;
        }
        Entry& entry = entries_.emplace_front();
        entry.at = now;
        entry.arrived = arrivedAt;
        entry.length = static_cast<std::uint16_t>(std::min(frame.size(), kEthernetMaxPayload));
        std::memcpy(entry.bytes.data(), frame.data(), entry.length);
    }
    if (wake_)
        wake_->notify(); // the transaction of that device may be asleep
}

std::size_t StrayReplyQueue::take(const MacAddress& source, std::span<std::uint8_t> buffer,
                                  SteadyClock::time_point notBefore) {
    std::lock_guard lock(mutex_);
    expireLocked(SteadyClock::now());
    // No later transaction to the source can use what its earlier ones missed.
    const auto stale = std::erase_if(entries_, [&](const Entry& e) {
        return e.arrived < notBefore && e.length >= frame_offset::kSource + 6 &&
               std::equal(source.bytes.begin(), source.bytes.end(),
                          e.bytes.begin() + frame_offset::kSource);
    });
    staleDropped_ += stale;
    const std::size_t n = entries_.size();
    auto fromSource = [&](const Entry& e) {
        return e.length >= frame_offset::kSource + 6 &&
               std::equal(source.bytes.begin(), source.bytes.end(),
                          e.bytes.begin() + frame_offset::kSource);
    };
    // Second newest to oldest, then the newest.
    for (std::size_t step = 0; step < n; ++step) {
        const std::size_t i = step + 1 < n ? step + 1 : 0;
        if (!fromSource(entries_[i]))
            continue;
        const std::size_t length = std::min<std::size_t>(entries_[i].length, buffer.size());
        std::memcpy(buffer.data(), entries_[i].bytes.data(), length);
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
        return length;
    }
    return 0;
}

std::size_t StrayReplyQueue::size() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

std::uint64_t StrayReplyQueue::dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

std::uint64_t StrayReplyQueue::staleDropped() const {
    std::lock_guard lock(mutex_);
    return staleDropped_;
}

void StrayReplyQueue::clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

} // namespace korvane
