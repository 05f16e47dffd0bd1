// The D2XX calls as the simulator serves them: listing, opening, the link, and every
// call on a handle that is not open.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/protocol.h"
#include "platform/d2xx.h"
#include "sim/d2xx_sim.h"
#include "sim/sim.h"
#include "tests/sim/read_back.h"

namespace {

using sim::FaultKind;
using sim::Scenario;

constexpr uint64_t ms = 1000;

Scenario unpluggedBetween(double from, double until) {
    Scenario scenario;
    scenario.faults[0] = {FaultKind::Unplugged, from, until};
    scenario.faultCount = 1;
    return scenario;
}

class D2xxSim : public testing::Test {
protected:
    void start(const Scenario& scenario) {
        sim::setVirtualMicros(0);
        sim::simConfigure(scenario, sim::virtualClock());
    }

    DWORD count() {
        DWORD devices = 12345;
        EXPECT_EQ(FT_ListDevices(&devices, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
        return devices;
    }

    FT_STATUS serialOf(uintptr_t index, char* serial) {
        return FT_ListDevices(reinterpret_cast<PVOID>(index), serial,
                              FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER);
    }

    FT_HANDLE open(const char* serial) {
        FT_HANDLE handle = nullptr;
        EXPECT_EQ(FT_OpenEx(const_cast<char*>(serial), FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_OK);
        return handle;
    }

    void write(FT_HANDLE handle, const CounterCommand& command) {
        DWORD written = 0;
        EXPECT_EQ(FT_Write(handle, const_cast<char*>(command.bytes),
                           static_cast<DWORD>(command.length), &written),
                  FT_OK);
        EXPECT_EQ(written, static_cast<DWORD>(command.length));
    }

    DWORD pending(FT_HANDLE handle) {
        DWORD rx = 777, tx = 777, events = 777;
        FT_GetStatus(handle, &rx, &tx, &events);
        return rx;
    }
};

TEST_F(D2xxSim, OneDeviceIsListedAndOpenedBySerialNumber) {
    start(Scenario{});
    EXPECT_EQ(count(), 1u);
    char serial[d2xxSerialNumberSize];
    ASSERT_EQ(serialOf(0, serial), FT_OK);
    EXPECT_STREQ(serial, "SIM00001");
    EXPECT_EQ(serialOf(1, serial), FT_DEVICE_NOT_FOUND);
    FT_HANDLE handle = open("SIM00001");
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(FT_SetChars(handle, 13, 1, 0, 0), FT_OK);
    EXPECT_EQ(FT_SetTimeouts(handle, 100, 100), FT_OK);
    EXPECT_EQ(FT_Close(handle), FT_OK);
}

TEST_F(D2xxSim, NoDeviceListsNothingAndOpensNothing) {
    Scenario scenario;
    scenario.deviceCount = 0;
    start(scenario);
    EXPECT_EQ(count(), 0u);
    char serial[d2xxSerialNumberSize] = "untouched";
    EXPECT_EQ(serialOf(0, serial), FT_DEVICE_NOT_FOUND);
    EXPECT_STREQ(serial, "untouched");
    FT_HANDLE handle = reinterpret_cast<FT_HANDLE>(1);
    EXPECT_EQ(FT_OpenEx(const_cast<char*>("SIM00001"), FT_OPEN_BY_SERIAL_NUMBER, &handle),
              FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(handle, nullptr);
}

TEST_F(D2xxSim, TwoDevicesAreListedInOrderAndEachOpensOnce) {
    Scenario scenario;
    scenario.deviceCount = 2;
    start(scenario);
    EXPECT_EQ(count(), 2u);
    char serial[d2xxSerialNumberSize];
    ASSERT_EQ(serialOf(0, serial), FT_OK);
    EXPECT_STREQ(serial, "SIM00001");
    ASSERT_EQ(serialOf(1, serial), FT_OK);
    EXPECT_STREQ(serial, "SIM00002");
    EXPECT_EQ(serialOf(2, serial), FT_DEVICE_NOT_FOUND);

    FT_HANDLE second = open("SIM00002");
    FT_HANDLE again = nullptr;
    EXPECT_EQ(FT_OpenEx(const_cast<char*>("SIM00002"), FT_OPEN_BY_SERIAL_NUMBER, &again),
              FT_DEVICE_NOT_OPENED);
    FT_HANDLE first = open("SIM00001");
    EXPECT_NE(first, second);
    write(second, querySequence().commands[0]);
    EXPECT_EQ(sim::simDevice(1)->receivedCommands().size(), 1u);
    EXPECT_TRUE(sim::simDevice(0)->receivedCommands().empty());
    FT_Close(first);
    FT_Close(second);
}

TEST_F(D2xxSim, ADeviceAppearsAtTheGivenCountingCall) {
    Scenario scenario;
    scenario.appearAfterListCalls = 5;
    start(scenario);
    char serial[d2xxSerialNumberSize];
    for (int call = 1; call < 5; ++call) {
        EXPECT_EQ(count(), 0u) << "call " << call;
        EXPECT_EQ(serialOf(0, serial), FT_DEVICE_NOT_FOUND);
    }
    EXPECT_EQ(count(), 1u);
    EXPECT_EQ(sim::simCountingCalls(), 5);
    EXPECT_EQ(serialOf(0, serial), FT_OK);
    EXPECT_EQ(sim::simCountingCalls(), 5) << "reading a serial number does not count";
}

TEST_F(D2xxSim, TheSerialNumberFitsTheLibrarysBuffer) {
    start(Scenario{});
    char buffer[d2xxSerialNumberSize + 16];
    std::memset(buffer, '#', sizeof buffer);
    ASSERT_EQ(serialOf(0, buffer), FT_OK);
    EXPECT_LT(std::strlen(buffer), static_cast<size_t>(d2xxSerialNumberSize));
    for (size_t i = d2xxSerialNumberSize; i < sizeof buffer; ++i) {
        EXPECT_EQ(buffer[i], '#');
    }
}

TEST_F(D2xxSim, BadArgumentsAreRefused) {
    start(Scenario{});
    EXPECT_EQ(FT_ListDevices(nullptr, nullptr, FT_LIST_NUMBER_ONLY), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_ListDevices(nullptr, nullptr, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER),
              FT_INVALID_PARAMETER);
    DWORD devices = 0;
    EXPECT_EQ(FT_ListDevices(&devices, nullptr, 0x1234), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_OpenEx(const_cast<char*>("SIM00001"), FT_OPEN_BY_SERIAL_NUMBER, nullptr),
              FT_INVALID_PARAMETER);
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(FT_OpenEx(nullptr, FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_OpenEx(const_cast<char*>("NOSUCH"), FT_OPEN_BY_SERIAL_NUMBER, &handle),
              FT_DEVICE_NOT_FOUND);
}

// Every call on a handle that is not open fails the same way and reaches no device.
TEST_F(D2xxSim, AHandleThatIsNotOpenGetsInvalidHandleAndNothingElse) {
    start(Scenario{});
    FT_HANDLE closed = open("SIM00001");
    ASSERT_EQ(FT_Close(closed), FT_OK);
    FT_HANDLE unknown = reinterpret_cast<FT_HANDLE>(static_cast<uintptr_t>(0xDEADBEEF));
    for (FT_HANDLE handle : {FT_HANDLE{nullptr}, unknown, closed}) {
        char bytes[8] = "M00\r";
        DWORD done = 99, rx = 99, tx = 99, events = 99;
        EXPECT_EQ(FT_SetChars(handle, 13, 1, 0, 0), FT_INVALID_HANDLE);
        EXPECT_EQ(FT_SetTimeouts(handle, 100, 100), FT_INVALID_HANDLE);
        EXPECT_EQ(FT_Write(handle, bytes, 4, &done), FT_INVALID_HANDLE);
        EXPECT_EQ(FT_GetStatus(handle, &rx, &tx, &events), FT_INVALID_HANDLE);
        EXPECT_EQ(FT_Read(handle, bytes, 4, &done), FT_INVALID_HANDLE);
        EXPECT_EQ(FT_Close(handle), FT_INVALID_HANDLE);
        EXPECT_EQ(done, 99u);
        EXPECT_EQ(rx, 99u);
        EXPECT_STREQ(bytes, "M00\r");
    }
    EXPECT_TRUE(sim::simDevice(0)->receivedCommands().empty());
}

TEST_F(D2xxSim, HandlesOfAnEarlierRunAreForgotten) {
    start(Scenario{});
    FT_HANDLE old = open("SIM00001");
    start(Scenario{});
    EXPECT_EQ(FT_SetTimeouts(old, 100, 100), FT_INVALID_HANDLE);
    FT_HANDLE fresh = open("SIM00001");
    EXPECT_NE(fresh, old);
    EXPECT_EQ(FT_Close(fresh), FT_OK);
}

TEST_F(D2xxSim, AFrameIsWrittenWaitedForAndRead) {
    start(Scenario{});
    FT_HANDLE handle = open("SIM00001");
    FT_SetTimeouts(handle, 100, 100);
    for (const CounterCommand& command : configurationSequence(1000).commands) {
        write(handle, command);
    }
    sim::setVirtualMicros(500 * ms);
    for (const CounterCommand& command : querySequence().commands) {
        write(handle, command);
    }
    EXPECT_EQ(pending(handle), 0u) << "the answers are still on the link";
    // A read waits on the scenario's clock for the answers, up to its time-out.
    unsigned char frame[responseFrameLength];
    DWORD got = 0;
    ASSERT_EQ(FT_Read(handle, frame, sizeof frame, &got), FT_OK);
    EXPECT_EQ(got, static_cast<DWORD>(responseFrameLength));
    EXPECT_EQ(sim::virtualClock().nowMicros(), 501 * ms);
    EXPECT_EQ(decodeFrame(frame).liveCount,
              static_cast<int32_t>(sim::simDevice(0)->registers(500 * ms).liveCount));

    // Asking for more than comes returns what came once the time-out has passed.
    write(handle, querySequence().commands[0]);
    char more[32];
    ASSERT_EQ(FT_Read(handle, more, sizeof more, &got), FT_OK);
    EXPECT_EQ(got, static_cast<DWORD>(answerLength));
    EXPECT_EQ(sim::virtualClock().nowMicros(), 601 * ms);
    FT_Close(handle);
}

TEST_F(D2xxSim, OnTheRealClockAReadSleepsUntilTheAnswerComes) {
    Scenario scenario;
    scenario.linkLatencyMs = 3.0;
    sim::simConfigure(scenario, sim::realClock());
    FT_HANDLE handle = open("SIM00001");
    FT_SetTimeouts(handle, 1000, 1000);
    write(handle, querySequence().commands[0]);
    char answer[answerLength];
    DWORD got = 0;
    ASSERT_EQ(FT_Read(handle, answer, sizeof answer, &got), FT_OK);
    ASSERT_EQ(got, static_cast<DWORD>(answerLength));
    EXPECT_EQ(std::string(answer, 4), "M00=");
    FT_Close(handle);
}

TEST_F(D2xxSim, PendingBytesAreReportedByGetStatus) {
    start(Scenario{});
    FT_HANDLE handle = open("SIM00001");
    for (const CounterCommand& command : querySequence().commands) {
        write(handle, command);
    }
    sim::setVirtualMicros(50 * ms);
    DWORD rx = 0, tx = 99, events = 99;
    EXPECT_EQ(FT_GetStatus(handle, &rx, &tx, &events), FT_OK);
    EXPECT_EQ(rx, static_cast<DWORD>(responseFrameLength));
    EXPECT_EQ(tx, 0u);
    FT_Close(handle);
}

TEST_F(D2xxSim, AnUnpluggedDeviceTakesItsHandleWithIt) {
    start(unpluggedBetween(1.0, 2.0));
    FT_HANDLE handle = open("SIM00001");
    for (const CounterCommand& command : querySequence().commands) {
        write(handle, command);
    }
    sim::setVirtualMicros(1500 * ms);
    EXPECT_EQ(count(), 0u);
    char serial[d2xxSerialNumberSize];
    EXPECT_EQ(serialOf(0, serial), FT_DEVICE_NOT_FOUND);
    FT_HANDLE none = nullptr;
    EXPECT_EQ(FT_OpenEx(const_cast<char*>("SIM00001"), FT_OPEN_BY_SERIAL_NUMBER, &none),
              FT_DEVICE_NOT_FOUND);
    auto expectEveryCallFails = [&] {
        char bytes[8] = "M00\r";
        DWORD done = 99, rx = 99, tx = 99, events = 99;
        EXPECT_EQ(FT_SetChars(handle, 13, 1, 0, 0), FT_IO_ERROR);
        EXPECT_EQ(FT_SetTimeouts(handle, 100, 100), FT_IO_ERROR);
        EXPECT_EQ(FT_Write(handle, bytes, 4, &done), FT_IO_ERROR);
        EXPECT_EQ(done, 0u);
        EXPECT_EQ(FT_GetStatus(handle, &rx, &tx, &events), FT_IO_ERROR);
        EXPECT_EQ(rx, 0u) << "nothing pending";
        EXPECT_EQ(FT_Read(handle, bytes, 4, &done), FT_IO_ERROR);
        EXPECT_EQ(done, 0u);
    };
    expectEveryCallFails();

    // Back on the bus: listed and opened again under a new handle, while the old one
    // stays dead until it is closed.
    sim::setVirtualMicros(2500 * ms);
    EXPECT_EQ(count(), 1u);
    expectEveryCallFails();
    FT_HANDLE again = open("SIM00001");
    EXPECT_NE(again, handle);
    EXPECT_EQ(pending(again), 0u) << "what was on its way is lost";
    write(again, querySequence().commands[0]);
    sim::setVirtualMicros(2600 * ms);
    EXPECT_EQ(pending(again), static_cast<DWORD>(answerLength));
    EXPECT_EQ(FT_Close(handle), FT_IO_ERROR);
    EXPECT_EQ(FT_Close(again), FT_OK);
}

TEST_F(D2xxSim, TheDeviceLogRecordsUnplugAndPlugIn) {
    FILE* log = std::tmpfile();
    Scenario scenario = unpluggedBetween(1.0, 2.5);
    scenario.deviceLog = log;
    start(scenario);
    sim::setVirtualMicros(3000 * ms);
    count();
    EXPECT_EQ(readBack(log), "1000.000 unplugged SIM00001\n2500.000 plugged in SIM00001\n");
    std::fclose(log);
}

TEST_F(D2xxSim, PlugTimesBecomeUnpluggedWindows) {
    struct Case {
        const char* name;
        bool startUnplugged;
        std::vector<double> unplugAt;
        std::vector<double> plugAt;
        std::vector<std::pair<double, double>> windows;
    };
    const Case cases[] = {
        {"late plug", true, {}, {5}, {{0, 5}}},
        {"never plugged", true, {}, {}, {{0, -1}}},
        {"out and back", false, {3}, {3.5}, {{3, 3.5}}},
        {"twice", false, {3, 20}, {4, 30}, {{3, 4}, {20, 30}}},
        {"out for good", false, {7}, {}, {{7, -1}}},
        {"repeated pull ignored", false, {3, 4}, {5}, {{3, 5}}},
        {"plug while in ignored", false, {}, {2}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scenario scenario;
        ASSERT_TRUE(sim::addPlugWindows(scenario, c.startUnplugged, c.unplugAt.data(),
                                        static_cast<int>(c.unplugAt.size()), c.plugAt.data(),
                                        static_cast<int>(c.plugAt.size())));
        ASSERT_EQ(scenario.faultCount, static_cast<int>(c.windows.size()));
        for (size_t i = 0; i < c.windows.size(); ++i) {
            EXPECT_EQ(scenario.faults[i].kind, FaultKind::Unplugged);
            EXPECT_EQ(scenario.faults[i].fromSeconds, c.windows[i].first);
            EXPECT_EQ(scenario.faults[i].untilSeconds, c.windows[i].second);
        }
    }
    Scenario scenario;
    const double bad = -1;
    EXPECT_FALSE(sim::addPlugWindows(scenario, false, &bad, 1, nullptr, 0));
    EXPECT_EQ(scenario.faultCount, 0);
}

TEST_F(D2xxSim, AFaultForOneDeviceLeavesTheOthers) {
    Scenario scenario;
    scenario.deviceCount = 2;
    scenario.faults[0] = {FaultKind::Unplugged, 1.0, -1.0, 0};
    scenario.faultCount = 1;
    start(scenario);
    sim::setVirtualMicros(1500 * ms);
    EXPECT_EQ(count(), 1u);
    char serial[d2xxSerialNumberSize];
    ASSERT_EQ(serialOf(0, serial), FT_OK);
    EXPECT_STREQ(serial, "SIM00002");
}

TEST_F(D2xxSim, ClosingAnUnpluggedDeviceStillReleasesIt) {
    start(unpluggedBetween(1.0, 2.0));
    FT_HANDLE handle = open("SIM00001");
    sim::setVirtualMicros(1500 * ms);
    EXPECT_EQ(FT_Close(handle), FT_IO_ERROR);
    sim::setVirtualMicros(2500 * ms);
    EXPECT_EQ(FT_Close(handle), FT_INVALID_HANDLE);
    FT_Close(open("SIM00001"));
}

TEST_F(D2xxSim, ADeviceUnpluggedDuringAReadEndsTheRead) {
    start(unpluggedBetween(1.0005, -1.0));
    FT_HANDLE handle = open("SIM00001");
    FT_SetTimeouts(handle, 100, 100);
    sim::setVirtualMicros(1000 * ms);
    write(handle, querySequence().commands[0]);
    char bytes[16];
    DWORD got = 99;
    EXPECT_EQ(FT_Read(handle, bytes, sizeof bytes, &got), FT_IO_ERROR);
    EXPECT_EQ(got, 0u);
    EXPECT_LE(sim::virtualClock().nowMicros(), 1001 * ms);
}

TEST_F(D2xxSim, TheDeviceLogRecordsTheLinkTraffic) {
    FILE* log = std::tmpfile();
    Scenario scenario;
    scenario.deviceLog = log;
    start(scenario);
    FT_HANDLE handle = open("SIM00001");
    sim::setVirtualMicros(2 * ms);
    write(handle, querySequence().commands[5]);
    FT_Close(handle);
    std::rewind(log);
    char line[64];
    ASSERT_NE(std::fgets(line, sizeof line, log), nullptr);
    EXPECT_STREQ(line, "2.000 > M07\n");
    ASSERT_NE(std::fgets(line, sizeof line, log), nullptr);
    EXPECT_STREQ(line, "2.000 < M07=0000\n");
    std::fclose(log);
}

}  // namespace
