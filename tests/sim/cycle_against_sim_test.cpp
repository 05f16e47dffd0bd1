// The program's measurement cycle against the simulated counter, tick by tick on the
// virtual clock: what it shows is checked against the true input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "core/cycle.h"
#include "device/connection.h"
#include "sim/d2xx_sim.h"
#include "testing/program_run.h"
#include "tests/sim/read_back.h"

// The cycle's states and phases by their bare names.
using enum CycleState;
using enum RangePhase;

namespace {

using program_run::dashes;
using program_run::labelBytes;

// One evaluation as drawn: the count and divider lines, then the period line.
struct Reading {
    long periodCount;
    long divider;
    std::string period;
};

class CycleAgainstSim : public testing::Test {
protected:
    void start(const sim::Scenario& scenario) {
        program_run::start(scenario);
        ASSERT_NE(deviceConnection.deviceHandle, nullptr);
        ASSERT_EQ(measurementState.cycleState, Configure);
    }

    void TearDown() override { closeDevice(); }

    static void runUntil(double seconds) {
        program_run::runUntil(static_cast<uint64_t>(seconds * 1e6));
    }

    // Evaluations whose period line showed a number.
    static std::vector<Reading> shownReadings() {
        std::vector<Reading> readings;
        long count = -1;
        long divider = -1;
        for (const DrawnText& text : program_run::drawn()) {
            if (text.x == 10 && text.y == 5) {
                count = std::strtol(text.bytes.c_str() + labelBytes, nullptr, 10);
            } else if (text.x == 10 && text.y == 55) {
                divider = std::strtol(text.bytes.c_str() + labelBytes, nullptr, 10);
            } else if (text.x == 0 && text.y == 150 && text.bytes != dashes && divider > 0) {
                readings.push_back({count, divider, text.bytes});
            }
        }
        return readings;
    }
};

struct Input {
    double hz;
    double seconds;  // enough for ranging, settling and several shown readings
};

std::ostream& operator<<(std::ostream& out, const Input& input) {
    return out << input.hz << " Hz for " << input.seconds << " s";
}

class ShownPeriod : public CycleAgainstSim, public testing::WithParamInterface<Input> {};

TEST_P(ShownPeriod, IsWithinOneTickOfTheTruth) {
    const Input input = GetParam();
    sim::Scenario scenario;
    scenario.frequencyHz = input.hz;
    start(scenario);
    runUntil(input.seconds);

    const double truth = 1e6 / input.hz;
    const std::vector<Reading> readings = shownReadings();
    ASSERT_GE(readings.size(), 2u) << "no settled reading was shown";
    for (const Reading& r : readings) {
        // The count spans N input periods, to one tick of the 1 MHz clock.
        EXPECT_NEAR(r.periodCount, truth * r.divider, 1.0) << "divider " << r.divider;
        // The period line shows count / N with its trailing digits masked by "_".
        std::string digits = r.period;
        const long masked = std::count(digits.begin(), digits.end(), '_');
        std::replace(digits.begin(), digits.end(), '_', '0');
        const double shown = std::strtod(digits.c_str(), nullptr);
        const double exact = static_cast<double>(r.periodCount) / r.divider;
        EXPECT_NEAR(shown, exact, std::pow(10.0, masked - 6.0) + 1e-6) << r.period;
        EXPECT_NEAR(exact, truth, 1.0 / r.divider);
    }
    // Auto-ranging kept the gate within its band.
    const double gate = truth * readings.back().divider;
    EXPECT_TRUE(gate >= 120000 || readings.back().divider == 4) << gate;
}

INSTANTIATE_TEST_SUITE_P(Inputs, ShownPeriod,
                         testing::Values(Input{1234.5, 20}, Input{567.8, 20}, Input{23.4, 20},
                                         Input{45678.9, 20}, Input{700000, 20}, Input{2.5, 60}),
                         [](const testing::TestParamInfo<Input>& info) {
                             return "Hz" + std::to_string(static_cast<long>(info.param.hz));
                         });

// Something that goes wrong for good at 10 s: the input stops, or the counter fails.
struct Trouble {
    const char* name;
    void (*arrange)(sim::Scenario&);
};

std::ostream& operator<<(std::ostream& out, const Trouble& trouble) {
    return out << trouble.name;
}

template <sim::FaultKind kind>
void faultFrom10s(sim::Scenario& scenario) {
    scenario.faults[0] = {kind, 10.0, -1.0};
    scenario.faultCount = 1;
}

class Troubled : public CycleAgainstSim, public testing::WithParamInterface<Trouble> {};

// Whatever goes wrong, the reading given before does not stay on screen looking current.
TEST_P(Troubled, BlanksThePeriod) {
    sim::Scenario scenario;
    scenario.frequencyHz = 1234.5;
    GetParam().arrange(scenario);
    start(scenario);
    runUntil(10);
    ASSERT_FALSE(shownReadings().empty());
    EXPECT_NE(program_run::lastAt(0, 150), dashes);
    runUntil(20);
    if (std::string(GetParam().name) == "Unplugged") {
        // Gone with its handle: the window erased, the no-device text alone.
        EXPECT_EQ(program_run::lastAt(0, 150), "");
        EXPECT_EQ(fake::utf8(program_run::lastAt(10, 10)), "接続デバイスなし     ");
    } else {
        EXPECT_EQ(program_run::lastAt(0, 150), dashes);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Troubles, Troubled,
    testing::Values(Trouble{"InputStops",
                            [](sim::Scenario& scenario) { scenario.stopAtSeconds = 10; }},
                    Trouble{"Unplugged", faultFrom10s<sim::FaultKind::Unplugged>},
                    Trouble{"Silent", faultFrom10s<sim::FaultKind::Silent>},
                    Trouble{"MalformedFields", faultFrom10s<sim::FaultKind::MalformedFields>},
                    Trouble{"StrayBytes", faultFrom10s<sim::FaultKind::StrayBytes>},
                    Trouble{"ShortFrame", faultFrom10s<sim::FaultKind::ShortFrame>},
                    Trouble{"EndlessStream", faultFrom10s<sim::FaultKind::EndlessStream>}),
    [](const testing::TestParamInfo<Trouble>& info) { return info.param.name; });

TEST_F(CycleAgainstSim, AnEndlessStreamDoesNotHoldTheCycle) {
    sim::Scenario scenario;
    scenario.frequencyHz = 1234.5;
    scenario.faults[0] = {sim::FaultKind::EndlessStream, 0.0, 2.0};
    scenario.faultCount = 1;
    start(scenario);
    // Every step returns; once the stream ends the program measures again.
    runUntil(25);
    const std::vector<Reading> readings = shownReadings();
    ASSERT_FALSE(readings.empty());
    EXPECT_NEAR(readings.back().periodCount, 1e6 / 1234.5 * readings.back().divider, 1.0);
}

TEST_F(CycleAgainstSim, TheSameScenarioGivesTheSameDeviceLog) {
    auto logOfARun = [this] {
        FILE* log = std::tmpfile();
        sim::Scenario scenario;
        scenario.frequencyHz = 45678.9;
        scenario.jitterPpm = 100;
        scenario.seed = 42;
        scenario.faults[0] = {sim::FaultKind::StrayBytes, 3.0, 3.5};
        scenario.faultCount = 1;
        scenario.deviceLog = log;
        start(scenario);
        runUntil(10);
        closeDevice();
        const std::string text = readBack(log);
        std::fclose(log);
        return text;
    };
    const std::string first = logOfARun();
    EXPECT_GT(first.size(), 1000u);
    EXPECT_EQ(logOfARun(), first);
}

TEST_F(CycleAgainstSim, TheDeviceReceivesTheProgramsCommands) {
    sim::Scenario scenario;
    scenario.frequencyHz = 1234.5;
    start(scenario);
    runUntil(0.5);
    const std::vector<std::string>& commands = sim::simDevice(0)->receivedCommands();
    ASSERT_GE(commands.size(), 9u + 6u);
    // The start-up configuration carries the initial ratio, 8000000.
    EXPECT_EQ(commands[1], "M02008ff");
    EXPECT_EQ(commands[2], "M030003d");
    EXPECT_EQ(commands[8], "M008");
    EXPECT_EQ(commands[9], "M00");
    EXPECT_EQ(commands[14], "M07");
}

}  // namespace
