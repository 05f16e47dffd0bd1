// The program's WinMain run in this process, once (its state is process-wide), to see
// what only the inside shows: the device closed and the timer stopped at the end.
#include <gtest/gtest.h>

#include "app/menu.h"
#include "device/connection.h"
#include "platform/linux/front.h"
#include "platform/linux/launch.h"
#include "sim/sim.h"

namespace {

TEST(WinMain, TheMenuCommandClosesTheDeviceAndEndsWithExitCode0) {
    platform::FrontConfig config;
    config.recordTimerCalls = true;
    platform::platformStart(config);
    sim::simConfigure(sim::Scenario{},
                      sim::Clock{platform::platformNowMicros, platform::platformWaitUntilMicros});
    platform::scheduleCommand(2000000, PM_COMMAND_EXIT);

    EXPECT_EQ(platform::runWinMain(), 0);

    EXPECT_EQ(platform::platformNowMicros(), 2000000u);
    // The last call on the device was its close, and it succeeded: only an open
    // handle closes with FT_OK.
    EXPECT_EQ(deviceConnection.lastStatus, FT_OK);
    EXPECT_EQ(deviceConnection.deviceHandle, nullptr);
    std::vector<platform::TimerCall> calls = platform::timerCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_FALSE(calls.back().set);
    EXPECT_TRUE(calls.back().succeeded);
    EXPECT_EQ(calls.back().id, 1u);
}

}  // namespace
