// The two clocks the simulated counter runs on.
#include <gtest/gtest.h>

#include "sim/sim.h"

namespace {

TEST(VirtualClock, MovesOnlyWhenToldAndWaitsNeverGoBack) {
    const sim::Clock clock = sim::virtualClock();
    sim::setVirtualMicros(5000);
    EXPECT_EQ(clock.nowMicros(), 5000u);
    EXPECT_EQ(clock.nowMicros(), 5000u);
    clock.waitUntilMicros(7500);
    EXPECT_EQ(clock.nowMicros(), 7500u);
    clock.waitUntilMicros(100);
    EXPECT_EQ(clock.nowMicros(), 7500u);
    sim::setVirtualMicros(0);
    EXPECT_EQ(clock.nowMicros(), 0u);
}

TEST(RealClock, IsMonotonicAndAWaitReachesItsTime) {
    const sim::Clock clock = sim::realClock();
    const uint64_t start = clock.nowMicros();
    const uint64_t target = start + 2000;
    clock.waitUntilMicros(target);
    EXPECT_GE(clock.nowMicros(), target);
    clock.waitUntilMicros(start);  // already past: returns at once
    EXPECT_GE(clock.nowMicros(), target);
}

}  // namespace
