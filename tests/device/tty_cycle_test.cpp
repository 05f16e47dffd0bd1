// The whole program's device side over a real tty: the connection finds the simulated
// counter served on a pseudo-terminal, and the measurement cycle runs against it in
// real time, one step per tick.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/measurement.h"
#include "core/cycle.h"
#include "device/connection.h"
#include "platform/linux/tty/d2xx_tty.h"
#include "sim/counter_device.h"
#include "tests/device/pty_server.h"
#include "testing/fake_platform.h"

// The cycle's states and phases by their bare names.
using enum CycleState;
using enum RangePhase;

namespace {

// The simulated counter as the pseudo-terminal server drives it.
class SimulatedCounter : public pty_server::Device {
public:
    explicit SimulatedCounter(const sim::Scenario& scenario) : device(scenario) {}
    void receive(const char* bytes, size_t n, uint64_t nowMicros) override {
        device.receive(bytes, n, nowMicros);
    }
    size_t readableBytes(uint64_t nowMicros) override { return device.readableBytes(nowMicros); }
    size_t read(char* out, size_t max, uint64_t nowMicros) override {
        return device.read(out, max, nowMicros);
    }
    bool unplugged(uint64_t nowMicros) const override { return device.unplugged(nowMicros); }

    sim::CounterDevice device;
};

// The number in the count and divider lines follows a 7-byte label.
constexpr size_t labelBytes = 7;
const std::string dashes = "  ------------  ";

HWND window() {
    return fake::testWindow();
}

std::vector<tty::PortEntry> listedPorts;
std::vector<tty::PortEntry> listTestPorts() {
    return listedPorts;
}

struct Reading {
    long periodCount;
    long divider;
};

class CycleOverTty : public testing::Test {
protected:
    void start(const sim::Scenario& scenario, double baud = 0) {
        counter = std::make_unique<SimulatedCounter>(scenario);
        server = std::make_unique<pty_server::Server>(*counter, baud);
        listedPorts = {{server->portName(), "SIM00001"}};
        tty::setPortLister(listTestPorts);
        fake::reset();
        searchAtStart();
        ASSERT_NE(deviceConnection.deviceHandle, nullptr);
        ASSERT_EQ(measurementState.cycleState, Configure);
        next = std::chrono::steady_clock::now();
    }

    void TearDown() override {
        closeDevice();
        resetDeviceConnection();
        server.reset();
        tty::setPortLister(nullptr);
    }

    // One cycle step per tick of the 50 ms timer, on the wall clock. Ticks missed while
    // a step took long are not made up for, as a window's timer does not.
    void runFor(std::chrono::milliseconds span) {
        const auto end = std::chrono::steady_clock::now() + span;
        while (next < end) {
            std::this_thread::sleep_until(next);
            runMeasurementStep(window());
            next = std::max(next + std::chrono::milliseconds(cycleTickMs),
                            std::chrono::steady_clock::now());
        }
    }

    // What the period line shows last, or "" when it was never drawn.
    static std::string lastPeriodLine() { return fake::textAt(0, 150); }

    // Evaluations whose period line showed a number.
    static std::vector<Reading> shownReadings() {
        std::vector<Reading> readings;
        long count = -1;
        long divider = -1;
        for (const fake::Drawn& text : fake::state.drawn) {
            if (text.x == 10 && text.y == 5) {
                count = std::strtol(text.bytes.c_str() + labelBytes, nullptr, 10);
            } else if (text.x == 10 && text.y == 55) {
                divider = std::strtol(text.bytes.c_str() + labelBytes, nullptr, 10);
            } else if (text.x == 0 && text.y == 150 && text.bytes != dashes && divider > 0) {
                readings.push_back({count, divider});
            }
        }
        return readings;
    }

    std::unique_ptr<SimulatedCounter> counter;
    std::unique_ptr<pty_server::Server> server;
    std::chrono::steady_clock::time_point next;
};

TEST_F(CycleOverTty, MeasuresThePeriodToWithinOneTick) {
    sim::Scenario scenario;
    scenario.frequencyHz = 5000.0;
    start(scenario);
    runFor(std::chrono::milliseconds(5000));

    // About 500 edges between the two range samples choose N = 1000 (0.2 s gates), so
    // a few settled readings are shown; each count spans N periods to one 1 MHz tick.
    const double truth = 1e6 / scenario.frequencyHz;
    const std::vector<Reading> readings = shownReadings();
    ASSERT_GE(readings.size(), 2u) << "no settled reading was shown";
    for (const Reading& r : readings) {
        EXPECT_NEAR(r.periodCount, truth * r.divider, 1.0) << "divider " << r.divider;
    }
    std::vector<std::string> commands;
    server->withDevice([&](pty_server::Device&) { commands = counter->device.receivedCommands(); });
    ASSERT_GE(commands.size(), 9u);
    EXPECT_EQ(commands[1], "M02008ff");
}

// At 9600 baud a frame takes 56 ms to arrive, more than one tick: the measurement still
// settles on its first range and shows true readings.
TEST_F(CycleOverTty, MeasuresOverA9600BaudLine) {
    sim::Scenario scenario;
    scenario.frequencyHz = 1000.0;
    start(scenario, 9600);
    runFor(std::chrono::milliseconds(5000));

    const double truth = 1e6 / scenario.frequencyHz;
    const std::vector<Reading> readings = shownReadings();
    ASSERT_GE(readings.size(), 1u) << "no settled reading was shown";
    for (const Reading& r : readings) {
        EXPECT_NEAR(r.periodCount, truth * r.divider, 1.0) << "divider " << r.divider;
    }
    std::vector<std::string> commands;
    server->withDevice([&](pty_server::Device&) { commands = counter->device.receivedCommands(); });
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "M008"), 2)
        << "configured again after the first range";
}

pty_server::Server* currentServer = nullptr;
std::vector<tty::PortEntry> listCurrentPort() {
    const std::string name = currentServer->portName();
    if (name.empty()) {
        return {};
    }
    return {{name, "SIM00001"}};
}

// Pulled out for a second: the program drops the dead port, shows that no counter is
// connected, watches, and takes the counter back under its new name; readings resume.
TEST_F(CycleOverTty, AnUnpluggedCounterIsDroppedAndTakenBackUnderItsNewName) {
    sim::Scenario scenario;
    scenario.frequencyHz = 5000.0;
    scenario.faults[0] = {sim::FaultKind::Unplugged, 1.5, 2.5};
    scenario.faultCount = 1;
    start(scenario);
    currentServer = server.get();
    tty::setPortLister(listCurrentPort);
    const std::string firstName = server->portName();

    // Timer 1 and the watch as the window's timers would fire them, on the wall clock.
    bool sawNoDevice = false;
    size_t lostAt = 0;
    auto cycleRunning = [] {
        for (auto it = fake::state.timers.rbegin(); it != fake::state.timers.rend(); ++it) {
            if (it->id == cycleTimerId) {
                return it->set;
            }
        }
        return true;
    };
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(8000);
    auto nextWatch = next;
    while (next < end) {
        std::this_thread::sleep_until(next);
        if (cycleRunning()) {
            runMeasurementStep(fake::testWindow());
        }
        if (deviceConnection.deviceHandle == nullptr && !sawNoDevice) {
            sawNoDevice = true;
            lostAt = fake::state.drawn.size();
            EXPECT_EQ(measurementState.cycleState, NoDevice);
            EXPECT_EQ(fake::utf8(fake::textAt(10, 10)), "接続デバイスなし     ");
            EXPECT_EQ(fake::textAt(0, 150), "");
            EXPECT_EQ(fake::textAt(10, 5), "");
            nextWatch = next;
        }
        if (deviceConnection.deviceHandle == nullptr && next >= nextWatch) {
            lookForDevice(fake::testWindow());
            nextWatch += std::chrono::milliseconds(watchPeriodMs);
        }
        next += std::chrono::milliseconds(cycleTickMs);
    }
    ASSERT_TRUE(sawNoDevice) << "the loss was not noticed";
    ASSERT_NE(deviceConnection.deviceHandle, nullptr) << "the counter was not taken back";
    EXPECT_NE(server->portName(), firstName);
    // Readings after the return, each within a tick of the truth.
    std::vector<Reading> after;
    long count = -1;
    long divider = -1;
    for (size_t i = lostAt; i < fake::state.drawn.size(); ++i) {
        const fake::Drawn& text = fake::state.drawn[i];
        if (text.x == 10 && text.y == 5) {
            count = std::strtol(text.bytes.c_str() + labelBytes, nullptr, 10);
        } else if (text.x == 10 && text.y == 55) {
            divider = std::strtol(text.bytes.c_str() + labelBytes, nullptr, 10);
        } else if (text.x == 0 && text.y == 150 && text.bytes != dashes && divider > 0) {
            after.push_back({count, divider});
        }
    }
    ASSERT_FALSE(after.empty()) << "no reading after the return";
    for (const Reading& r : after) {
        EXPECT_NEAR(r.periodCount, 1e6 / scenario.frequencyHz * r.divider, 1.0);
    }
    currentServer = nullptr;
}

TEST_F(CycleOverTty, ACounterThatStopsTakingBytesNeverHangsTheCycle) {
    sim::Scenario scenario;
    scenario.frequencyHz = 5000.0;
    start(scenario);
    runFor(std::chrono::milliseconds(3000));
    ASSERT_FALSE(shownReadings().empty());

    // The counter stops reading; its buffer fills up, so writes to the port wait.
    server->stopReading(true);
    const int port = server->portDescriptor();
    fcntl(port, F_SETFL, fcntl(port, F_GETFL) | O_NONBLOCK);
    const std::string filler(4096, '\n');
    // The kernel moves bytes on between its buffers a little later: fill until the
    // port stays full.
    for (int round = 0; round < 100; ++round) {
        for (size_t size = filler.size(); size > 0; size /= 2) {
            while (write(port, filler.data(), size) > 0) {
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (write(port, filler.data(), 1) < 0) {
            break;
        }
    }
    char query[] = "M00\r";
    DWORD written = 99;
    EXPECT_EQ(FT_Write(deviceConnection.deviceHandle, query, 4, &written), FT_OK);
    EXPECT_EQ(written, 0u) << "a write the counter does not take ends at its time-out";

    // Every step returns; the reading, no longer current, turns to dashes.
    runFor(std::chrono::milliseconds(3000));
    EXPECT_EQ(lastPeriodLine(), dashes);

    // The counter reads again (the line feeds it finds are nothing to it): the
    // measurement comes back by itself.
    server->stopReading(false);
    const size_t readingsBefore = shownReadings().size();
    runFor(std::chrono::milliseconds(4000));
    EXPECT_GT(shownReadings().size(), readingsBefore);
    EXPECT_NE(lastPeriodLine(), dashes);
}

TEST_F(CycleOverTty, OfTwoCountersTheFirstPortByNameIsOpened) {
    sim::Scenario scenario;
    start(scenario);
    closeDevice();
    SimulatedCounter other(scenario);
    pty_server::Server otherServer(other);
    // Listed last name first: the order is the backend's to set.
    listedPorts = {{server->portName(), "SIM00001"}, {otherServer.portName(), "SIM00002"}};
    std::sort(listedPorts.begin(), listedPorts.end(),
              [](const auto& a, const auto& b) { return a.name > b.name; });
    tty::setPortLister(listTestPorts);

    resetDeviceConnection();
    searchAtStart();
    ASSERT_NE(deviceConnection.deviceHandle, nullptr);
    EXPECT_EQ(deviceConnection.deviceCount, 2u);
    char query[] = "M07\r";
    DWORD written = 0;
    ASSERT_EQ(FT_Write(deviceConnection.deviceHandle, query, 4, &written), FT_OK);

    const bool oursFirst = server->portName() < otherServer.portName();
    pty_server::Server& first = oursFirst ? *server : otherServer;
    sim::CounterDevice& firstDevice = oursFirst ? counter->device : other.device;
    std::vector<std::string> taken;
    for (int wait = 0; wait < 1000 && taken.empty(); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        first.withDevice([&](pty_server::Device&) { taken = firstDevice.receivedCommands(); });
    }
    EXPECT_EQ(taken, std::vector<std::string>{"M07"});
    pty_server::Server& second = oursFirst ? otherServer : *server;
    sim::CounterDevice& secondDevice = oursFirst ? other.device : counter->device;
    second.withDevice([&](pty_server::Device&) { taken = secondDevice.receivedCommands(); });
    EXPECT_TRUE(taken.empty());
    closeDevice();
}

// Sends a query through the open handle and reports which of the counters took it.
std::vector<std::string> takenBy(pty_server::Server& server, sim::CounterDevice& device) {
    std::vector<std::string> taken;
    for (int wait = 0; wait < 1000 && taken.empty(); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        server.withDevice([&](pty_server::Device&) { taken = device.receivedCommands(); });
    }
    return taken;
}

TEST_F(CycleOverTty, TheCounterAskedForIsOpenedBySerialNumberOrByPort) {
    sim::Scenario scenario;
    start(scenario);
    closeDevice();
    struct Choice {
        const char* serial;  // nullptr: by port
        bool second;
    };
    for (const Choice& choice : {Choice{"SIM00001", false}, Choice{"SIM00002", true},
                                 Choice{nullptr, false}, Choice{nullptr, true}}) {
        SimulatedCounter first(scenario);
        SimulatedCounter second(scenario);
        pty_server::Server firstServer(first);
        pty_server::Server secondServer(second);
        listedPorts = {{firstServer.portName(), "SIM00001"}, {secondServer.portName(), "SIM00002"}};
        pty_server::Server& chosen = choice.second ? secondServer : firstServer;
        if (choice.serial != nullptr) {
            tty::setPortLister(listTestPorts);
        } else {
            tty::usePort(chosen.portName());
        }
        resetDeviceConnection(choice.serial);
        searchAtStart();
        ASSERT_NE(deviceConnection.deviceHandle, nullptr)
            << (choice.serial != nullptr ? choice.serial : chosen.portName());
        char query[] = "M07\r";
        DWORD written = 0;
        ASSERT_EQ(FT_Write(deviceConnection.deviceHandle, query, 4, &written), FT_OK);
        sim::CounterDevice& chosenDevice = choice.second ? second.device : first.device;
        sim::CounterDevice& otherDevice = choice.second ? first.device : second.device;
        pty_server::Server& otherOne = choice.second ? firstServer : secondServer;
        EXPECT_EQ(takenBy(chosen, chosenDevice), std::vector<std::string>{"M07"});
        std::vector<std::string> taken;
        otherOne.withDevice([&](pty_server::Device&) { taken = otherDevice.receivedCommands(); });
        EXPECT_TRUE(taken.empty());
        closeDevice();
        tty::usePort("");
    }
}

TEST_F(CycleOverTty, ACounterAskedForThatIsNotThereIsWaitedFor) {
    sim::Scenario scenario;
    start(scenario);
    closeDevice();
    SimulatedCounter wanted(scenario);
    pty_server::Server wantedServer(wanted);
    // Another counter is attached, but it is not the one asked for: nothing is opened.
    listedPorts = {{server->portName(), "SIM00001"}};
    tty::setPortLister(listTestPorts);
    resetDeviceConnection("SIM00002");
    searchAtStart();
    EXPECT_EQ(deviceConnection.deviceHandle, nullptr);
    EXPECT_FALSE(watchForDevice(window()));
    EXPECT_EQ(deviceConnection.deviceHandle, nullptr);

    // Plugged in: the watch's next look opens it, and only it.
    listedPorts.push_back({wantedServer.portName(), "SIM00002"});
    tty::setPortLister(listTestPorts);
    ASSERT_TRUE(watchForDevice(window()));
    char query[] = "M07\r";
    DWORD written = 0;
    ASSERT_EQ(FT_Write(deviceConnection.deviceHandle, query, 4, &written), FT_OK);
    EXPECT_EQ(takenBy(wantedServer, wanted.device), std::vector<std::string>{"M07"});
    closeDevice();
}

TEST_F(CycleOverTty, APortAskedForThatIsMissingIsWaitedFor) {
    sim::Scenario scenario;
    start(scenario);
    closeDevice();
    tty::usePort("/dev/pulsemeter-no-such-port");
    resetDeviceConnection();
    searchAtStart();
    EXPECT_EQ(deviceConnection.deviceHandle, nullptr);
    EXPECT_FALSE(watchForDevice(window()));
    tty::usePort("");
}

}  // namespace
