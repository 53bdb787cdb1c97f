#pragma once

// Calls from worker threads onto the GUI thread. Workers never touch a
// widget: a notification is posted (a queued call), and a question whose
// answer the worker needs is a blocking queued call. The blocking call is
// one that a stop request ends early, so a window that is closing never
// waits for a worker that waits for the window.

#include "base/sync.hpp"
#include "base/timing.hpp"

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>

namespace korvane::ui {

class GuiCaller {
  public:
    // Calls run on `context`'s thread; `stop` (optional) ends blocking calls.
    explicit GuiCaller(QObject* context, StopToken* stop = nullptr)
        : context_(context), stop_(stop), wake_(std::make_shared<ArrivalSignal>()) {
        if (stop_ != nullptr) {
            stop_->wakeAlso(*wake_);
        }
    }
    // A caller made for one operation on a longer-lived token leaves it.
    ~GuiCaller() {
        if (stop_ != nullptr) {
            stop_->forget(*wake_);
        }
    }
    GuiCaller(const GuiCaller&) = delete;
    GuiCaller& operator=(const GuiCaller&) = delete;

    // Queued: returns at once; `f` runs later unless the context is gone.
    template <class F>
    void post(F f) const {
        QMetaObject::invokeMethod(context_, std::move(f), Qt::QueuedConnection);
    }

    // Runs `f` on the context's thread and returns its result: at once when
    // called there, else through a blocking queued call. nullopt when a stop
    // was requested first or the context went away before `f` ran. A call
    // that a stop cut short never runs `f` afterwards: a question or a
    // message nobody waits for any more does not come up.
    template <class F>
    auto call(F f) const -> std::optional<std::invoke_result_t<F&>> {
        using Result = std::invoke_result_t<F&>;
        static_assert(!std::is_void_v<Result>, "return a value to wait for");
        if (QThread::currentThread() == context_->thread()) {
            return f();
        }
        if (stop_ != nullptr && stop_->stopRequested()) {
            return std::nullopt;
        }
        auto state = std::make_shared<State<Result>>();
        state->wake = wake_;
        // The completion is the last owner of the lambda's capture: it tells
        // the waiter when `f` ran or when Qt dropped the call unrun.
        auto completion = std::make_shared<Completion<Result>>(state);
        const bool posted = QMetaObject::invokeMethod(
            context_,
            [completion, f = std::move(f)]() mutable {
                {
                    std::lock_guard lock(completion->state->mutex);
                    if (completion->state->abandoned) {
                        return;
                    }
                }
                Result result = f();
                std::lock_guard lock(completion->state->mutex);
                completion->state->result = std::move(result);
            },
            Qt::QueuedConnection);
        completion.reset();
        if (!posted) {
            return std::nullopt;
        }
        for (;;) {
            const std::uint64_t seen = wake_->generation();
            {
                std::lock_guard lock(state->mutex);
                if (state->finished) {
                    return std::move(state->result);
                }
            }
            if (stop_ != nullptr && stop_->stopRequested()) {
                std::lock_guard lock(state->mutex);
                state->abandoned = true;
                return std::nullopt;
            }
            wake_->waitUntil(seen, SteadyClock::now() + std::chrono::hours(1));
        }
    }

  private:
    template <class Result>
    struct State {
        std::mutex mutex;
        bool finished = false;
        bool abandoned = false; // the waiter gave up: `f` is not to run
        std::optional<Result> result;
        std::shared_ptr<ArrivalSignal> wake;
    };
    template <class Result>
    struct Completion {
        explicit Completion(std::shared_ptr<State<Result>> s) : state(std::move(s)) {}
        ~Completion() {
            {
                std::lock_guard lock(state->mutex);
                state->finished = true;
            }
            state->wake->notify();
        }
        Completion(const Completion&) = delete;
        Completion& operator=(const Completion&) = delete;
        std::shared_ptr<State<Result>> state;
    };

    QObject* context_;
    StopToken* stop_;
    std::shared_ptr<ArrivalSignal> wake_;
};

} // namespace korvane::ui
