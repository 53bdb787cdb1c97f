#pragma once

// The fixture of the end-to-end tests that run korvane-devsim on one end of
// a fresh veth pair: skipped, with the reason, where namespaces cannot be
// made or the emulator is not built.

#include "netns/netns_harness.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace korvane::netns {

// The emulator program: KORVANE_DEVSIM from the environment, else the one
// this build made.
inline std::string devsimPath() {
    if (const char* path = std::getenv("KORVANE_DEVSIM"); path != nullptr && *path != '\0')
        return path;
#ifdef KORVANE_DEVSIM
    return KORVANE_DEVSIM;
#else
    return {};
#endif
}

class DevsimPairTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const auto reason = unavailableReason())
            GTEST_SKIP() << *reason;
        if (devsimPath().empty())
            GTEST_SKIP() << "korvane-devsim is not built (set KORVANE_DEVSIM to one)";
        std::string error;
        pair_ = VethPair::create(&error);
        ASSERT_TRUE(pair_) << error;
    }

    std::unique_ptr<VethPair> pair_;
};

} // namespace korvane::netns
