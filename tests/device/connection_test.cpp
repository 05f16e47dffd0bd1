// The device connection: the bounded search, the open by serial number, the link's
// set-up and the close, against the recording stand-in of the counter's library.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/measurement.h"
#include "core/cycle.h"
#include "device/connection.h"
#include "testing/fake_platform.h"

// The cycle's states and phases by their bare names.
using enum CycleState;
using enum RangePhase;

namespace {

using fake::state;

// "接続デバイスなし     " in Shift-JIS.
const std::string noDeviceText =
    "\x90\xda\x91\xb1\x83\x66\x83\x6f\x83\x43\x83\x58\x82\xc8\x82\xb5     ";

class Connection : public ::testing::Test {
protected:
    void SetUp() override { fake::reset(); }

    static void expectNothingOpened() {
        EXPECT_EQ(measurementState.cycleState, NoDevice);
        EXPECT_EQ(measurementState.rangePhase, Measuring);
        EXPECT_EQ(deviceConnection.deviceHandle, nullptr);
        EXPECT_FALSE(state.deviceOpen);
        for (const std::string& call : state.calls) {
            EXPECT_EQ(call.rfind("FT_OpenEx", 0), 0u) << call;
        }
    }
};

TEST_F(Connection, NoDeviceGivesUpAfterTheLastCountingCallAndShowsTheNoDeviceText) {
    state.deviceCountAt = [](int) { return DWORD{0}; };
    searchAtStart();
    EXPECT_EQ(state.countCalls, 20001);
    EXPECT_EQ(state.serialCalls, 0);
    EXPECT_TRUE(state.calls.empty());
    EXPECT_EQ(deviceConnection.deviceCount, 0u);
    expectNothingOpened();

    runMeasurementStep(fake::testWindow());
    ASSERT_EQ(state.drawn.size(), 1u);
    EXPECT_EQ(state.drawn[0].bytes, noDeviceText);
    EXPECT_EQ(state.drawn[0].bytes.size(), 21u);
    EXPECT_EQ(state.drawn[0].x, 10);
    EXPECT_EQ(state.drawn[0].y, 10);
    EXPECT_EQ(measurementState.cycleState, NoDevice);
    EXPECT_TRUE(state.writes.empty());
}

TEST_F(Connection, SearchStopsAtTheCountingCallThatFindsADevice) {
    for (int appearAt : {1, 2, 137, 20000, 20001}) {
        SCOPED_TRACE(appearAt);
        fake::reset();
        state.deviceCountAt = [appearAt](int call) { return DWORD{call >= appearAt ? 1u : 0u}; };
        searchAtStart();
        EXPECT_EQ(state.countCalls, appearAt);
        EXPECT_EQ(measurementState.cycleState, Configure);
    }
}

TEST_F(Connection, ADeviceAppearingAfterTheLastCountingCallIsNotFound) {
    state.deviceCountAt = [](int call) { return DWORD{call > 20001 ? 1u : 0u}; };
    searchAtStart();
    EXPECT_EQ(state.countCalls, 20001);
    EXPECT_EQ(state.serialCalls, 0);
    expectNothingOpened();
}

TEST_F(Connection, SerialNumberRetriesAreBounded) {
    struct Case {
        int failures;
        int expectedCalls;
        bool opens;
    };
    for (const Case& c : {Case{0, 1, true}, Case{1, 2, true}, Case{5000, 5001, true},
                          Case{5001, 5001, false}, Case{1000000, 5001, false}}) {
        SCOPED_TRACE(c.failures);
        fake::reset();
        state.serialStatusAt = [&c](int call) {
            return call <= c.failures ? FT_DEVICE_NOT_FOUND : FT_OK;
        };
        searchAtStart();
        EXPECT_EQ(state.serialCalls, c.expectedCalls);
        EXPECT_EQ(state.openedSerial, c.opens ? "FAKE0001" : "");
        EXPECT_EQ(measurementState.cycleState, c.opens ? Configure : NoDevice);
        if (!c.opens) {
            EXPECT_EQ(deviceConnection.lastStatus, FT_DEVICE_NOT_FOUND);
            expectNothingOpened();
        }
    }
}

TEST_F(Connection, FailingOpenLeavesNoDevice) {
    for (FT_STATUS status : {FT_DEVICE_NOT_FOUND, FT_DEVICE_NOT_OPENED, FT_IO_ERROR}) {
        SCOPED_TRACE(status);
        fake::reset();
        state.openResult = status;
        searchAtStart();
        EXPECT_EQ(state.calls, std::vector<std::string>{"FT_OpenEx FAKE0001 1"});
        EXPECT_EQ(deviceConnection.lastStatus, status);
        expectNothingOpened();
    }
}

TEST_F(Connection, OpensDeviceZeroBySerialNumberAndSetsUpTheLink) {
    state.deviceCountAt = [](int) { return DWORD{2}; };
    state.serialNumbers = {"CTR00001", "CTR00002"};
    searchAtStart();
    EXPECT_EQ(deviceConnection.deviceCount, 2u);
    EXPECT_EQ(state.countCalls, 1);
    EXPECT_EQ(state.serialCalls, 1);
    EXPECT_EQ(state.calls, (std::vector<std::string>{"FT_OpenEx CTR00001 1", "FT_SetChars 13 1 0 0",
                                                     "FT_SetTimeouts 100 100"}));
    EXPECT_EQ(deviceConnection.deviceHandle, state.openHandle);
    EXPECT_EQ(deviceConnection.lastStatus, FT_OK);
    // Opening talks to the counter no further: the cycle configures it.
    EXPECT_TRUE(state.writes.empty());
    EXPECT_TRUE(state.readRequests.empty());
}

TEST_F(Connection, OpeningArmsTheCycleForRanging) {
    measurementState.ticksSinceConfig = 57;
    searchAtStart();
    EXPECT_EQ(measurementState.cycleState, Configure);
    EXPECT_EQ(measurementState.rangePhase, FirstSample);
    EXPECT_EQ(measurementState.ticksSinceConfig, 0);
    EXPECT_EQ(measurementState.divider, 8000000);
    EXPECT_EQ(measurementState.autoRange, 1);
}

TEST_F(Connection, CloseWithoutADeviceClosesTheNullHandleHarmlessly) {
    state.deviceCountAt = [](int) { return DWORD{0}; };
    searchAtStart();
    closeDevice();
    EXPECT_EQ(state.closeCalls, 1);
    EXPECT_EQ(state.closedHandle, nullptr);
    EXPECT_EQ(deviceConnection.lastStatus, FT_INVALID_HANDLE);
    EXPECT_EQ(measurementState.cycleState, NoDevice);
}

TEST_F(Connection, CloseReleasesTheOpenedDevice) {
    searchAtStart();
    closeDevice();
    EXPECT_EQ(state.closeCalls, 1);
    EXPECT_EQ(state.closedHandle, state.openHandle);
    EXPECT_EQ(deviceConnection.lastStatus, FT_OK);
    EXPECT_FALSE(state.deviceOpen);
}

TEST_F(Connection, OverlongSerialNumberReachesTheOpenCutToTheBuffer) {
    state.serialNumbers = {std::string(200, '7')};
    searchAtStart();
    EXPECT_EQ(state.openedSerial, std::string(d2xxSerialNumberSize - 1, '7'));
    EXPECT_EQ(measurementState.cycleState, Configure);
}

// The watch: with no counter open, one listing call per look; a counter that appears is
// opened and set up as at start, and the cycle armed again.
class Watch : public Connection {
protected:
    void look() { lookForDevice(fake::testWindow()); }

    bool lastTimerCall(UINT_PTR id, bool set) const {
        for (auto it = state.timers.rbegin(); it != state.timers.rend(); ++it) {
            if (it->id == id) {
                return it->set == set;
            }
        }
        return false;
    }
};

TEST_F(Watch, StartsOnlyWithoutADevice) {
    state.deviceCountAt = [](int) { return DWORD{0}; };
    searchAtStart();
    watchIfNoDevice(fake::testWindow());
    ASSERT_EQ(state.timers.size(), 1u);
    EXPECT_TRUE(state.timers[0].set);
    EXPECT_EQ(state.timers[0].id, watchTimerId);
    EXPECT_EQ(state.timers[0].elapseMs, watchPeriodMs);
    EXPECT_NE(watchTimerId, cycleTimerId);

    fake::reset();
    searchAtStart();
    watchIfNoDevice(fake::testWindow());
    EXPECT_TRUE(state.timers.empty());
}

TEST_F(Watch, MakesOneListingCallPerLookWhileNothingIsAttached) {
    state.deviceCountAt = [](int) { return DWORD{0}; };
    for (int i = 0; i < 100; ++i) {
        look();
    }
    EXPECT_EQ(state.countCalls, 100);
    EXPECT_EQ(state.serialCalls, 0);
    EXPECT_TRUE(state.calls.empty());
    EXPECT_TRUE(state.drawn.empty());
    EXPECT_TRUE(state.timers.empty());
    EXPECT_EQ(measurementState.cycleState, NoDevice);
}

TEST_F(Watch, OpensACounterThatAppearsAsAtStartAndRestartsTheCycle) {
    state.deviceCountAt = [](int call) { return DWORD{call >= 3 ? 1u : 0u}; };
    look();
    look();
    EXPECT_EQ(deviceConnection.deviceHandle, nullptr);
    look();
    EXPECT_EQ(state.countCalls, 3);
    EXPECT_EQ(state.serialCalls, 1);
    EXPECT_EQ(state.calls, (std::vector<std::string>{"FT_OpenEx FAKE0001 1", "FT_SetChars 13 1 0 0",
                                                     "FT_SetTimeouts 100 100"}));
    EXPECT_EQ(deviceConnection.deviceHandle, state.openHandle);
    EXPECT_EQ(measurementState.cycleState, Configure);
    EXPECT_EQ(measurementState.rangePhase, FirstSample);
    EXPECT_TRUE(lastTimerCall(watchTimerId, false)) << "the watch stops";
    EXPECT_TRUE(lastTimerCall(cycleTimerId, true)) << "timer 1 runs again";
    // With a counter open, a late tick of the watch only stops it.
    const int calls = state.countCalls;
    look();
    EXPECT_EQ(state.countCalls, calls);
}

TEST_F(Watch, KeepsTheRangeModeAndAFixedDivider) {
    struct Case {
        int32_t autoRange;
        int32_t divider;
        RangePhase rangePhase;
    };
    for (const Case& c :
         {Case{1, 1000, FirstSample}, Case{0, 100, Measuring}, Case{0, 4, Measuring}}) {
        SCOPED_TRACE(c.autoRange);
        fake::reset();
        measurementState.autoRange = c.autoRange;
        measurementState.divider = c.divider;
        measurementState.rangePhase = SecondSample;
        measurementState.ticksSinceConfig = 77;
        measurementState.refreshCounter = 7;
        measurementState.ticksWithoutFrame = 33;
        look();
        EXPECT_EQ(measurementState.cycleState, Configure);
        EXPECT_EQ(measurementState.autoRange, c.autoRange);
        EXPECT_EQ(measurementState.divider, c.divider);
        EXPECT_EQ(measurementState.rangePhase, c.rangePhase);
        EXPECT_EQ(measurementState.ticksSinceConfig, 0);
        EXPECT_EQ(measurementState.refreshCounter, 0);
        EXPECT_EQ(measurementState.ticksWithoutFrame, 0);
    }
}

TEST_F(Watch, PrefersTheCounterThatWasLost) {
    state.deviceCountAt = [](int) { return DWORD{3}; };
    state.serialNumbers = {"CTR00001", "CTR00002", "CTR00003"};
    std::snprintf(openedSerialNumber, sizeof openedSerialNumber, "%s", "CTR00002");
    look();
    EXPECT_EQ(state.openedSerial, "CTR00002");
    EXPECT_EQ(state.countCalls, 1);

    // Not there: the first one listed.
    fake::reset();
    state.deviceCountAt = [](int) { return DWORD{2}; };
    state.serialNumbers = {"CTR00001", "CTR00003"};
    std::snprintf(openedSerialNumber, sizeof openedSerialNumber, "%s", "CTR00002");
    look();
    EXPECT_EQ(state.openedSerial, "CTR00001");
    EXPECT_EQ(state.serialCalls, 2);
}

TEST_F(Watch, ACounterThatCannotBeOpenedIsTriedAgainAtTheNextLook) {
    state.openResult = FT_DEVICE_NOT_OPENED;
    look();
    EXPECT_EQ(deviceConnection.deviceHandle, nullptr);
    EXPECT_EQ(measurementState.cycleState, NoDevice);
    EXPECT_TRUE(state.timers.empty()) << "the watch goes on";
    state.openResult = FT_OK;
    look();
    EXPECT_EQ(deviceConnection.deviceHandle, state.openHandle);
    EXPECT_EQ(measurementState.cycleState, Configure);
}

TEST_F(Watch, ASerialNumberThatCannotBeReadIsNoDevice) {
    state.serialStatusAt = [](int) { return FT_DEVICE_NOT_FOUND; };
    look();
    EXPECT_EQ(state.countCalls, 1);
    EXPECT_EQ(state.serialCalls, 1);
    EXPECT_TRUE(state.calls.empty());
    EXPECT_EQ(measurementState.cycleState, NoDevice);
}

TEST_F(Watch, ALostDeviceIsClosedAndWatchedFor) {
    searchAtStart();
    dropLostDevice(fake::testWindow());
    EXPECT_EQ(state.closeCalls, 1);
    EXPECT_EQ(state.closedHandle, state.openHandle);
    EXPECT_EQ(deviceConnection.deviceHandle, nullptr);
    EXPECT_TRUE(lastTimerCall(watchTimerId, true));
    EXPECT_STREQ(openedSerialNumber, "FAKE0001");
}

}  // namespace
