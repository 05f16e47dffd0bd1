// The device connection against a stand-in library that counts its calls.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/cycle.h"
#include "device/connection.h"
#include "tests/device/counting_d2xx.h"
#include "tests/device/win32_recorder.h"

namespace {

using counting_d2xx::openedHandle;
using counting_d2xx::record;
using counting_d2xx::Script;

// The state the program starts with, taken before any test changes it.
const MeasurementState startState = measurementState;

// "接続デバイスなし     " in Shift-JIS.
const std::string noDeviceText =
    "\x90\xda\x91\xb1\x83\x66\x83\x6f\x83\x43\x83\x58\x82\xc8\x82\xb5     ";

HWND const window = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x77));

class Connection : public ::testing::Test {
protected:
    void SetUp() override {
        measurementState = startState;
        deviceConnection = DeviceConnection{nullptr, 0, FT_OK};
        win32_recorder::reset();
    }

    static void open(const Script& script) {
        counting_d2xx::reset(script);
        openFirstDevice();
    }

    static Script oneDevice() {
        Script script;
        script.deviceCount = 1;
        script.serials = {"CTR00001"};
        return script;
    }

    static void expectNothingOpened() {
        EXPECT_EQ(measurementState.cycleState, NoDevice);
        EXPECT_EQ(measurementState.rangePhase, startState.rangePhase);
        EXPECT_EQ(deviceConnection.deviceHandle, nullptr);
        EXPECT_TRUE(record().setChars.empty());
        EXPECT_TRUE(record().setTimeouts.empty());
    }
};

TEST_F(Connection, NoDeviceGivesUpAfterTheLastCountingCallAndShowsTheNoDeviceText) {
    open(Script{});
    EXPECT_EQ(record().countCalls, deviceCountAttempts);
    EXPECT_EQ(record().countCalls, 20001);
    EXPECT_EQ(record().serialCalls, 0);
    EXPECT_TRUE(record().openedSerials.empty());
    EXPECT_EQ(deviceConnection.deviceCount, 0u);
    expectNothingOpened();

    win32_recorder::reset();
    runCycleStep(window);
    ASSERT_EQ(win32_recorder::drawn().size(), 1u);
    EXPECT_EQ(win32_recorder::drawn()[0].bytes, noDeviceText);
    EXPECT_EQ(win32_recorder::drawn()[0].bytes.size(), 21u);
    EXPECT_EQ(win32_recorder::drawn()[0].x, 10);
    EXPECT_EQ(win32_recorder::drawn()[0].y, 10);
    EXPECT_EQ(win32_recorder::timerPeriodMs(), 0u);
    EXPECT_EQ(record().otherCalls, 0);
}

TEST_F(Connection, SearchStopsAtTheCountingCallThatFindsADevice) {
    for (int appearAt : {1, 2, 137, 20000, 20001}) {
        SCOPED_TRACE(appearAt);
        SetUp();
        Script script = oneDevice();
        script.appearAtCountCall = appearAt;
        open(script);
        EXPECT_EQ(record().countCalls, appearAt);
        EXPECT_EQ(measurementState.cycleState, Configure);
    }
}

TEST_F(Connection, ADeviceAppearingAfterTheLastCountingCallIsNotFound) {
    Script script = oneDevice();
    script.appearAtCountCall = deviceCountAttempts + 1;
    open(script);
    EXPECT_EQ(record().countCalls, deviceCountAttempts);
    expectNothingOpened();
}

TEST_F(Connection, SerialNumberRetriesAreBounded) {
    struct Case {
        int failures;
        int expectedCalls;
        bool opens;
    };
    for (const Case& c : {Case{0, 1, true}, Case{1, 2, true}, Case{5000, 5001, true},
                          Case{5001, 5001, false}, Case{100000, 5001, false}}) {
        SCOPED_TRACE(c.failures);
        SetUp();
        Script script = oneDevice();
        script.serialFailures = c.failures;
        open(script);
        EXPECT_EQ(record().serialCalls, c.expectedCalls);
        EXPECT_EQ(record().openedSerials.size(), c.opens ? 1u : 0u);
        EXPECT_EQ(measurementState.cycleState, c.opens ? Configure : NoDevice);
    }
}

TEST_F(Connection, FailingOpenLeavesNoDevice) {
    for (FT_STATUS status : {FT_DEVICE_NOT_FOUND, FT_DEVICE_NOT_OPENED, FT_IO_ERROR}) {
        SCOPED_TRACE(status);
        SetUp();
        Script script = oneDevice();
        script.openStatus = status;
        open(script);
        EXPECT_EQ(record().openedSerials.size(), 1u);
        EXPECT_EQ(deviceConnection.lastStatus, status);
        expectNothingOpened();
    }
}

TEST_F(Connection, OpensDeviceZeroBySerialNumberAndSetsUpTheLink) {
    Script script = oneDevice();
    script.deviceCount = 2;
    script.serials = {"CTR00001", "CTR00002"};
    open(script);
    EXPECT_EQ(deviceConnection.deviceCount, 2u);
    ASSERT_EQ(record().openedSerials.size(), 1u);
    EXPECT_EQ(record().openedSerials[0], "CTR00001");
    EXPECT_EQ(record().openFlags[0], FT_OPEN_BY_SERIAL_NUMBER);
    EXPECT_EQ(deviceConnection.deviceHandle, openedHandle);

    ASSERT_EQ(record().setChars.size(), 1u);
    const counting_d2xx::SetCharsCall& chars = record().setChars[0];
    EXPECT_EQ(chars.handle, openedHandle);
    EXPECT_EQ(chars.eventChar, 13);
    EXPECT_EQ(chars.eventCharEnabled, 1);
    EXPECT_EQ(chars.errorChar, 0);
    EXPECT_EQ(chars.errorCharEnabled, 0);
    ASSERT_EQ(record().setTimeouts.size(), 1u);
    EXPECT_EQ(record().setTimeouts[0].handle, openedHandle);
    EXPECT_EQ(record().setTimeouts[0].readTimeoutMs, 100u);
    EXPECT_EQ(record().setTimeouts[0].writeTimeoutMs, 100u);
    EXPECT_EQ(record().otherCalls, 0);
}

TEST_F(Connection, OpeningArmsTheCycleForRanging) {
    measurementState.ticksSinceConfig = 57;
    open(oneDevice());
    EXPECT_EQ(measurementState.cycleState, Configure);
    EXPECT_EQ(measurementState.rangePhase, FirstSample);
    EXPECT_EQ(measurementState.ticksSinceConfig, 0);
    EXPECT_EQ(measurementState.divider, startState.divider);
    EXPECT_EQ(measurementState.autoRange, startState.autoRange);
}

TEST_F(Connection, CloseWithoutADeviceClosesTheNullHandleHarmlessly) {
    open(Script{});
    closeDevice();
    ASSERT_EQ(record().closed.size(), 1u);
    EXPECT_EQ(record().closed[0], nullptr);
    EXPECT_EQ(deviceConnection.lastStatus, FT_INVALID_HANDLE);
    EXPECT_EQ(measurementState.cycleState, NoDevice);
}

TEST_F(Connection, CloseReleasesTheOpenedDevice) {
    open(oneDevice());
    closeDevice();
    ASSERT_EQ(record().closed.size(), 1u);
    EXPECT_EQ(record().closed[0], openedHandle);
    EXPECT_EQ(deviceConnection.lastStatus, FT_OK);
}

TEST_F(Connection, OverlongSerialNumberIsCutToTheBuffer) {
    Script script = oneDevice();
    script.serials = {std::string(200, '7')};
    open(script);
    ASSERT_EQ(record().openedSerials.size(), 1u);
    EXPECT_EQ(record().openedSerials[0], std::string(d2xxSerialNumberSize - 1, '7'));
    EXPECT_EQ(measurementState.cycleState, Configure);
}

}  // namespace
