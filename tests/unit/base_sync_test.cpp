// The stop token's wake list: a signal it was told to wake is woken by a
// stop request until it is forgotten.

#include "base/sync.hpp"

#include <gtest/gtest.h>

namespace korvane {
namespace {

TEST(StopToken, WakesItsSignalsUntilForgotten) {
    StopToken stop;
    ArrivalSignal kept;
    auto gone = std::make_unique<ArrivalSignal>();
    stop.wakeAlso(kept);
    stop.wakeAlso(*gone);
    stop.forget(*gone);
    gone.reset(); // a forgotten signal may go while the token stays
    const auto before = kept.generation();
    stop.requestStop();
    EXPECT_TRUE(stop.stopRequested());
    EXPECT_EQ(kept.generation(), before + 1);

    // Forgetting one registration leaves a second one of the same signal.
    StopToken twice;
    ArrivalSignal signal;
    twice.wakeAlso(signal);
    twice.wakeAlso(signal);
    twice.forget(signal);
    twice.requestStop();
    EXPECT_EQ(signal.generation(), 1u);
}

} // namespace
} // namespace korvane
