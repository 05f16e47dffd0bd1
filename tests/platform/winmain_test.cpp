// The program's WinMain run in this process, to see what only the inside shows: the
// device closed and the timer stopped at the end, and a second run that starts afresh.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/menu.h"
#include "device/connection.h"
#include "platform/linux/run/run.h"
#include "programs/launch.h"
#include "sim/sim.h"

namespace {

// A run of the program against the simulated counter at `frequencyHz`, ended by the
// menu command at `endMicros`; returns WinMain's result.
// `keys`, when given, are typed at 2.5 s.
int runProgram(double frequencyHz, uint64_t endMicros, const std::string& keys = "") {
    platform::FrontConfig config;
    config.recordTimerCalls = true;
    platform::platformStart(config);
    sim::Scenario scenario;
    scenario.frequencyHz = frequencyHz;
    sim::simConfigure(scenario,
                      sim::Clock{platform::platformNowMicros, platform::platformWaitUntilMicros});
    if (!keys.empty()) {
        platform::scheduleText(2500000, keys);
    }
    platform::scheduleCommand(endMicros, PM_COMMAND_EXIT);
    return platform::runWinMain();
}

struct Outcome {
    int exitCode;
    std::vector<std::string> screen;
    std::vector<uint64_t> timerTimes;
};

Outcome runAndRecord(double frequencyHz, uint64_t endMicros) {
    Outcome outcome{runProgram(frequencyHz, endMicros), {}, {}};
    for (const platform::ScreenText& text : platform::screenTexts()) {
        outcome.screen.push_back(std::to_string(text.x) + "," + std::to_string(text.y) + " " +
                                 text.utf8);
    }
    for (const platform::TimerCall& call : platform::timerCalls()) {
        outcome.timerTimes.push_back(call.micros);
    }
    return outcome;
}

TEST(WinMain, TheMenuCommandClosesTheDeviceAndEndsWithExitCode0) {
    EXPECT_EQ(runProgram(1000.0, 2000000), 0);

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

// Nothing of a run stays for the next in the same process: a run left in a fixed range
// with another divider is followed by one that starts as the program does, ranging
// automatically, and draws and times exactly what a first run draws and times.
TEST(WinMain, ASecondRunInOneProcessStartsAfresh) {
    const Outcome first = runAndRecord(1234.0, 5000000);
    ASSERT_FALSE(first.screen.empty());
    // A different run between: another input, a fixed range stepped down.
    ASSERT_EQ(runProgram(45678.0, 3000000, " -"), 0);
    const Outcome again = runAndRecord(1234.0, 5000000);
    EXPECT_EQ(again.exitCode, first.exitCode);
    EXPECT_EQ(again.screen, first.screen);
    EXPECT_EQ(again.timerTimes, first.timerTimes);
    EXPECT_EQ(deviceConnection.deviceHandle, nullptr);
}

// The serial number on the command line reaches the program's search: of two counters
// the one asked for is opened, and one that is not attached is never replaced by another.
TEST(WinMain, TheCommandLineChoosesTheCounterBySerialNumber) {
    struct Case {
        const char* commandLine;
        const char* opened;
    };
    for (const Case& c : {Case{"", "SIM00001"}, Case{"--serial SIM00002", "SIM00002"},
                          Case{"--serial SIM00001", "SIM00001"}, Case{"--serial SIM00009", ""}}) {
        platform::FrontConfig config;
        platform::platformStart(config);
        sim::Scenario scenario;
        scenario.deviceCount = 2;
        sim::simConfigure(
            scenario, sim::Clock{platform::platformNowMicros, platform::platformWaitUntilMicros});
        platform::scheduleCommand(3000000, PM_COMMAND_EXIT);
        EXPECT_EQ(platform::runWinMain(c.commandLine), 0) << c.commandLine;
        EXPECT_STREQ(openedSerialNumber, c.opened) << c.commandLine;
    }
}

}  // namespace
