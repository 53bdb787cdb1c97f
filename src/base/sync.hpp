#pragma once

// Small synchronisation helpers: an auto-reset event, a stop token that cuts
// waits short, and an "arrival" signal that waiters use to sleep until
// something new is there instead of polling.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace korvane {

// Set wakes one waiter (or the next one to wait) and clears itself on that wake.
class AutoResetEvent {
  public:
    void set() {
        {
            std::lock_guard lock(mutex_);
            signalled_ = true;
            ++setCount_;
        }
        cv_.notify_one();
    }
    bool waitUntil(std::chrono::steady_clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        if (!cv_.wait_until(lock, deadline, [&] { return signalled_; }))
            return false;
        signalled_ = false;
        return true;
    }
    bool tryWait() {
        std::lock_guard lock(mutex_);
        const bool was = signalled_;
        signalled_ = false;
        return was;
    }
    std::uint64_t setCount() const {
        std::lock_guard lock(mutex_);
        return setCount_;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_ = false;
    std::uint64_t setCount_ = 0;
};

// A generation counter with a condition variable. Producers call notify()
// after they made something available; a consumer notes generation(), looks
// for work, and if it found none waits until the generation moves on.
class ArrivalSignal {
  public:
    std::uint64_t generation() const { return generation_.load(std::memory_order_acquire); }
    // Called for every received frame, so it stays cheap while nobody sleeps:
    // a waiter registers before it looks at the generation, and both sides
    // are sequentially consistent, so either the waiter sees the new
    // generation or this sees the waiter and wakes it under the lock.
    void notify() {
        generation_.fetch_add(1, std::memory_order_seq_cst);
        if (waiters_.load(std::memory_order_seq_cst) == 0)
            return;
        { std::lock_guard lock(mutex_); }
        cv_.notify_all();
    }
    // True when the generation moved past `seen` before the deadline.
    bool waitUntil(std::uint64_t seen, std::chrono::steady_clock::time_point deadline) {
        waiters_.fetch_add(1, std::memory_order_seq_cst);
        bool moved = false;
        {
            std::unique_lock lock(mutex_);
            moved = cv_.wait_until(lock, deadline, [&] {
                return generation_.load(std::memory_order_seq_cst) != seen;
            });
        }
        waiters_.fetch_sub(1, std::memory_order_seq_cst);
        return moved;
    }

  private:
    std::atomic<std::uint64_t> generation_{0};
    std::atomic<int> waiters_{0};
    std::mutex mutex_;
    std::condition_variable cv_;
};

// A stop request that every wait of an operation honours: once requested,
// sleeps return at once and transactions give up.
class StopToken {
  public:
    void requestStop() {
        std::vector<ArrivalSignal*> wake;
        {
            std::lock_guard lock(mutex_);
            stopped_.store(true, std::memory_order_release);
            wake = wakeAlso_;
        }
        cv_.notify_all();
        for (ArrivalSignal* signal : wake)
            signal->notify();
    }
    // Waiters that sleep on `signal` (a transaction waiting for frames) are
    // woken by a stop request too.
    void wakeAlso(ArrivalSignal& signal) {
        std::lock_guard lock(mutex_);
        wakeAlso_.push_back(&signal);
    }
    // Undoes one wakeAlso: a signal that goes before the token must leave it.
    void forget(ArrivalSignal& signal) {
        std::lock_guard lock(mutex_);
        const auto it = std::find(wakeAlso_.begin(), wakeAlso_.end(), &signal);
        if (it != wakeAlso_.end())
            wakeAlso_.erase(it);
    }
    void reset() { stopped_.store(false, std::memory_order_release); }
    bool stopRequested() const { return stopped_.load(std::memory_order_acquire); }
    // Sleeps until the deadline; false when a stop cut the sleep short.
    bool sleepUntil(std::chrono::steady_clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        return !cv_.wait_until(lock, deadline, [&] { return stopRequested(); });
    }
    template <class Rep, class Period>
    bool sleepFor(std::chrono::duration<Rep, Period> d) {
        return sleepUntil(std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(d));
    }

  private:
    std::atomic<bool> stopped_{false};
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<ArrivalSignal*> wakeAlso_;
};

// The one pause of the core: `duration`, cut short when `stop` (if given) is
// requested. False when it was.
template <class Rep, class Period>
bool Pause(std::chrono::duration<Rep, Period> duration, StopToken* stop) {
    if (stop != nullptr)
        return stop->sleepFor(duration);
    std::this_thread::sleep_for(duration);
    return true;
}

// While it lives, a stop request on `stop` (when there is one) also wakes
// whoever sleeps on `signal`. Every wait on an ArrivalSignal that a stop
// must end opens one around itself, so no worker has to remember to
// register the link's signal with its token: a stop requested before the
// scope opened is seen by the waiter's own check, one requested after it
// wakes the wait.
class StopWakeScope {
  public:
    StopWakeScope(StopToken* stop, ArrivalSignal& signal) : stop_(stop), signal_(signal) {
        if (stop_ != nullptr)
            stop_->wakeAlso(signal_);
    }
    ~StopWakeScope() {
        if (stop_ != nullptr)
            stop_->forget(signal_);
    }
    StopWakeScope(const StopWakeScope&) = delete;
    StopWakeScope& operator=(const StopWakeScope&) = delete;

  private:
    StopToken* stop_;
    ArrivalSignal& signal_;
};

} // namespace korvane
